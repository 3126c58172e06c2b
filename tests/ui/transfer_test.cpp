// Transfers through the real main window and port: the menu, the file and folder dialogs, the
// runner's "停止" button and notice line, and the line taken from the terminal while the
// protocol runs (the capture still records it).

#include "app/menus.h"
#include "core/jobrunner.h"
#include "widgets/statusstrip.h"
#include "widgets/terminalbox.h"
#include "support/testbytes.h"
#include "support/mainwindowfixture.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int TransferTimeoutMs = 60000;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

class TransferTest : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ASSERT_TRUE(m_dir.isValid());
        startWindow();
        openPort();
    }

    QAction *transfer(int item) { return m_window->menus().transferAction(item); }
    QPushButton *clearButton() { return m_window->statusStrip().findChild<QPushButton *>(); }

    QTemporaryDir m_dir;
};

TEST_F(TransferTest, StopWhileTheReceiverIsSlowSendsCansAndGivesTheLineBack)
{
    const QString path = m_dir.filePath(u"slow.bin"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(randomBytes(10000, 9));
    file.close();

    ASSERT_TRUE(transfer(Menus::YmodemSend)->isEnabled());
    m_dialogs.answerOpen(path);
    transfer(Menus::YmodemSend)->trigger();
    EXPECT_EQ(clearButton()->text(), u"停止"_s);
    // One long job at a time, and a transfer is one.
    EXPECT_FALSE(transfer(Menus::XmodemSend)->isEnabled());
    EXPECT_FALSE(m_window->menus().enabled(Menus::SendFile));

    // The receiver starts, takes the name and then says nothing: the window waits, alive.
    ASSERT_TRUE(m_pty.writeMaster("C"));
    const QByteArray header = m_pty.readMasterExactly(133, 10000);
    ASSERT_EQ(header.left(3), QByteArray("\x01\x00\xff", 3));
    EXPECT_TRUE(header.mid(3).startsWith(QByteArray("slow.bin\0"
                                                    "10000 ",
                                                    15)))
            << header.toStdString();

    // A line typed meanwhile would be taken for the protocol's answers: it stays unsent, and
    // the CANs of the stop are all that follows the header.
    type(u"reboot"_s);
    pressKey(Qt::Key_Return);
    EXPECT_TRUE(box().text().contains(u"reboot : 7 字符  (未发出："_s))
            << box().text().toStdString();
    QTest::mouseClick(clearButton(), Qt::LeftButton);
    EXPECT_EQ(m_pty.readMaster(5000), QByteArray(5, '\x18'));
    EXPECT_EQ(clearButton()->text(), u"清除"_s);
    ASSERT_FALSE(noticeLines().isEmpty());
    EXPECT_TRUE(noticeLines().last().contains(u"已按“停止”中止"_s))
            << noticeLines().last().toStdString();
    EXPECT_TRUE(m_port->portOpen());
    EXPECT_TRUE(transfer(Menus::YmodemReceive)->isEnabled());

    // The line is the terminal's again.
    peerSends("after the transfer\r\n");
    EXPECT_TRUE(box().text().contains(u"after the transfer"_s));
}

TEST_F(TransferTest, BatchFromSbLandsInTheChosenFolderUnseenButCaptured)
{
    if (QStandardPaths::findExecutable(u"sb"_s).isEmpty())
        GTEST_SKIP() << "lrzsz is not installed (scripts/setup installs it)";
    const QString folder = m_dir.filePath(u"in"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QByteArray data = randomBytes(20000, 4);
    const QString source = m_dir.filePath(u"rx.bin"_s);
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();

    const QString capture = m_dir.filePath(u"line.cap"_s);
    m_dialogs.answerSave(capture);
    click(Menus::Capture);
    ASSERT_TRUE(m_window->menus().checked(Menus::Capture));

    m_dialogs.answerFolder(folder);
    transfer(Menus::YmodemReceive)->trigger();
    QProcess sb;
    ASSERT_TRUE(m_pty.startOnMaster(sb, u"sb"_s, {source}));
    ASSERT_TRUE(waitFor([this] { return !m_window->jobs().busy(); }, TransferTimeoutMs))
            << box().text().toStdString();
    ASSERT_TRUE(waitFor([&sb] { return sb.state() == QProcess::NotRunning; }, TransferTimeoutMs));
    m_pty.masterIsOurs();
    EXPECT_EQ(sb.exitCode(), 0) << sb.readAllStandardError().toStdString();

    EXPECT_EQ(readAll(folder + u"/rx.bin"_s), data);
    const QStringList notices = noticeLines();
    ASSERT_FALSE(notices.isEmpty());
    EXPECT_TRUE(notices.last().startsWith(u"YMODEM 接收完成：“rx.bin”，20000 字节"_s))
            << notices.last().toStdString();
    // The terminal shows the program's own lines and nothing of the protocol.
    QString rest = box().text();
    for (const QString &notice : notices)
        rest.remove(notice);
    EXPECT_TRUE(rest.trimmed().isEmpty()) << rest.toStdString();
    // The capture is the record of the line: block 0 with the name, and everything after it.
    click(Menus::Capture);
    const QByteArray captured = readAll(capture);
    EXPECT_TRUE(captured.startsWith(QByteArray("\x01\x00\xff"
                                               "rx.bin\0",
                                               10)))
            << captured.left(16).toHex().toStdString();
    EXPECT_GT(captured.size(), data.size());
}

} // namespace
