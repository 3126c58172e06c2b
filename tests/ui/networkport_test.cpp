// A port number linked to a serial server, through the real main window: ser2net in front of a
// pseudo-terminal whose far end the test plays, or a scripted RFC 2217 server for the modem lines
// that a pseudo-terminal does not have.

#include "app/menus.h"
#include "core/settingkeys.h"
#include "widgets/statusstrip.h"
#include "support/mainwindowfixture.h"
#include "support/processprobe.h"
#include "support/qtprinters.h"
#include "support/scriptedcomportserver.h"
#include "support/ser2netserver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <termios.h>

using namespace Qt::StringLiterals;

namespace {

// Generous: a busy machine with several builds running must not fail a test.
constexpr int AnswerMs = 20000;

QByteArray everyByteValue()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes += char(i);
    // 0xFF in a run, which goes doubled over RFC 2217 and may be cut between two segments.
    return bytes + QByteArray(100, char(0xFF)) + bytePattern(64 * 1024);
}

QByteArray onDisk(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ? file.readAll() : QByteArray();
}

class NetworkPortTest : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ASSERT_TRUE(m_dir.isValid());
    }

    Menus &menus() { return m_window->menus(); }

    // ser2net in front of the pseudo-terminal, and COM7 linked to it.
    void startServer()
    {
        if (Ser2NetServer::program().isEmpty())
            GTEST_SKIP() << "ser2net is not installed; scripts/setup installs it";
        m_server = std::make_unique<Ser2NetServer>(m_pty.slavePath(),
                                                   Ser2NetServer::Accepter::Rfc2217);
        ASSERT_TRUE(m_server->start()) << m_server->error().toStdString();
        ASSERT_TRUE(m_config.linkPort(PortNumber, m_server->url()));
    }

    bool portItemsEnabled()
    {
        for (int item : {Menus::Dtr, Menus::Rts, Menus::SendFile, Menus::Capture}) {
            if (!menus().enabled(item))
                return false;
        }
        return true;
    }

    // Item 1 goes on at once; the items that need the line follow once the server has answered.
    void openAndWaitForTheServer()
    {
        click(Menus::OpenPort);
        EXPECT_TRUE(menus().checked(Menus::OpenPort));
        EXPECT_TRUE(m_port->portOpening()) << "the opening did not wait for the server";
        EXPECT_FALSE(menus().enabled(Menus::SendFile));
        ASSERT_TRUE(waitFor([&] { return portItemsEnabled(); }, AnswerMs))
                << m_dialogs.messages().value(0).text.toStdString();
        EXPECT_TRUE(menus().checked(Menus::OpenPort));
    }

    void startCapture()
    {
        m_dialogs.answerSave(capturePath());
        click(Menus::Capture);
        ASSERT_TRUE(menus().checked(Menus::Capture));
    }

    // The far end sends; everything is in the capture file before this returns.
    void farEndSends(const QByteArray &bytes)
    {
        m_sent += bytes;
        ASSERT_TRUE(m_pty.writeMaster(bytes));
        ASSERT_TRUE(
                waitFor([&] { return onDisk(capturePath()).size() >= m_sent.size(); }, AnswerMs))
                << "the capture holds " << onDisk(capturePath()).size() << " of " << m_sent.size()
                << " bytes";
        EXPECT_TRUE(onDisk(capturePath()) == m_sent) << "the capture differs from what was sent";
    }

    QString capturePath() const { return m_dir.filePath(u"capture.bin"_s); }

    QTemporaryDir m_dir;
    std::unique_ptr<Ser2NetServer> m_server;
    QByteArray m_sent;
};

