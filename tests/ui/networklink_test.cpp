#include "port/networklink.h"
#include "port/telnetcodec.h"
#include "support/processprobe.h"
#include "support/ptypair.h"
#include "support/qtprinters.h"
#include "support/scriptedcomportserver.h"
#include "support/ser2netserver.h"
#include "support/testapp.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <termios.h>

using namespace Qt::StringLiterals;

namespace {

// Generous: a busy machine with several builds running must not fail a test.
constexpr int AnswerMs = 20000;

// Gathers what the link hands on, as the port object will.
struct Collector
{
    explicit Collector(NetworkLink &link)
    {
        QObject::connect(&link, &NetworkLink::readyRead, &link,
                         [this, &link] { received += link.takeArrived(); });
        QObject::connect(&link, &NetworkLink::bytesWritten, &link,
                         [this](qint64 n) { written += n; });
        QObject::connect(&link, &NetworkLink::lost, &link, [this, &link](const QString &cause) {
            received += link.takeArrived();
            lostCauses << cause;
        });
        QObject::connect(&link, &NetworkLink::modemLinesChanged, &link, [this] { ++modemChanges; });
    }
    bool waitForReceived(qsizetype size)
    {
        QDeadlineTimer deadline(AnswerMs);
        while (received.size() < size && !deadline.hasExpired())
            QTest::qWait(5);
        return received.size() >= size;
    }

    QByteArray received;
    qint64 written = 0;
    QStringList lostCauses;
    int modemChanges = 0;
};

// Opens and waits for the answer: empty on success, the cause otherwise.
QString openAndWait(NetworkLink &link, const QString &url, const NetworkLink::LineParameters &line)
{
    const std::optional<NetworkAddress> address = NetworkAddress::parse(url);
    if (!address)
        return u"not an address: "_s + url;
    QSignalSpy opened(&link, &NetworkLink::opened);
    QSignalSpy failed(&link, &NetworkLink::failed);
    link.open(*address, line);
    if (!opened.isEmpty() || !failed.isEmpty())
        return u"answered from inside open()"_s;
    QDeadlineTimer deadline(AnswerMs);
    while (opened.isEmpty() && failed.isEmpty() && !deadline.hasExpired())
        QTest::qWait(5);
    if (!failed.isEmpty())
        return failed.first().first().toString();
    if (opened.isEmpty())
        return u"no answer"_s;
    return {};
}

QByteArray everyByteValue()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes += char(i);
    // Runs of 0xFF: each doubled on the wire, and a run cut by a TCP segment.
    bytes += QByteArray(300, char(0xFF));
    return bytes + bytePattern(256 * 1024);
}

class NetworkLinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureApp();
        if (Ser2NetServer::program().isEmpty())
            GTEST_SKIP() << "ser2net is not installed; scripts/setup installs it";
        ASSERT_TRUE(pty.isValid()) << pty.error().toStdString();
    }

    void startServer(Ser2NetServer::Accepter accepter)
    {
        server = std::make_unique<Ser2NetServer>(pty.slavePath(), accepter);
        ASSERT_TRUE(server->start()) << server->error().toStdString();
    }

    termios lineTermios()
    {
        termios tio{};
        // On Linux the master answers with the slave's settings, which ser2net sets.
        EXPECT_EQ(::tcgetattr(pty.masterFd(), &tio), 0);
        return tio;
    }

    // Both ways through the server: link to device, then device to link.
    void expectBytesBothWays(Collector &collector, const QByteArray &bytes)
    {
        const qint64 writtenBefore = collector.written;
        ASSERT_EQ(link.write(bytes), bytes.size());
        const QByteArray atDevice = pty.readMasterExactly(bytes.size(), AnswerMs);
        EXPECT_EQ(atDevice.size(), bytes.size());
        EXPECT_TRUE(atDevice == bytes) << "the device received other bytes than were written";
        QDeadlineTimer deadline(AnswerMs);
        while (link.bytesToWrite() > 0 && !deadline.hasExpired())
            QTest::qWait(5);
        EXPECT_EQ(link.bytesToWrite(), 0);
        EXPECT_EQ(collector.written - writtenBefore, bytes.size())
                << "bytesWritten() counts data bytes, not what went on the wire";

        const qsizetype receivedBefore = collector.received.size();
        ASSERT_TRUE(pty.writeMaster(bytes));
        ASSERT_TRUE(collector.waitForReceived(receivedBefore + bytes.size()));
        EXPECT_EQ(collector.received.size(), receivedBefore + bytes.size());
        EXPECT_TRUE(collector.received.mid(receivedBefore) == bytes)
                << "the link handed on other bytes than the device sent";
    }

    PtyPair pty;
    std::unique_ptr<Ser2NetServer> server;
    NetworkLink link;
};

