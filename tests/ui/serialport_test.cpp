#include "port/serialport.h"
#include "support/processprobe.h"
#include "support/ptypair.h"
#include "support/testapp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSerialPort>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int TestPort = 5;

// Gathers what the port raises, as the receive handler of the program does.
struct Receiver
{
    explicit Receiver(SerialPort &port)
        : port(port)
    {
        QObject::connect(&port, &CommPort::received, &port, [this](const QByteArray &chunk) {
            ++events;
            bytes += chunk;
        });
    }
    bool waitFor(qsizetype size, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (bytes.size() < size && !deadline.hasExpired())
            QTest::qWait(5);
        return bytes.size() >= size;
    }

    SerialPort &port;
    QByteArray bytes;
    int events = 0;
};

class SerialPortTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureApp();
        ASSERT_TRUE(home.linkPty(TestPort, pty));
        ASSERT_TRUE(port.setCommPort(TestPort).ok());
    }

    void openPort()
    {
        const Result opened = port.setPortOpen(true);
        ASSERT_TRUE(opened.ok()) << opened.message().toStdString();
    }

    termios lineTermios()
    {
        termios tio{};
        // On Linux the master answers with the slave's settings, which the port sets.
        EXPECT_EQ(::tcgetattr(pty.masterFd(), &tio), 0);
        return tio;
    }

    TempConfigHome home;
    PtyPair pty;
    SerialPort port;
};

TEST_F(SerialPortTest, OpensThroughLinkAndMovesEveryByteValueBothWays)
{
    openPort();
    EXPECT_TRUE(port.portOpen());
    EXPECT_EQ(port.devicePath(), QFileInfo(pty.slavePath()).canonicalFilePath());

    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);

    ASSERT_TRUE(port.output(all).ok());
    EXPECT_EQ(pty.readMasterExactly(256, 5000), all);

    Receiver receiver(port);
    ASSERT_TRUE(pty.writeMaster(all));
    EXPECT_TRUE(receiver.waitFor(256, 5000));
    EXPECT_EQ(receiver.bytes, all);

    // An empty output sends nothing.
    EXPECT_TRUE(port.output(QByteArray()).ok());
    EXPECT_TRUE(pty.readMaster(100).isEmpty());
}

TEST_F(SerialPortTest, MegabytesArriveIntactInOrderAndInFewEvents)
{
    openPort();
    Receiver receiver(port);
    const QByteArray sent = bytePattern(1 << 20);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(pty.writeMaster(sent));
    ASSERT_TRUE(receiver.waitFor(sent.size(), 20000));
    const qint64 elapsedMs = clock.elapsed();
    EXPECT_TRUE(receiver.bytes == sent) << "received bytes differ from the bytes sent";
    // Grouping: an event per system read would give hundreds for this; tens a second is
    // what the display can bear.
    EXPECT_LE(receiver.events, 10 + elapsedMs / 10)
            << receiver.events << " events in " << elapsedMs << " ms";
}

TEST_F(SerialPortTest, BigOutputIsQueuedAtOnceAndGoesOutWholeAndInOrder)
{
    openPort();
    // The far end reads on its own, as a real device would.
    const QByteArray sent = bytePattern(4 << 20);
    QByteArray received;
    std::atomic<qsizetype> receivedSize = 0;
    std::atomic<bool> stop = false;
    std::thread reader([&] {
        QByteArray buf(65536, Qt::Uninitialized);
        while (!stop && received.size() < sent.size()) {
            pollfd p{pty.masterFd(), POLLIN, 0};
            ::poll(&p, 1, 20);
            const ssize_t n = ::read(pty.masterFd(), buf.data(), size_t(buf.size()));
            if (n > 0) {
                received.append(buf.constData(), n);
                receivedSize = received.size();
            }
        }
    });
    auto joinReader = qScopeGuard([&] {
        stop = true;
        reader.join();
    });

    constexpr qsizetype Chunk = 256 * 1024;
    for (qsizetype at = 0; at < sent.size(); at += Chunk) {
        const Result r = port.output(sent.mid(at, Chunk));
        ASSERT_TRUE(r.ok()) << r.message().toStdString();
    }
    QDeadlineTimer deadline(20000);
    while (receivedSize < sent.size() && !deadline.hasExpired())
        QTest::qWait(5);
    joinReader.dismiss();
    stop = true;
    reader.join();

    EXPECT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent) << "the far end got the bytes changed or out of order";
}

