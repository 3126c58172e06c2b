#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <array>

// The telnet layer of an RFC 2217 link, without any I/O: it takes what the server sent and gives
// back the line's data, the answers the option negotiation needs and the subnegotiations that
// arrived, and it escapes what goes out. Its state carries over from one call to the next, so a
// command split across any number of reads is understood as if it had come whole.
//
// Options are negotiated by the Q method of RFC 1143, which cannot loop: BINARY, SUPPRESS-GO-AHEAD
// and COM-PORT-OPTION are accepted both ways, every other option is refused, and a refusal of
// something never agreed is not answered.
class TelnetCodec
{
public:
    // Commands of RFC 854, and the options this link speaks.
    enum Command : quint8 {
        Se = 240,
        Sb = 250,
        Will = 251,
        Wont = 252,
        Do = 253,
        Dont = 254,
        Iac = 255,
    };
    enum Option : quint8 {
        OptionBinary = 0,
        OptionEcho = 1,
        OptionSuppressGoAhead = 3,
        OptionComPort = 44,
    };
    // Where one side of an option stands: agreed off, agreed on, or asked and not yet answered.
    enum class Agreement { No, Yes, Asking };

    struct Subnegotiation
    {
        quint8 option = 0;
        QByteArray payload; // unescaped, without IAC SB option ... IAC SE
    };

    // What decode() found; each call appends to it.
    struct Decoded
    {
        QByteArray data;
        QByteArray replies;
        QList<Subnegotiation> subnegotiations;
        // Subnegotiations that ran past SubnegotiationCut without IAC SE.
        int cutSubnegotiations = 0;
    };

    // A subnegotiation longer than this is dropped whole (RFC 2217 ones are a few bytes; a
    // server's signature text fits easily).
    static constexpr qsizetype MaxSubnegotiation = 1024;
    // A subnegotiation still open after this many bytes is given up, and what follows is data.
    static constexpr qint64 SubnegotiationCut = 64 * 1024;

    // The offers a client opens with: BINARY and SUPPRESS-GO-AHEAD both ways, and
    // COM-PORT-OPTION from our side, which is how RFC 2217 asks the server for it.
    QByteArray start();
    void decode(QByteArrayView bytes, Decoded &out);

    // Our side of an option (we WILL), and the server's (it WILL).
    Agreement local(quint8 option) const;
    Agreement remote(quint8 option) const;

    // Data with every 0xFF doubled.
    static QByteArray escape(QByteArrayView data);
    static void appendEscaped(QByteArray &out, QByteArrayView data);
    // IAC SB option payload IAC SE, with the payload escaped.
    static QByteArray subnegotiation(quint8 option, QByteArrayView payload);

private:
    // RFC 1143: WANTNO and WANTYES carry a queued request for the opposite.
    enum class Q : quint8 { No, Yes, WantNo, WantYes };
    struct OptionState
    {
        Q us = Q::No;
        Q him = Q::No;
        bool usOpposite = false;
        bool himOpposite = false;
    };
    enum class State : quint8 { Data, Command, Verb, SubOption, Sub, SubIac };

    static bool accepts(quint8 option);
    static Agreement agreement(Q q);
    void ask(QByteArray &out, quint8 verb, quint8 option);
    void negotiate(quint8 verb, quint8 option, QByteArray &replies);

    std::array<OptionState, 256> m_options{};
    State m_state = State::Data;
    quint8 m_verb = 0;
    quint8 m_subOption = 0;
    bool m_subOverflow = false;
    qint64 m_subLength = 0;
    QByteArray m_subPayload;
};