TEST_F(NetworkLinkTest, Rfc2217CarriesEveryByteAndSetsTheFarLine)
{
    startServer(Ser2NetServer::Accepter::Rfc2217);
    Collector collector(link);
    NetworkLink::LineParameters line;
    line.speed = 115200;
    line.stopBits = NetworkLink::StopBits::Two;
    const QString failure = openAndWait(link, server->url(), line);
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();

    // The settings sent at open are on the device once opened() is out. (A pseudo-terminal
    // keeps only speed and stop bits: Linux forces 8 bits without parity on it.)
    termios tio = lineTermios();
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B115200));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);

    expectBytesBothWays(collector, everyByteValue());

    // DTR and RTS travel as commands amid the data: the server takes them (a pseudo-terminal
    // has no such lines to show them) and the stream around them stays intact.
    link.setDtr(false);
    link.setRts(false);
    link.setDtr(true);
    expectBytesBothWays(collector, bytes({'a', 0xFF, 'b'}));

    // New settings while open reach the device too.
    line.speed = 57600;
    line.stopBits = NetworkLink::StopBits::One;
    link.setLineParameters(line);
    QDeadlineTimer deadline(AnswerMs);
    while (::cfgetospeed(&tio) != B57600 && !deadline.hasExpired()) {
        QTest::qWait(10);
        tio = lineTermios();
    }
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B57600));
    EXPECT_FALSE(tio.c_cflag & CSTOPB);

    EXPECT_TRUE(link.isOpen());
    EXPECT_TRUE(collector.lostCauses.isEmpty()) << collector.lostCauses.join(u'\n').toStdString();
}

TEST_F(NetworkLinkTest, SocketCarriesBytesAsTheyAre)
{
    startServer(Ser2NetServer::Accepter::Tcp);
    Collector collector(link);
    const QString failure = openAndWait(link, server->url(), {});
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();

    // Line commands have no place in a raw stream: they would reach the device as data.
    link.setDtr(false);
    link.setRts(false);
    NetworkLink::LineParameters line;
    line.speed = 115200;
    link.setLineParameters(line);
    expectBytesBothWays(collector, everyByteValue());

    EXPECT_FALSE(link.cd());
    EXPECT_FALSE(link.cts());
    EXPECT_FALSE(link.dsr());
}

TEST_F(NetworkLinkTest, ServerWithoutComPortOptionIsRefused)
{
    startServer(Ser2NetServer::Accepter::Telnet);
    const QString failure = openAndWait(link, server->url(), {});
    EXPECT_TRUE(failure.contains(u"RFC 2217"_s) && failure.contains(server->url()))
            << failure.toStdString();
    EXPECT_FALSE(link.isOpen());
}

TEST_F(NetworkLinkTest, PortHeldByAnotherClientIsRefusedInTheServersWords)
{
    startServer(Ser2NetServer::Accepter::Rfc2217);
    Collector collector(link);
    QString failure = openAndWait(link, server->url(), {});
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();

    // ser2net says why before it hangs up on a second client; that is the cause to show.
    NetworkLink second;
    failure = openAndWait(second, server->url(), {});
    EXPECT_TRUE(failure.contains(server->url()) && failure.contains(u"Port already in use"_s))
            << failure.toStdString();

    // The first client keeps the port.
    EXPECT_TRUE(link.isOpen());
    expectBytesBothWays(collector, "still here");
}

TEST_F(NetworkLinkTest, StoppedServerIsALoss)
{
    startServer(Ser2NetServer::Accepter::Rfc2217);
    Collector collector(link);
    const QString failure = openAndWait(link, server->url(), {});
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();

    server->stop();
    QDeadlineTimer deadline(AnswerMs);
    while (collector.lostCauses.isEmpty() && !deadline.hasExpired())
        QTest::qWait(5);
    ASSERT_EQ(collector.lostCauses.size(), 1);
    EXPECT_TRUE(collector.lostCauses.first().contains(server->url()))
            << collector.lostCauses.first().toStdString();
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(link.write("x"), -1);

    // Nothing keeps running once the loss is told.
    const double cpuBefore = cpuSeconds();
    QTest::qWait(500);
    EXPECT_LT(cpuSeconds() - cpuBefore, 0.25);
    EXPECT_EQ(collector.lostCauses.size(), 1);
}

