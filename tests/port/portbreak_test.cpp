// BREAK from the port object: held for its time by a timer and then let go, over RFC 2217 as
// SET-CONTROL break on then off, refused in words over a plain socket, and on a local device
// taken by the system.
//
// A Linux pseudo-terminal has no break to pass on (its driver has no break control), so the far
// end of a local pair cannot see one; the scripted RFC 2217 server sees the commands themselves.

#include "core/commport.h"
#include "port/serialport.h"
#include "support/ptypair.h"
#include "support/scriptedcomportserver.h"
#include "support/ser2netserver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

constexpr int PortNumber = 9;

void ensureApp()
{
    static int argc = 1;
    static char name[] = "portbreak_test";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs = 30000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

QByteArray setControl(quint8 value)
{
    // IAC SB COM-PORT-OPTION SET-CONTROL value IAC SE
    return QByteArray("\xFF\xFA\x2C\x05", 4) + char(value) + QByteArray("\xFF\xF0", 2);
}

::testing::AssertionResult openNetworkPort(SerialPort &port)
{
    if (!port.setCommPort(PortNumber).ok())
        return ::testing::AssertionFailure() << "COM9 refused";
    QString failure;
    QObject::connect(&port, &CommPort::openFailed, &port,
                     [&failure](const QString &why) { failure = why; });
    if (const Result opening = port.setPortOpen(true); !opening.ok())
        return ::testing::AssertionFailure() << opening.message().toStdString();
    if (!waitFor([&] { return port.portOpen() || !failure.isEmpty(); }) || !port.portOpen())
        return ::testing::AssertionFailure() << failure.toStdString();
    return ::testing::AssertionSuccess();
}

TEST(PortBreakTest, Rfc2217BreakIsSetControlOnThenOffAfterItsTime)
{
    ensureApp();
    TempConfigHome home;
    ScriptedComPortServer server;
    ASSERT_TRUE(server.isListening());
    ASSERT_TRUE(home.linkPort(PortNumber, server.url()));
    SerialPort port;
    ASSERT_TRUE(openNetworkPort(port));

    ASSERT_TRUE(port.sendBreak(200).ok());
    EXPECT_FALSE(port.sendBreak(200).ok()) << "a second break while one is held";
    ASSERT_TRUE(waitFor([&] { return server.heard.contains(setControl(6)); }))
            << "the break was never let go";
    const qsizetype on = server.heard.indexOf(setControl(5));
    ASSERT_GE(on, 0);
    EXPECT_LT(on, server.heard.indexOf(setControl(6)));
    // The line carries data again, and a new break may start.
    ASSERT_TRUE(port.output("after").ok());
    EXPECT_TRUE(waitFor([&] { return server.heard.endsWith("after"); }));
    EXPECT_TRUE(port.sendBreak(100).ok());
}

TEST(PortBreakTest, Ser2NetTakesTheBreakAndTheLineGoesOn)
{
    if (Ser2NetServer::program().isEmpty())
        GTEST_SKIP() << "ser2net is not installed; scripts/setup installs it";
    ensureApp();
    TempConfigHome home;
    PtyPair pty;
    ASSERT_TRUE(pty.isValid());
    Ser2NetServer server(pty.slavePath(), Ser2NetServer::Accepter::Rfc2217);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    ASSERT_TRUE(home.linkPort(PortNumber, server.url()));
    SerialPort port;
    ASSERT_TRUE(openNetworkPort(port));
    QString lost;
    QObject::connect(&port, &CommPort::lost, &port, [&lost](const QString &why) { lost = why; });

    ASSERT_TRUE(port.sendBreak(100).ok());
    // Once the break is let go, the server takes data again and the port stays open.
    ASSERT_TRUE(waitFor([&] { return port.sendBreak(100).ok(); }));
    ASSERT_TRUE(port.output("after the break").ok());
    EXPECT_EQ(pty.readMasterExactly(15, 10000), "after the break"_ba);
    EXPECT_TRUE(port.portOpen()) << lost.toStdString();
}

TEST(PortBreakTest, PlainSocketCannotCarryABreakAndSaysSo)
{
    ensureApp();
    TempConfigHome home;
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    ASSERT_TRUE(home.linkPort(PortNumber, u"socket://127.0.0.1:%1"_s.arg(server.serverPort())));
    SerialPort port;
    ASSERT_TRUE(openNetworkPort(port));
    const Result refused = port.sendBreak(250);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.message().contains(u"socket://"_s)) << refused.message().toStdString();
    EXPECT_TRUE(refused.message().contains(u"BREAK"_s));
}

TEST(PortBreakTest, LocalDeviceTakesTheBreakAndKeepsCarryingData)
{
    ensureApp();
    TempConfigHome home;
    PtyPair pty;
    ASSERT_TRUE(home.linkPty(PortNumber, pty));
    SerialPort port;
    EXPECT_FALSE(port.sendBreak(250).ok()) << "a closed port has no line to break";
    ASSERT_TRUE(port.setCommPort(PortNumber).ok());
    ASSERT_TRUE(port.setPortOpen(true).ok());
    ASSERT_TRUE(port.sendBreak(100).ok());
    EXPECT_FALSE(port.sendBreak(100).ok());
    // Once the timer let the line go, another break may start.
    EXPECT_TRUE(waitFor([&] { return port.sendBreak(100).ok(); }));
    ASSERT_TRUE(port.output("still here").ok());
    EXPECT_EQ(pty.readMasterExactly(10, 10000), "still here"_ba);
    // Closing while a break is held lets it go first, and the port closes cleanly.
    EXPECT_TRUE(port.setPortOpen(false).ok());
}

} // namespace
