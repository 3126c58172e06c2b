#include "port/telnetcodec.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;
constexpr int NOP = 241, DM = 242, GA = 249;
constexpr int BINARY = 0, ECHO = 1, SGA = 3, TTYPE = 24, NAWS = 31, COMPORT = 44;

// What the codec made of a stream, in a form that compares and prints in one piece.
struct Result
{
    QByteArray data;
    QByteArray replies;
    QByteArray subnegotiations; // "option:payload-hex" per subnegotiation, separated by '|'
    TelnetCodec::Agreement comPort = TelnetCodec::Agreement::No;

    friend bool operator==(const Result &, const Result &) = default;
};

void PrintTo(const Result &r, std::ostream *os)
{
    *os << "data ";
    ::PrintTo(r.data, os);
    *os << " replies ";
    ::PrintTo(r.replies, os);
    *os << " subnegotiations \"" << r.subnegotiations.toStdString() << "\" comPort "
        << int(r.comPort);
}

Result decodeInPieces(bool started, const QByteArray &stream, const std::vector<qsizetype> &cuts)
{
    TelnetCodec codec;
    if (started)
        (void)codec.start();
    TelnetCodec::Decoded decoded;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        codec.decode(QByteArrayView(stream).sliced(from, cut - from), decoded);
        from = cut;
    }
    codec.decode(QByteArrayView(stream).sliced(from), decoded);

    Result r;
    r.data = decoded.data;
    r.replies = decoded.replies;
    for (const TelnetCodec::Subnegotiation &s : std::as_const(decoded.subnegotiations)) {
        if (!r.subnegotiations.isEmpty())
            r.subnegotiations += '|';
        r.subnegotiations += QByteArray::number(s.option) + ':' + s.payload.toHex();
    }
    r.comPort = codec.local(COMPORT);
    return r;
}

} // namespace

