// Serial servers that misbehave, played by the test: each must leave the link bounded, answering
// and saying what happened.

#include "port/networklink.h"
#include "support/qtprinters.h"
#include "support/scriptedcomportserver.h"
#include "support/testapp.h"

#include <QDeadlineTimer>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// Generous: a busy machine must not fail a test.
constexpr int AnswerMs = 30000;

bool waitFor(const std::function<bool()> &condition, int timeoutMs = AnswerMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

// A link to a scripted server, and everything it said.
struct Client
{
    Client()
    {
        QObject::connect(&link, &NetworkLink::opened, &link, [this] { ++opened; });
        QObject::connect(&link, &NetworkLink::failed, &link,
                         [this](const QString &cause) { failure = cause; });
        QObject::connect(&link, &NetworkLink::readyRead, &link,
                         [this] { received += link.takeArrived(); });
        QObject::connect(&link, &NetworkLink::lost, &link,
                         [this](const QString &cause) { lostCauses << cause; });
        QObject::connect(&link, &NetworkLink::modemLinesChanged, &link, [this] { ++modemChanges; });
        QObject::connect(&link, &NetworkLink::notice, &link,
                         [this](const QString &text) { notices << text; });
    }
    void open(const QString &url) { link.open(*NetworkAddress::parse(url), {}); }

    NetworkLink link;
    int opened = 0;
    QString failure;
    QByteArray received;
    QStringList lostCauses;
    int modemChanges = 0;
    QStringList notices;
};

QByteArray modemState(quint8 bits)
{
    return TelnetCodec::subnegotiation(TelnetCodec::OptionComPort, bytes({107, bits}));
}

} // namespace

TEST(HostileServerTest, TextStreamInsteadOfRfc2217FailsTheOpenAndSuggestsSocket)
{
    ensureApp();
    const auto server = ScriptedComPortServer::streaming("2026-12-08 log line without end\n");
    ASSERT_TRUE(server->isListening());
    Client client;
    client.open(server->url());
    ASSERT_TRUE(waitFor([&] { return !client.failure.isEmpty(); }));
    EXPECT_TRUE(client.failure.contains(u"RFC 2217"_s) && client.failure.contains(u"socket://"_s))
            << client.failure.toStdString();
    EXPECT_EQ(client.opened, 0);
    EXPECT_TRUE(waitFor([&] { return server->clientGone(); })) << "the connection stayed";

    // Closed while such a stream runs, the link lets go at once and says nothing more.
    const auto second = ScriptedComPortServer::streaming("x");
    Client cancelled;
    cancelled.open(second->url());
    ASSERT_TRUE(waitFor([&] { return second->hasClient(); }));
    const QString before = cancelled.failure;
    cancelled.link.close();
    EXPECT_FALSE(cancelled.link.isOpening());
    EXPECT_TRUE(waitFor([&] { return second->clientGone(); }));
    EXPECT_EQ(cancelled.failure, before);
}

TEST(HostileServerTest, FloodOfModemNoticesLeavesTheLatestStateAndTheDataInOrder)
{
    ensureApp();
    ScriptedComPortServer server;
    Client client;
    client.open(server.url());
    ASSERT_TRUE(waitFor([&] { return client.opened == 1; })) << client.failure.toStdString();

    int arrivals = 0;
    QObject::connect(&client.link, &NetworkLink::readyRead, &client.link, [&] { ++arrivals; });
    server.pump(modemState(0x80 | 0x08) + modemState(0x08));
    ASSERT_TRUE(waitFor([&] { return client.modemChanges > 100; }));
    server.stopPumping();
    server.sendModemState(0x10 | 0x01);
    server.sendData("after the flood");
    ASSERT_TRUE(waitFor([&] { return client.received.endsWith("after the flood"); }));
    EXPECT_EQ(client.received, "after the flood") << "notices leaked into the data";
    EXPECT_LE(client.modemChanges, arrivals + 1) << "more than one change per arrival";
    EXPECT_TRUE(client.link.cts());
    EXPECT_FALSE(client.link.cd());
    // The link still answers at once.
    client.link.close();
    EXPECT_TRUE(waitFor([&] { return server.clientGone(); }));
}

TEST(HostileServerTest, ServerHoldingItsWindowIsAHeldLineNotALoss)
{
    ensureApp();
    ScriptedComPortServer server;
    Client client;
    // Short, so that the hold outlasts it many times over within the test.
    constexpr int LossMs = 3000;
    client.link.setLossTimeout(LossMs);
    client.open(server.url());
    ASSERT_TRUE(waitFor([&] { return client.opened == 1; })) << client.failure.toStdString();
    const qint64 before = server.heardBytes();

    server.holdWindow();
    const QByteArray data(16 * 1024 * 1024, 'a');
    ASSERT_EQ(client.link.write(data), data.size());
    // The window stays closed, its probes answered, for three times the loss timeout.
    ASSERT_TRUE(waitFor([&] { return client.link.heldForMs() > 3 * LossMs; }, 60000))
            << "never held; lost: " << client.lostCauses.join(u' ').toStdString();
    EXPECT_TRUE(client.lostCauses.isEmpty()) << client.lostCauses.join(u' ').toStdString();
    EXPECT_TRUE(client.link.isOpen());

    server.releaseWindow();
    EXPECT_TRUE(waitFor([&] { return server.heardBytes() - before >= data.size(); }, 60000));
    EXPECT_EQ(client.link.bytesToWrite(), 0);
    EXPECT_TRUE(client.lostCauses.isEmpty());
}

TEST(HostileServerTest, SubnegotiationWithoutEndIsCutAndToldOnce)
{
    ensureApp();
    ScriptedComPortServer server;
    Client client;
    client.open(server.url());
    ASSERT_TRUE(waitFor([&] { return client.opened == 1; })) << client.failure.toStdString();

    const qint64 past = 1000;
    QByteArray endless = bytes({255, 250, 44}) + QByteArray(TelnetCodec::SubnegotiationCut, 's');
    server.sendData("before");
    // sendData escapes; the subnegotiation goes raw, twice, then the line speaks again.
    server.pump(endless + QByteArray(past, 'd') + "after");
    ASSERT_TRUE(waitFor([&] { return client.received.count("after") >= 2; }));
    server.stopPumping();
    const QByteArray first = "before" + QByteArray(past, 'd') + "after";
    EXPECT_TRUE(client.received.startsWith(first));
    ASSERT_EQ(client.notices.size(), 1) << client.notices.join(u'\n').toStdString();
    EXPECT_TRUE(client.notices.first().contains(server.url()))
            << client.notices.first().toStdString();
    EXPECT_TRUE(client.link.isOpen());
}
