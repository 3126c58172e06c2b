#pragma once

#include "port/telnetcodec.h"

#include <QByteArray>
#include <QString>

// The RFC 2217 side of a network link, without any I/O: it takes what the server sent and gives
// back the device's data, the bytes to send to the server and what the link must act on (open,
// fail, modem lines changed, a subnegotiation cut off). Negotiation goes in three steps: the
// telnet options are offered, the line settings follow once the server takes COM-PORT-OPTION,
// and the link is open when the server has answered every setting as asked.
class Rfc2217Session
{
public:
    enum class Parity { None, Odd, Even, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    // The far serial port's settings, sent at open and whenever they change.
    struct LineParameters
    {
        quint32 speed = 9600;
        int dataBits = 8; // 5 to 8
        Parity parity = Parity::None;
        StopBits stopBits = StopBits::One;
        int handshaking = 0; // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both
        bool dtr = true;
        bool rts = true;

        friend bool operator==(const LineParameters &, const LineParameters &) = default;
    };

    enum class State { Negotiating, Open, Failed };

    // What one call found; each call appends to it.
    struct Output
    {
        QByteArray data;
        QByteArray wire;
        bool opened = false;
        bool modemLinesChanged = false;
        // Set once a subnegotiation has been cut off, the first time only.
        bool subnegotiationCut = false;
    };

    // What a server may send before the negotiation is over: a server that sends more is no
    // RFC 2217 server (a text stream reached by mistake), and the open fails.
    static constexpr qsizetype EarlyLimit = 64 * 1024;

    // where names the server in messages.
    Rfc2217Session(const QString &where, const LineParameters &line);

    // The offers a client opens with.
    QByteArray start() { return m_codec.start(); }
    void receive(QByteArrayView bytes, Output &out);

    State state() const { return m_state; }
    // Why the open failed, ready to show; empty unless state() is Failed.
    QString failure() const { return m_failure; }
    // The message for a server that hung up while the open waited: its last words, if any.
    QString hungUpWhileOpening() const;
    // The message for an open that ran out of time, which names what it waited for.
    QString openTimedOut(int seconds) const;

    // New settings for the far port; returns what to send now (nothing while the settings
    // themselves still wait for the server's answers).
    QByteArray setLineParameters(const LineParameters &line);
    LineParameters lineParameters() const { return m_line; }
    // SET-CONTROL break on or off, to send as it is.
    QByteArray breakCommand(bool on) const;

    bool cd() const;
    bool cts() const;
    bool dsr() const;

private:
    // Line settings the server has yet to confirm after they were sent at open.
    enum Awaiting {
        AwaitBaud = 1,
        AwaitDataSize = 2,
        AwaitParity = 4,
        AwaitStopSize = 8,
        AwaitFlow = 16,
    };

    void handleComPort(const QByteArray &payload, Output &out);
    // Notes the server's answer to one awaited setting; refusal is empty when it agrees.
    void confirm(int setting, const QString &refusal);
    void advance(Output &out);
    void fail(const QString &cause);

    void appendComPort(QByteArray &wire, quint8 command, QByteArrayView payload) const;
    void appendLineSettings(QByteArray &wire);
    void appendDtr(QByteArray &wire) const;
    void appendRts(QByteArray &wire) const;

    QString m_where;
    LineParameters m_line;
    State m_state = State::Negotiating;
    QString m_failure;
    TelnetCodec m_codec;
    bool m_settingsSent = false;
    // The line settings last sent, which the server's answers are checked against.
    LineParameters m_asked;
    bool m_lineChangedWhileOpening = false;
    int m_awaiting = 0;
    QString m_refused;
    // Data that came while the link was still being set up, delivered once it is open.
    QByteArray m_early;
    quint8 m_modemState = 0;
    bool m_cutReported = false;
};