TEST_F(SerialPortTest, GroupsABurstButShowsALoneByteAtOnce)
{
    openPort();
    Receiver receiver(port);
    ASSERT_TRUE(pty.writeMaster(bytePattern(100)));
    ASSERT_TRUE(receiver.waitFor(100, 2000));
    QTest::qWait(100);
    EXPECT_EQ(receiver.bytes, bytePattern(100));
    EXPECT_LE(receiver.events, 2);

    // After a pause, a single byte is raised without waiting for company.
    QTest::qWait(50);
    receiver.bytes.clear();
    ASSERT_TRUE(pty.writeMaster("!"));
    EXPECT_TRUE(receiver.waitFor(1, 1000));
    EXPECT_EQ(receiver.bytes, "!");
}

TEST_F(SerialPortTest, ChunksStayInOrderWhenAHandlerRunsEvents)
{
    openPort();
    QByteArray bytes;
    QObject::connect(&port, &CommPort::received, &port, [&](const QByteArray &chunk) {
        bytes += chunk;
        // Like a long command that lets events run while more data arrives.
        QTest::qWait(30);
    });
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(pty.writeMaster("abc"));
        QTest::qWait(20);
    }
    QDeadlineTimer deadline(3000);
    while (bytes.size() < 15 && !deadline.hasExpired())
        QTest::qWait(10);
    EXPECT_EQ(bytes, "abcabcabcabcabc");
}

TEST_F(SerialPortTest, AppliesLineSettingsAtOpenAndAtOnceWhileOpen)
{
    // A pseudo-terminal keeps the speed and the stop bits but forces 8 bits without parity,
    // so those two carry the check.
    ASSERT_TRUE(port.setSettings(u"19200,O,8,2"_s).ok());
    openPort();
    termios tio = lineTermios();
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B19200));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_cflag & PARODD);

    ASSERT_TRUE(port.setSettings(u"110,E,8,1"_s).ok());
    tio = lineTermios();
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B110));
    EXPECT_FALSE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_cflag & PARODD);

    // With 5-bit words the two-stop-bits flag gives one and a half.
    ASSERT_TRUE(port.setSettings(u"300,N,5,1.5"_s).ok());
    tio = lineTermios();
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B300));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_EQ(port.settings(), u"300,N,5,1.5"_s);
}

TEST_F(SerialPortTest, BothHandshakesAtOnceSetHardwareAndSoftwareFlowAndSurviveChanges)
{
    ASSERT_TRUE(port.setHandshaking(3).ok());
    openPort();
    termios tio = lineTermios();
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_TRUE(tio.c_iflag & IXON);
    EXPECT_TRUE(tio.c_iflag & IXOFF);

    // Changing the speed while open must not drop the software half.
    ASSERT_TRUE(port.setSettings(u"38400,N,8,1"_s).ok());
    tio = lineTermios();
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_TRUE(tio.c_iflag & IXON);

    ASSERT_TRUE(port.setHandshaking(1).ok());
    tio = lineTermios();
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_TRUE(tio.c_iflag & IXON);

    ASSERT_TRUE(port.setHandshaking(0).ok());
    tio = lineTermios();
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_iflag & IXON);
}