TEST(NetworkLinkOpenTest, FailuresNameTheAddressAndTheCause)
{
    ensureApp();
    NetworkLink link;

    // A port where nothing listens.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    const QString refusedUrl = u"rfc2217://127.0.0.1:%1"_s.arg(closedPort);
    QString failure = openAndWait(link, refusedUrl, {});
    EXPECT_TRUE(failure.contains(refusedUrl) && failure.contains(u"拒绝"_s))
            << failure.toStdString();

    // A name that cannot resolve (.invalid never does); without a resolver at hand the lookup
    // may run out of time instead, which names the host as well.
    const QString unknownUrl = u"socket://no-such-host.invalid:3001"_s;
    failure = openAndWait(link, unknownUrl, {});
    EXPECT_TRUE(failure.contains(unknownUrl) && failure.contains(u"解析"_s))
            << failure.toStdString();

    // A server that accepts and never speaks telnet must not hold the open forever.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    link.setOpenTimeout(300);
    const QString silentUrl = u"rfc2217://127.0.0.1:%1"_s.arg(silent.serverPort());
    failure = openAndWait(link, silentUrl, {});
    EXPECT_TRUE(failure.contains(silentUrl) && failure.contains(u"RFC 2217"_s))
            << failure.toStdString();
    EXPECT_FALSE(link.isOpen());
    EXPECT_FALSE(link.isOpening());
}

TEST(NetworkLinkScriptedTest, ModemLinesComeFromTheServersNotices)
{
    ensureApp();
    ScriptedComPortServer server;
    ASSERT_TRUE(server.isListening());
    NetworkLink link;
    Collector collector(link);
    const QString failure = openAndWait(link, server.url(), {});
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();

    // Echo and terminal type are refused, once each.
    EXPECT_EQ(server.heard.count(bytes({255, 254, 1})), 1) << "DONT ECHO";
    EXPECT_EQ(server.heard.count(bytes({255, 252, 24})), 1) << "WONT TERMINAL-TYPE";

    // CD, DSR and CTS on, with their change bits; then CD alone off.
    server.sendModemState(0x80 | 0x20 | 0x10 | 0x08 | 0x02 | 0x01);
    QDeadlineTimer deadline(AnswerMs);
    while (collector.modemChanges < 1 && !deadline.hasExpired())
        QTest::qWait(5);
    EXPECT_TRUE(link.cd());
    EXPECT_TRUE(link.dsr());
    EXPECT_TRUE(link.cts());
    server.sendModemState(0x20 | 0x10 | 0x08);
    while (collector.modemChanges < 2 && !deadline.hasExpired())
        QTest::qWait(5);
    EXPECT_FALSE(link.cd());
    EXPECT_TRUE(link.dsr());
    EXPECT_TRUE(link.cts());
    // Ring indication alone changes none of the three.
    server.sendModemState(0x20 | 0x10 | 0x40 | 0x04);
    QTest::qWait(100);
    EXPECT_EQ(collector.modemChanges, 2);
}

TEST(NetworkLinkScriptedTest, SettingsChangedWhileOpeningGoOutOnceOpen)
{
    ensureApp();
    ScriptedComPortServer server;
    server.holdAnswers();
    NetworkLink link;
    QSignalSpy opened(&link, &NetworkLink::opened);
    QSignalSpy failed(&link, &NetworkLink::failed);
    link.open(*NetworkAddress::parse(server.url()), {});
    // The first settings are out; the speed changes before they are confirmed.
    QDeadlineTimer deadline(AnswerMs);
    const QByteArray modemMask = TelnetCodec::subnegotiation(44, bytes({11, 0xBB}));
    while (!server.heard.contains(modemMask) && !deadline.hasExpired())
        QTest::qWait(5);
    ASSERT_TRUE(link.isOpening());
    NetworkLink::LineParameters line;
    line.speed = 57600;
    link.setLineParameters(line);
    server.releaseAnswers();
    while (opened.isEmpty() && failed.isEmpty() && !deadline.hasExpired())
        QTest::qWait(5);
    ASSERT_TRUE(failed.isEmpty()) << failed.first().first().toString().toStdString();
    ASSERT_EQ(opened.size(), 1);

    const QByteArray setSpeed57600 = TelnetCodec::subnegotiation(44, bytes({1, 0, 0, 0xE1, 0}));
    while (!server.heard.contains(setSpeed57600) && !deadline.hasExpired())
        QTest::qWait(5);
    EXPECT_TRUE(server.heard.contains(setSpeed57600));
}

TEST(NetworkLinkScriptedTest, SpeedTheServerWouldNotTakeFailsTheOpen)
{
    ensureApp();
    ScriptedComPortServer server(9600);
    NetworkLink link;
    NetworkLink::LineParameters line;
    line.speed = 250000;
    const QString failure = openAndWait(link, server.url(), line);
    EXPECT_TRUE(failure.contains(u"250000"_s) && failure.contains(u"9600"_s)
                && failure.contains(server.url()))
            << failure.toStdString();
    EXPECT_FALSE(link.isOpen());
}

} // namespace