// Every row is decoded whole, byte by byte, and cut at every one and every pair of places: a
// parser whose state does not survive a split across TCP segments fails one of them.
TEST(TelnetCodec, DecodesTheSameHoweverTheStreamIsSplit)
{
    using A = TelnetCodec::Agreement;
    QByteArray overlong = bytes({IAC, SB, COMPORT, 100});
    overlong += QByteArray(TelnetCodec::MaxSubnegotiation + 10, 'a');
    overlong += bytes({IAC, SE}) + "after";

    struct Case
    {
        bool started; // start() was called first, so our offers are out
        QByteArray stream;
        Result expected;
        const char *guards;
    };
    const Case cases[] = {
            {false, "hello", {"hello", "", "", A::No}, "plain data passes unchanged"},
            {false,
             bytes({'A', IAC, IAC, IAC, IAC, 'B', IAC, IAC}),
             {bytes({'A', 0xFF, 0xFF, 'B', 0xFF}), "", "", A::No},
             "doubled 0xFF is one data byte, also twice in a row and at the end"},
            {false,
             bytes({IAC,  WILL, SGA, IAC,    DO,  SGA,  IAC,    WILL, ECHO, IAC,    DONT,
                    ECHO, IAC,  DO,  BINARY, IAC, WILL, BINARY, IAC,  DO,   COMPORT}),
             {"",
              bytes({IAC, DO, SGA, IAC, WILL, SGA, IAC, DONT, ECHO, IAC, WILL, BINARY, IAC, DO,
                     BINARY, IAC, WILL, COMPORT}),
              "", A::Yes},
             "ser2net's opening offers: ours accepted, echo refused, its refusal of echo "
             "unanswered"},
            {true,
             bytes({IAC, DO, BINARY, IAC, WILL, BINARY, IAC, DO, SGA, IAC, WILL, SGA, IAC, DO,
                    COMPORT}),
             {"", "", "", A::Yes},
             "answers to our own offers are not answered again"},
            {true,
             bytes({IAC, DONT, COMPORT}),
             {"", "", "", A::No},
             "a server without COM-PORT-OPTION refuses it, and the refusal ends the exchange"},
            {true,
             bytes({IAC, WILL, SGA}),
             {"", "", "", A::Asking},
             "COM-PORT-OPTION offered and not yet answered"},
            {false,
             bytes({IAC, DO, TTYPE, IAC, WILL, ECHO, IAC, WONT, NAWS, IAC, DONT, NAWS}),
             {"", bytes({IAC, WONT, TTYPE, IAC, DONT, ECHO}), "", A::No},
             "unknown options refused once; refusals of what was never agreed not answered"},
            {false,
             bytes({IAC, WILL, BINARY, IAC, WILL, BINARY, IAC, DO, TTYPE, IAC, DO, TTYPE}),
             {"", bytes({IAC, DO, BINARY, IAC, WONT, TTYPE, IAC, WONT, TTYPE}), "", A::No},
             "a repeated offer of an agreed option draws nothing, so no loop can start"},
            {false,
             bytes({IAC, WILL, SGA, IAC, WONT, SGA}),
             {"", bytes({IAC, DO, SGA, IAC, DONT, SGA}), "", A::No},
             "an agreed option withdrawn is acknowledged"},
            {false,
             bytes({IAC, SB, COMPORT, 101, 0, 0, IAC, IAC, IAC, IAC, IAC, SE, 'x'}),
             {"x", "", "44:650000ffff", A::No},
             "doubled 0xFF inside a subnegotiation (ser2net's answer to 65535 bit/s)"},
            {false,
             bytes({IAC, SB, COMPORT, 107, 0xB0, IAC, SE, IAC, SB, COMPORT, 100, 's', '2', 'n', IAC,
                    SE}),
             {"", "", "44:6bb0|44:6473326e", A::No},
             "two subnegotiations back to back"},
            {false,
             bytes({'a', IAC, NOP, 'b', IAC, DM, 'c', IAC, GA, IAC, SE, 'd'}),
             {"abcd", "", "", A::No},
             "commands amid the data vanish, a stray SE too"},
            {false,
             bytes({IAC, SB, COMPORT, 107, 0x80, IAC, WILL, SGA, 'z'}),
             {"z", bytes({IAC, DO, SGA}), "", A::No},
             "a subnegotiation that lost its IAC SE ends at the next command, which counts"},
            {false,
             overlong,
             {"after", "", "", A::No},
             "an overlong subnegotiation is dropped whole and the data after it kept"},
    };

    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        const qsizetype n = c.stream.size();
        EXPECT_EQ(decodeInPieces(c.started, c.stream, {}), c.expected);

        std::vector<qsizetype> everyByte;
        for (qsizetype i = 1; i < n; ++i)
            everyByte.push_back(i);
        EXPECT_EQ(decodeInPieces(c.started, c.stream, everyByte), c.expected) << "byte by byte";

        for (qsizetype i = 1; i < n; ++i) {
            const Result once = decodeInPieces(c.started, c.stream, {i});
            ASSERT_EQ(once, c.expected) << "cut at " << i;
            // Two cuts grow with the square of the length; the long row's edges are covered by
            // the single cuts.
            if (n > 64)
                continue;
            for (qsizetype j = i + 1; j < n; ++j)
                ASSERT_EQ(decodeInPieces(c.started, c.stream, {i, j}), c.expected)
                        << "cut at " << i << " and " << j;
        }
    }
}

TEST(TelnetCodec, EscapingRoundTripsEveryByteValue)
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    all += bytes({0xFF, 0xFF, 0xFF});

    const QByteArray wire = TelnetCodec::escape(all);
    EXPECT_EQ(wire.size(), all.size() + 4) << "each 0xFF doubled, nothing else touched";
    TelnetCodec codec;
    TelnetCodec::Decoded decoded;
    codec.decode(wire, decoded);
    EXPECT_EQ(decoded.data, all);

    EXPECT_EQ(TelnetCodec::subnegotiation(COMPORT, bytes({11, 0xFF})),
              bytes({IAC, SB, COMPORT, 11, IAC, IAC, IAC, SE}))
            << "a payload 0xFF is doubled too";
}