TEST_F(SerialPortTest, ModemLinesOnAPseudoTerminalReadFalseQuietly)
{
    auto *serial = port.findChild<QSerialPort *>();
    ASSERT_NE(serial, nullptr);
    openPort();
    int errors = 0;
    // The counter lives on this stack only; the port outlives it and reports again on closing.
    QObject scope;
    QObject::connect(
            serial, &QSerialPort::errorOccurred, &scope,
            [&errors](QSerialPort::SerialPortError e) { errors += e != QSerialPort::NoError; });

    // What the status strip reads at each redraw, and the menu's line switches.
    for (int i = 0; i < 200; ++i) {
        EXPECT_FALSE(port.cdHolding());
        EXPECT_FALSE(port.ctsHolding());
        EXPECT_FALSE(port.dsrHolding());
        port.setDtrEnable(i % 2 == 0);
        EXPECT_EQ(port.dtrEnable(), i % 2 == 0);
        port.setRtsEnable(i % 3 == 0);
        EXPECT_EQ(port.rtsEnable(), i % 3 == 0);
    }
    QTest::qWait(20);
    EXPECT_EQ(errors, 0);
    EXPECT_TRUE(port.portOpen());
}

TEST_F(SerialPortTest, MissingDeviceSaysWhereToLinkOne)
{
    ASSERT_TRUE(home.linkPort(TestPort, home.path() + u"/unplugged"_s));
    Result r = port.setPortOpen(true);
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.message().contains(u"COM5"_s)) << r.message().toStdString();
    EXPECT_TRUE(r.message().contains(home.path() + u"/unplugged"_s)) << r.message().toStdString();
    EXPECT_TRUE(r.message().contains(u"ln -s"_s)) << r.message().toStdString();
    EXPECT_FALSE(port.portOpen());

    // Beyond the device families only a link helps, and the message says which.
    ASSERT_TRUE(port.setCommPort(120).ok());
    r = port.setPortOpen(true);
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.message().contains(u"COM120"_s)) << r.message().toStdString();
    EXPECT_TRUE(r.message().contains(home.portsDir() + u"/COM120"_s)) << r.message().toStdString();
}

TEST_F(SerialPortTest, SecondOpenerIsToldThePortIsBusy)
{
    openPort();
    SerialPort other;
    ASSERT_TRUE(other.setCommPort(TestPort).ok());
    Result r = other.setPortOpen(true);
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.message().contains(u"设备忙"_s)) << r.message().toStdString();
    EXPECT_TRUE(r.message().contains(u"COM5"_s)) << r.message().toStdString();
    EXPECT_FALSE(other.portOpen());

    // The first keeps working, and once it closes the other gets in.
    ASSERT_TRUE(port.output("still here").ok());
    EXPECT_EQ(pty.readMasterExactly(10, 2000), "still here");
    ASSERT_TRUE(port.setPortOpen(false).ok());
    r = other.setPortOpen(true);
    EXPECT_TRUE(r.ok()) << r.message().toStdString();
}

