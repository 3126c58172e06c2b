// ZMODEM through the real main window and port, started the way a board's console starts it:
// sz or rz on the far end begins, and the window follows by itself.

#include "app/menus.h"
#include "core/jobrunner.h"
#include "widgets/statusstrip.h"
#include "widgets/terminalbox.h"
#include "support/mainwindowfixture.h"
#include "support/testbytes.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
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

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

class ZmodemWindowTest : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        if (QStandardPaths::findExecutable(u"sz"_s).isEmpty())
            GTEST_SKIP() << "lrzsz is not installed (scripts/setup installs it)";
        ASSERT_TRUE(m_dir.isValid());
        startWindow();
        openPort();
    }

    void runFarEnd(QProcess &farEnd, const QString &program, const QStringList &arguments,
                   const QString &folder)
    {
        farEnd.setWorkingDirectory(folder);
        ASSERT_TRUE(m_pty.startOnMaster(farEnd, program, arguments));
        ASSERT_TRUE(waitFor([&farEnd] { return farEnd.state() == QProcess::NotRunning; },
                            TransferTimeoutMs));
        ASSERT_TRUE(waitFor([this] { return !m_window->jobs().busy(); }, TransferTimeoutMs));
        m_pty.masterIsOurs();
    }

    QTemporaryDir m_dir;
};

TEST_F(ZmodemWindowTest, SzOnTheFarEndLandsItsFileByItselfAndTheHeaderNeverShows)
{
    ASSERT_TRUE(m_window->menus().transferAction(Menus::ZmodemAuto)->isChecked());
    const QString source = m_dir.filePath(u"board"_s);
    const QString folder = m_dir.filePath(u"in"_s);
    ASSERT_TRUE(QDir().mkpath(source) && QDir().mkpath(folder));
    const QByteArray data = randomBytes(100000, 7);
    ASSERT_TRUE(writeFile(source + u"/log.bin"_s, data));

    // The first time the folder is asked for; the second time it is known.
    m_dialogs.answerFolder(folder);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        peerSends("board$ ");
        QProcess sz;
        runFarEnd(sz, u"sz"_s, {u"log.bin"_s}, source);
        EXPECT_EQ(sz.exitCode(), 0) << sz.readAllStandardError().toStdString();
    }
    EXPECT_EQ(readAll(folder + u"/log.bin"_s), data);
    EXPECT_EQ(readAll(folder + u"/log (1).bin"_s), data);
    const QString text = box().text();
    EXPECT_FALSE(text.contains(u"B00"_s)) << text.toStdString();
    EXPECT_TRUE(text.contains(u"board$ "_s));
    const QStringList notices = noticeLines();
    ASSERT_FALSE(notices.isEmpty());
    EXPECT_TRUE(notices.join(u'\n').contains(u"自动接收"_s)) << notices.join(u'\n').toStdString();
    EXPECT_TRUE(notices.last().contains(u"1 个文件"_s)) << notices.last().toStdString();
    EXPECT_TRUE(m_port->portOpen());
}

TEST_F(ZmodemWindowTest, RzOnTheFarEndOpensTheFileDialogAndTakesTheFile)
{
    const QString folder = m_dir.filePath(u"board"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QByteArray data = everyByteValue().repeated(300);
    const QString path = m_dir.filePath(u"firmware.bin"_s);
    ASSERT_TRUE(writeFile(path, data));

    m_dialogs.answerOpen(path);
    QProcess rz;
    runFarEnd(rz, u"rz"_s, {}, folder);
    EXPECT_EQ(rz.exitCode(), 0) << rz.readAllStandardError().toStdString();
    EXPECT_EQ(readAll(folder + u"/firmware.bin"_s), data);

    // Refused, the dialog tells rz no, and rz gives up at once rather than waiting.
    m_dialogs.answerOpen(std::nullopt);
    QProcess refused;
    runFarEnd(refused, u"rz"_s, {}, folder);
    EXPECT_NE(refused.exitCode(), 0);
    EXPECT_TRUE(noticeLines().last().contains(u"已取消"_s)) << noticeLines().last().toStdString();
    EXPECT_TRUE(m_window->menus().transferAction(Menus::ZmodemSend)->isEnabled());
}

TEST_F(ZmodemWindowTest, StopSendsTheCancelAndGivesTheLineBack)
{
    const QString folder = m_dir.filePath(u"in"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    m_dialogs.answerFolder(folder);
    m_window->menus().transferAction(Menus::ZmodemReceive)->trigger();
    ASSERT_TRUE(m_window->jobs().busy());
    // The receiver announces itself: ZRINIT.
    EXPECT_TRUE(m_pty.readMaster(5000).startsWith("**\x18"
                                                  "B01"));
    auto *stop = m_window->statusStrip().findChild<QPushButton *>();
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop->text(), u"停止"_s);
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_EQ(m_pty.readMaster(5000), QByteArray(5, '\x18') + QByteArray(5, '\b'));
    EXPECT_FALSE(m_window->jobs().busy());
    EXPECT_TRUE(m_port->portOpen());
    peerSends("prompt$ ");
    EXPECT_TRUE(box().text().contains(u"prompt$ "_s));
}

TEST_F(ZmodemWindowTest, ZrqinitFloodInPlainTextWritesNothingAndLeavesTheTerminalUsable)
{
    const QString folder = m_dir.filePath(u"in"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    m_dialogs.answerFolder(folder);
    const QByteArray zrqinit("**\x18"
                             "B00000000000000\r\x8a\x11");
    ASSERT_TRUE(m_pty.writeMaster(zrqinit.repeated(4000)));
    ASSERT_TRUE(waitFor([this] { return !m_window->jobs().busy(); }, TransferTimeoutMs));
    peerSends("still here\r\n");
    EXPECT_TRUE(waitFor([this] { return box().text().contains(u"still here"_s); }));
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_TRUE(m_port->portOpen());
}

} // namespace