TEST_F(NetworkPortTest, OverRfc2217EveryByteGoesBothWaysTheLineIsSetAndDtrRtsSwitch)
{
    startServer();
    if (IsSkipped())
        return;
    m_store.save(SettingKeys::baud(), u"115200"_s);
    startWindow();
    openAndWaitForTheServer();
    EXPECT_TRUE(m_dialogs.messages().isEmpty()) << m_dialogs.messages()[0].text.toStdString();

    // The speed stored for the port is on the far device once the port is open.
    termios tio{};
    ASSERT_EQ(::tcgetattr(m_pty.masterFd(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B115200));

    // From the far end: every byte value lands in the capture, 0xFF undoubled.
    startCapture();
    farEndSends(everyByteValue());

    // To the far end: a file of every byte value, sent as the line takes it.
    const QByteArray file = everyByteValue();
    QFile out(m_dir.filePath(u"send.bin"_s));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    out.close();
    m_dialogs.answerOpen(out.fileName());
    m_dialogs.answerMessage(Dialogs::Yes);
    click(Menus::SendFile);
    const QByteArray atDevice = m_pty.readMasterExactly(file.size(), AnswerMs);
    EXPECT_EQ(atDevice.size(), file.size());
    EXPECT_TRUE(atDevice == file) << "the far end received other bytes than the file";
    EXPECT_TRUE(waitFor([&] { return m_port->bytesToWrite() == 0; }, AnswerMs));

    // DTR and RTS off travel as commands amid the data; the strip shows them and the line
    // carries on both ways.
    click(Menus::Dtr);
    click(Menus::Rts);
    EXPECT_FALSE(menus().checked(Menus::Dtr));
    EXPECT_FALSE(menus().checked(Menus::Rts));
    EXPECT_TRUE(waitFor(
            [&] { return m_window->statusStrip().currentText().contains(u"DTR:关  RTS:关"_s); }));
    // The send echoed the file on the screen; Enter sends only what is typed on a clean line.
    ASSERT_TRUE(waitFor([&] { return menus().enabled(Menus::HexView); }, AnswerMs));
    m_window->clearOrStop();
    type(u"ab"_s);
    pressKey(Qt::Key_Return);
    EXPECT_EQ(m_pty.readMasterExactly(3, AnswerMs), QByteArray("ab\r"));
    farEndSends(bytes({'z', 0xFF, 0xFF, 'y'}));
    for (const ScriptedDialogs::Call &call : m_dialogs.messages())
        EXPECT_FALSE(call.text.contains(u"COM7"_s)) << call.text.toStdString();
}

TEST_F(NetworkPortTest, ModemLinesFromTheServerReachTheStripAndDtrRtsReachTheServer)
{
    ScriptedComPortServer server;
    ASSERT_TRUE(server.isListening());
    ASSERT_TRUE(m_config.linkPort(PortNumber, server.url()));
    startWindow();
    openAndWaitForTheServer();

    const auto stripShows = [&](const QString &lines) {
        return waitFor([&] { return m_window->statusStrip().currentText().contains(lines); },
                       AnswerMs);
    };
    // The strip's clock reads the whole line each second, and would show a change that the port
    // never reported: stopped, it leaves the port's report as the only way there.
    QTimer *clock = m_window->statusStrip().findChild<QTimer *>(u"Clock"_s);
    ASSERT_NE(clock, nullptr);
    clock->stop();
    server.sendModemState(0x80 | 0x20 | 0x10 | 0x08 | 0x02 | 0x01);
    EXPECT_TRUE(stripShows(u"CD:开  CTS:开  DSR:开"_s))
            << m_window->statusStrip().currentText().toStdString();
    server.sendModemState(0x20 | 0x08);
    EXPECT_TRUE(stripShows(u"CD:关  CTS:关  DSR:开"_s))
            << m_window->statusStrip().currentText().toStdString();

    // SET-CONTROL 9 (DTR off) and 12 (RTS off), in the order the items were used.
    click(Menus::Dtr);
    click(Menus::Rts);
    const QByteArray dtrOff = TelnetCodec::subnegotiation(44, bytes({5, 9}));
    const QByteArray rtsOff = TelnetCodec::subnegotiation(44, bytes({5, 12}));
    EXPECT_TRUE(waitFor([&] { return server.heard.contains(rtsOff); }, AnswerMs));
    EXPECT_GE(server.heard.indexOf(rtsOff), server.heard.indexOf(dtrOff));
    EXPECT_GE(server.heard.indexOf(dtrOff), 0);
}

TEST_F(NetworkPortTest, RefusedAtOpenSaysSoOnceAStoppedServerIsWaitedForAndTheCaptureGoesOn)
{
    startServer();
    if (IsSkipped())
        return;
    startWindow();

    // Nothing listens: one message naming the port, the address and the cause; item 1 off.
    m_server->stop();
    click(Menus::OpenPort);
    ASSERT_TRUE(waitFor([&] { return !menus().checked(Menus::OpenPort); }, AnswerMs));
    ASSERT_EQ(m_dialogs.messages().size(), 1);
    const QString refused = m_dialogs.messages().first().text;
    EXPECT_TRUE(refused.contains(u"COM7"_s) && refused.contains(m_server->url())
                && refused.contains(u"拒绝"_s))
            << refused.toStdString();
    EXPECT_TRUE(noticeLines().isEmpty()) << "a failed opening is not a loss to wait out";
    EXPECT_FALSE(portItemsEnabled());

    ASSERT_TRUE(m_server->start()) << m_server->error().toStdString();
    m_dialogs.clearCalls();
    openAndWaitForTheServer();
    startCapture();
    farEndSends(everyByteValue());

    // The server stops: the port closes with one notice line and no box.
    m_server->stop();
    ASSERT_TRUE(waitFor([&] { return !menus().checked(Menus::OpenPort); }, AnswerMs));
    EXPECT_FALSE(portItemsEnabled());
    QTest::qWait(100);
    QStringList notices = noticeLines();
    ASSERT_EQ(notices.size(), 1) << notices.join(u'|').toStdString();
    EXPECT_TRUE(notices[0].contains(u"COM7"_s) && notices[0].contains(m_server->url()))
            << notices[0].toStdString();
    EXPECT_TRUE(m_dialogs.messages().isEmpty()) << m_dialogs.messages()[0].text.toStdString();
    EXPECT_TRUE(menus().checked(Menus::Capture));

    // Trying the server again and again costs next to nothing, and stays quiet.
    EXPECT_LT(cpuSecondsOverClockTicks(3), 0.5);
    EXPECT_EQ(noticeLines().size(), 1);

    // The server is back: the port reopens by itself, says so once, and the capture goes on in
    // the same file.
    ASSERT_TRUE(m_server->start()) << m_server->error().toStdString();
    ASSERT_TRUE(waitFor([&] { return portItemsEnabled(); }, AnswerMs)) << "no reconnect";
    EXPECT_TRUE(menus().checked(Menus::OpenPort));
    notices = noticeLines();
    ASSERT_EQ(notices.size(), 2) << notices.join(u'|').toStdString();
    EXPECT_TRUE(notices[1].contains(u"COM7"_s)) << notices[1].toStdString();
    EXPECT_TRUE(m_dialogs.messages().isEmpty()) << m_dialogs.messages()[0].text.toStdString();
    farEndSends(bytes({'b', 'a', 'c', 'k', 0xFF}));
    type(u"hi"_s);
    pressKey(Qt::Key_Return);
    EXPECT_EQ(m_pty.readMasterExactly(3, AnswerMs), QByteArray("hi\r"));
}

} // namespace
