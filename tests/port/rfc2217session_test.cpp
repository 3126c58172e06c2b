#include "port/rfc2217session.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int IAC = 255, SB = 250, SE = 240, DO = 253, DONT = 254, COMPORT = 44;

QByteArray answer(std::initializer_list<int> payload)
{
    QByteArray body = bytes(payload);
    return bytes({IAC, SB, COMPORT}) + TelnetCodec::escape(body) + bytes({IAC, SE});
}

// A server's answers to 9600,8,N,1 without handshaking, as asked.
QByteArray agreeing()
{
    return answer({101, 0, 0, 0x25, 0x80}) + answer({102, 8}) + answer({103, 1}) + answer({104, 1})
           + answer({105, 1});
}

QByteArray modemState(int bits)
{
    return answer({107, bits});
}

QByteArray endlessSubnegotiation(qsizetype length)
{
    return bytes({IAC, SB, COMPORT}) + QByteArray(length, 'x');
}

// What the session made of a server's bytes, cut into pieces of a given size.
struct Seen
{
    Rfc2217Session::State state = Rfc2217Session::State::Negotiating;
    QString failure;
    QByteArray data;
    int opened = 0;
    int modemChanges = 0;
    int cuts = 0;
    bool cd = false;
};

// The server's bytes come in turns: before it has heard the settings, after, and later on.
Seen feed(const QByteArray &before, const QByteArray &after, const QByteArray &later,
          qsizetype piece)
{
    Rfc2217Session session(u"rfc2217://host:1"_s, {});
    (void)session.start();
    Seen seen;
    for (const QByteArray &stream : {before, after, later}) {
        for (qsizetype from = 0; from < stream.size(); from += piece) {
            Rfc2217Session::Output out;
            session.receive(QByteArrayView(stream).sliced(from, qMin(piece, stream.size() - from)),
                            out);
            seen.data += out.data;
            seen.opened += out.opened;
            seen.modemChanges += out.modemLinesChanged;
            seen.cuts += out.subnegotiationCut;
        }
    }
    seen.state = session.state();
    seen.failure = session.failure();
    seen.cd = session.cd();
    return seen;
}

struct Case
{
    const char *name;
    QByteArray before;
    QByteArray after;
    QByteArray later;
    Rfc2217Session::State state;
    QString failureHas; // empty: no failure
    QByteArray data;
    int modemChanges = 0;
    int cuts = 0;
    bool cd = false;
};

TEST(Rfc2217Session, AnswersEveryServerAlikeHoweverItsBytesAreCut)
{
    using State = Rfc2217Session::State;
    QByteArray flood;
    for (int i = 0; i < 5000; ++i)
        flood += modemState(i % 2 ? 0x80 : 0x00);
    const QByteArray text(Rfc2217Session::EarlyLimit, 't');
    const qint64 cut = TelnetCodec::SubnegotiationCut;

    const QByteArray takes = bytes({IAC, DO, COMPORT});
    const qsizetype whole = 1 << 30;

    const Case cases[] = {
            {"agrees; early data follows the open",
             "early" + takes,
             agreeing(),
             "late",
             State::Open,
             {},
             "earlylate"},
            {"refuses COM-PORT-OPTION",
             bytes({IAC, DONT, COMPORT}),
             {},
             {},
             State::Failed,
             u"拒绝了 RFC 2217"_s,
             {}},
            {"sets another speed",
             takes,
             answer({101, 0, 0, 0x12, 0xC0}) + answer({102, 8}) + answer({103, 1})
                     + answer({104, 1}) + answer({105, 1}),
             {},
             State::Failed,
             u"请求的速率 9600，服务器设为 4800"_s,
             {}},
            {"a text stream up to the bound is still waited on",
             text,
             {},
             {},
             State::Negotiating,
             {},
             {}},
            {"a text stream past the bound is no server",
             text + "!",
             {},
             {},
             State::Failed,
             u"socket://"_s,
             {}},
            {"a flood of modem notices: one change a call at most, the latest state",
             takes,
             agreeing(),
             flood + modemState(0x80),
             State::Open,
             {},
             {},
             1,
             0,
             true},
            {"an endless subnegotiation is cut once and what follows is data",
             takes,
             agreeing(),
             endlessSubnegotiation(cut + 3) + endlessSubnegotiation(cut),
             State::Open,
             {},
             "xxx",
             0,
             1},
            {"an endless subnegotiation of doubled IACs is cut too",
             takes,
             agreeing(),
             bytes({IAC, SB, COMPORT}) + QByteArray(2 * cut + 2, char(IAC)) + "d",
             State::Open,
             {},
             "d",
             0,
             1},
    };
    for (const Case &c : cases) {
        for (const qsizetype piece : {whole, qsizetype(7), qsizetype(1)}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            const Seen seen = feed(c.before, c.after, c.later, piece);
            EXPECT_EQ(int(seen.state), int(c.state));
            if (c.failureHas.isEmpty()) {
                EXPECT_TRUE(seen.failure.isEmpty()) << seen.failure.toStdString();
            } else {
                EXPECT_TRUE(seen.failure.contains(c.failureHas)) << seen.failure.toStdString();
            }
            EXPECT_EQ(seen.opened, c.state == State::Open ? 1 : 0);
            EXPECT_EQ(seen.data, c.data);
            EXPECT_EQ(seen.cuts, c.cuts);
            EXPECT_EQ(seen.cd, c.cd);
            // Whole, every call sees the flood at once; cut small, changes spread over calls.
            if (piece == whole) {
                EXPECT_EQ(seen.modemChanges, c.modemChanges);
            }
        }
    }
}

} // namespace