TEST_F(SerialPortTest, DeniedDeviceSaysWhoMayOpenItAndWhatWouldLetTheUserIn)
{
    // A file without any permission stands in for a device of another group: only root may
    // open it, and root is tried as an ordinary user below.
    const QString device = home.path() + u"/ttyDenied"_s;
    QFile file(device);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(file.setPermissions(QFileDevice::Permissions()));
    ASSERT_TRUE(home.linkPort(TestPort, device));

    if (::geteuid() != 0) {
        const Result r = port.setPortOpen(true);
        ASSERT_FALSE(r.ok());
        // The file is ours: no group would help, giving ourselves the rights would.
        EXPECT_TRUE(r.message().contains(u"权限 ---------（0000）"_s)) << r.message().toStdString();
        EXPECT_TRUE(r.message().contains(u"\n    chmod u+rw"_s)) << r.message().toStdString();
        EXPECT_FALSE(r.message().contains(u"usermod"_s)) << r.message().toStdString();
        return;
    }
    // As root, try from a child that has become an ordinary user.
    ASSERT_TRUE(QFile::setPermissions(
            home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                 | QFileDevice::ReadOther | QFileDevice::ExeOther));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        SerialPort denied;
        (void)denied.setCommPort(TestPort);
        const QByteArray text = denied.setPortOpen(true).message().toUtf8();
        (void)!::write(fds[1], text.constData(), size_t(text.size()));
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray text;
    char buf[1024];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        text.append(buf, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "cannot become an ordinary user here";
    // root's file without rights: joining root's group would not help, a udev rule would.
    EXPECT_TRUE(text.contains("所有者是 root，组是 root")) << text.toStdString();
    EXPECT_TRUE(text.contains("udev")) << text.toStdString();
    EXPECT_FALSE(text.contains("usermod -aG root")) << text.toStdString();
}

TEST_F(SerialPortTest, ClosesItselfOnceWhenTheDeviceGoesAwayAndThenCostsNothing)
{
    openPort();
    const QString device = port.devicePath();
    QStringList order;
    QByteArray bytes;
    QObject::connect(&port, &CommPort::received, &port, [&](const QByteArray &chunk) {
        order << u"data"_s;
        bytes += chunk;
    });
    QStringList lost;
    QObject::connect(&port, &CommPort::lost, &port, [&lost](const QString &m) { lost << m; });

    ASSERT_TRUE(pty.writeMaster("last words"));
    QDeadlineTimer deadline(2000);
    while (order.isEmpty() && !deadline.hasExpired())
        QTest::qWait(5);
    ASSERT_EQ(order, QStringList{u"data"_s});
    QObject::connect(&port, &CommPort::lost, &port, [&] { order << u"lost"_s; });

    pty.closeMaster();
    deadline.setRemainingTime(1000);
    while (lost.isEmpty() && !deadline.hasExpired())
        QTest::qWait(5);
    ASSERT_EQ(lost.size(), 1);
    EXPECT_FALSE(port.portOpen());
    // What arrived before the loss was handed on before it is reported.
    EXPECT_EQ(order, (QStringList{u"data"_s, u"lost"_s}));
    EXPECT_EQ(bytes, "last words");
    const QString message = lost.first();
    EXPECT_TRUE(message.contains(u"COM5"_s)) << message.toStdString();
    EXPECT_TRUE(message.contains(device)) << message.toStdString();

    // No storm of errors afterwards: an idle second costs next to nothing.
    const double before = cpuSeconds();
    QTest::qWait(1000);
    EXPECT_LT(cpuSeconds() - before, 0.3);
    EXPECT_EQ(lost.size(), 1);
    EXPECT_FALSE(port.setPortOpen(false).ok());
    EXPECT_FALSE(port.output("x").ok());
}

TEST_F(SerialPortTest, ThousandsOfOpenCloseCyclesLeaveNoLockOrDescriptor)
{
    SerialPort other;
    ASSERT_TRUE(other.setCommPort(TestPort).ok());
    // Warm up once, so that lazily created resources are not counted as a leak.
    openPort();
    ASSERT_TRUE(port.setPortOpen(false).ok());
    QCoreApplication::processEvents();
    const int fdsBefore = openFdCountOn(pty.slavePath());

    for (int i = 0; i < 1000; ++i) {
        SerialPort &a = i % 2 ? port : other;
        SerialPort &b = i % 2 ? other : port;
        const Result opened = a.setPortOpen(true);
        ASSERT_TRUE(opened.ok()) << "cycle " << i << ": " << opened.message().toStdString();
        ASSERT_TRUE(a.setPortOpen(false).ok()) << "cycle " << i;
        // The other object gets the device right after: no lock was left behind.
        ASSERT_TRUE(b.setPortOpen(true).ok()) << "cycle " << i;
        ASSERT_TRUE(b.setPortOpen(false).ok()) << "cycle " << i;
        if (i % 100 == 0)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(openFdCountOn(pty.slavePath()), fdsBefore);
}

} // namespace
