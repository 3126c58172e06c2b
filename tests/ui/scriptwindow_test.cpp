// Scripts in the window: the menu beside the view menu, a dialogue that reads like typing in the
// terminal, the result line, and the stops that end a script (the clear button, closing the port,
// closing the window).

#include "app/menus.h"
#include "app/scriptmenu.h"
#include "core/colors.h"
#include "core/jobrunner.h"
#include "script/scriptjob.h"
#include "support/mainwindowfixture.h"
#include "widgets/terminalbox.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString textInColor(const TextRuns &runs, RgbColor color)
{
    QString text;
    for (const TextRun &run : runs) {
        if (run.color == color)
            text += run.text;
    }
    return text;
}

class ScriptWindowTest : public MainWindowFixture
{
protected:
    QString writeScript(const QString &name, const QByteArray &source)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(source);
        return path;
    }

    void runFromMenu(const QString &path)
    {
        m_dialogs.answerOpen(path);
        m_window->menuBar()->findChild<QAction *>(u"RunScriptItem"_s)->trigger();
        ASSERT_TRUE(m_window->jobs().busy());
    }

    bool scriptEnded()
    {
        return waitFor([this] { return !m_window->jobs().busy(); }, 20000);
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ScriptWindowTest, DialogueReadsAsTypedLinesAndEndsWithTheResultLine)
{
    startWindow();
    openPort();
    QStringList titles;
    for (QAction *action : m_window->menuBar()->actions())
        titles << action->text();
    const qsizetype view = titles.indexOf(u"视图(&V)"_s);
    ASSERT_GE(view, 0);
    EXPECT_EQ(titles.value(view + 1), u"脚本(&S)"_s) << titles.join(u' ').toStdString();

    const QString path = writeScript(u"boot.lua"_s, R"lua(
print("等待 U-Boot")
sendline("version")
local i, text = expect("U%-Boot [%d.]+", 10)
check(i == 1, "版本号")
)lua");
    runFromMenu(path);
    EXPECT_EQ(m_pty.readMasterExactly(8, 5000), "version\r");
    ASSERT_TRUE(m_pty.writeMaster("U-Boot 2023.01 (Jan 01 2023)\r\n=> "));
    ASSERT_TRUE(scriptEnded());

    const TextRuns runs = box().runs();
    EXPECT_EQ(textInColor(runs, TerminalColors::Typed), u"version\n"_s);
    EXPECT_EQ(textInColor(runs, TerminalColors::Count), u" : 8 字符 "_s);
    EXPECT_TRUE(box().text().contains(u"U-Boot 2023.01 (Jan 01 2023)"_s));
    EXPECT_EQ(noticeLines(), (QStringList{u"等待 U-Boot"_s, u"检查通过：版本号"_s,
                                          u"脚本 boot.lua：1 项检查全部通过"_s}));
    EXPECT_EQ(m_window->scripts().recent().value(0), path);
    EXPECT_TRUE(m_port->portOpen());
}

TEST_F(ScriptWindowTest, StopButtonClosingThePortAndClosingTheWindowEndAScript)
{
    startWindow();
    openPort();
    const QString loop = writeScript(u"loop.lua"_s, "while true do end");
    runFromMenu(loop);
    // The loop yields in slices, so the window's clear button, now "停止", gets through.
    ASSERT_TRUE(waitFor([this] { return m_window->scripts().job()->running(); }));
    m_window->clearOrStop();
    ASSERT_TRUE(scriptEnded());
    EXPECT_TRUE(noticeLines().contains(u"脚本 loop.lua 已停止"_s));

    const QString wait = writeScript(u"wait.lua"_s, "expect('never', 3600)");
    runFromMenu(wait);
    click(Menus::OpenPort);
    ASSERT_TRUE(scriptEnded());
    EXPECT_TRUE(noticeLines().contains(u"脚本 wait.lua 已结束：端口已关闭"_s));

    openPort();
    runFromMenu(wait);
    // Recent scripts, newest first, each once.
    EXPECT_EQ(m_window->scripts().recent(), (QStringList{wait, loop}));
    QPointer<ScriptJob> job = m_window->scripts().job();
    m_window.reset();
    EXPECT_TRUE(job.isNull());
}

TEST_F(ScriptWindowTest, AMillionPrintedLinesReachTheTerminalInOrderAndEnd)
{
    startWindow();
    runFromMenu(writeScript(u"many.lua"_s, "for i = 1, 1000000 do print(i) end"));
    ASSERT_TRUE(waitFor([this] { return !m_window->jobs().busy(); }, 120000));
    QString text = box().text();
    text.replace(u"\r\n"_s, u"\n"_s).replace(QChar::ParagraphSeparator, u'\n');
    EXPECT_TRUE(text.contains(u"\n999999\n1000000\n脚本 many.lua 已运行完毕（没有检查项）"_s))
            << text.right(200).toStdString();
    EXPECT_LE(text.size(), MainWindow::MaxTerminalCharacters);
}

TEST_F(ScriptWindowTest, YmodemSendToLrzszThenTheLineIsTheScriptsAgain)
{
    if (QStandardPaths::findExecutable(u"rb"_s).isEmpty())
        GTEST_SKIP() << "lrzsz is not installed (scripts/setup installs it)";
    startWindow();
    openPort();
    QByteArray image(64 * 1024 + 77, Qt::Uninitialized);
    for (qsizetype i = 0; i < image.size(); ++i)
        image[i] = char((i * 7919) >> 3);
    QFile file(m_dir.filePath(u"image.bin"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
    file.close();
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(u"out"_s));

    QProcess rb;
    rb.setWorkingDirectory(m_dir.filePath(u"out"_s));
    ASSERT_TRUE(m_pty.startOnMaster(rb, u"rb"_s, {}));
    runFromMenu(writeScript(u"load.lua"_s, R"lua(
local ok, text = ymodem_send("image.bin")
check(ok, "发送")
check(expect("ready", 30), "之后")
)lua"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rb.state() == QProcess::NotRunning; }, 120000));
    m_pty.masterIsOurs();
    // Often in the chunk that brings the transfer's last answer: it must reach the script.
    ASSERT_TRUE(m_pty.writeMaster("ready\r\n"));
    ASSERT_TRUE(scriptEnded());
    EXPECT_EQ(noticeLines().last(), u"脚本 load.lua：2 项检查全部通过"_s)
            << box().text().toStdString();
    QFile received(m_dir.filePath(u"out/image.bin"_s));
    ASSERT_TRUE(received.open(QIODevice::ReadOnly));
    EXPECT_EQ(received.readAll(), image);
}
