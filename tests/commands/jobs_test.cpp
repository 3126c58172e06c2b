// The long jobs and their runner without a widget: the window is a recording JobView, the
// terminal a string and the port a fake, so the order in which a job locks the window, reports
// and ends is read off directly.

#include "commands/commandcontext.h"
#include "commands/filetransfer.h"
#include "commands/loopsend.h"
#include "receive/capturefile.h"
#include "core/jobrunner.h"
#include "core/switches.h"
#include "core/terminal.h"
#include "support/fakecommport.h"
#include "support/memorysettingsstore.h"
#include "support/scripteddialogs.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>

using namespace Qt::StringLiterals;

namespace {

QCoreApplication &coreApp()
{
    static int argc = 1;
    static char name[] = "jobs_test";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Everything the window is told, in order.
class RecordingView : public JobView
{
public:
    void setJobRunning(bool running, bool stopButton) override
    {
        log.append(running ? (stopButton ? u"running, button stops"_s : u"running"_s) : u"ended"_s);
    }
    void showJobProgress(qint64 done, qint64 total) override
    {
        log.append(u"progress %1/%2"_s.arg(done).arg(total));
    }
    void showJobResult(const JobResult &result) override
    {
        if (result.report == JobResult::Report::Box)
            log.append(u"box "_s + result.text);
        else if (result.report == JobResult::Report::Notice)
            log.append(u"notice "_s + result.text);
    }

    QStringList log;
};

class TextTerminal : public Terminal
{
public:
    qsizetype textLength() override { return text.size(); }
    QChar charAt(qsizetype position) override
    {
        return position >= 0 && position < text.size() ? text.at(position) : QChar();
    }
    void clearText() override { text.clear(); }
    void setSelStart(qsizetype) override {}
    void moveCaretToEnd() override {}
    void setSelColor(RgbColor) override {}
    void setSelReceived(bool) override {}
    void insertText(const QString &inserted) override { text += inserted; }
    TextRuns runs() override { return {TextRun{text, 0, false}}; }
    void setRuns(const TextRuns &runs) override
    {
        text.clear();
        appendRuns(runs);
    }
    void appendRuns(const TextRuns &runs) override
    {
        for (const TextRun &run : runs)
            text += run.text;
    }
    bool setArrivalsHeld(bool) override { return false; }
    void appendLoaded(const TextRuns &runs) override { appendRuns(runs); }
    void setInputEnabled(bool enabled) override { inputEnabled = enabled; }

    QString text;
    bool inputEnabled = true;
};

class PlainSwitches : public Switches
{
public:
    bool checked(int item) const override { return m_checked.at(item); }
    void setChecked(int item, bool on) override { m_checked.at(item) = on; }
    bool enabled(int item) const override { return m_enabled.at(item); }
    void setEnabled(int item, bool on) override { m_enabled.at(item) = on; }

private:
    std::array<bool, CommandCount> m_checked{};
    std::array<bool, CommandCount> m_enabled{};
};

class NoMainActions : public MainActions
{
public:
    void showSettings() override {}
    void exitProgram() override {}
    void clearOrStop() override {}
};

class JobsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        coreApp();
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_port.setPortOpen(true).ok());
    }

    QString writeFile(const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(u"file.bin"_s);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return path;
    }

    QTemporaryDir m_dir;
    FakeCommPort m_port;
    PlainSwitches m_switches;
    ScriptedDialogs m_dialogs;
    MemorySettingsStore m_store;
    TextTerminal m_terminal;
    CaptureFile m_capture;
    RecordingView m_view;
    JobRunner m_jobs{m_view};
    NoMainActions m_main;
    CommandContext m_context{m_port,     m_switches, m_dialogs, m_store,
                             m_terminal, m_capture,  m_jobs,    m_main};
};

TEST_F(JobsTest, AViewLocksTheOthersOutAndTheButtonEndsItAfterOneMoreByte)
{
    FileTransfer files(m_context);
    LoopSend loop(m_context);
    m_dialogs.answerOpen(writeFile(QByteArray(1000, 'A')));
    files.openFileAsHex();
    ASSERT_TRUE(m_jobs.busy()) << "the dump is written on the next turns";
    EXPECT_FALSE(m_terminal.inputEnabled);

    // Nothing else starts meanwhile, and no dialog is shown for it (an unscripted one fails).
    files.sendFile();
    loop.clicked();
    EXPECT_FALSE(m_switches.checked(Switches::LoopSend));
    // The view needs no port, so losing it does not end the view.
    m_jobs.portClosed();
    EXPECT_TRUE(m_jobs.busy());

    m_jobs.stopRequested();
    EXPECT_FALSE(m_jobs.busy());
    EXPECT_EQ(m_terminal.text, u"41  :A\r\n"_s);
    EXPECT_TRUE(m_terminal.inputEnabled);
    EXPECT_EQ(m_view.log,
              (QStringList{u"running, button stops"_s, u"progress 0/1000"_s, u"ended"_s}));

    // A refusal is the job's last word, said once the window is free again.
    m_view.log.clear();
    m_dialogs.answerOpen(writeFile(QByteArray(70000, 'B')));
    files.openFileAsHex();
    EXPECT_FALSE(m_jobs.busy());
    EXPECT_EQ(m_view.log, (QStringList{u"running, button stops"_s, u"progress 0/70000"_s,
                                       u"ended"_s, u"box 太大哦 !!!"_s}));
}

TEST_F(JobsTest, ALoopIsStoppedByItsItemOrTheLineNotByTheButton)
{
    LoopSend loop(m_context);
    m_dialogs.answerInput(u"AT"_s);
    m_dialogs.answerInput(u"60000"_s);
    loop.clicked();
    ASSERT_TRUE(m_jobs.busy());
    EXPECT_TRUE(m_switches.checked(Switches::LoopSend));
    EXPECT_FALSE(m_jobs.stoppable());
    m_jobs.stopRequested();
    EXPECT_TRUE(loop.running()) << "the clear button keeps clearing beside a loop";

    loop.clicked();
    EXPECT_FALSE(m_jobs.busy());
    EXPECT_FALSE(m_switches.checked(Switches::LoopSend));

    // A write the line refuses ends the loop with a box; a closed port ends it quietly.
    m_dialogs.answerInput(u"AT"_s);
    m_dialogs.answerInput(u"0"_s);
    m_port.failNext(u"output"_s, u"写入失败"_s);
    loop.clicked();
    EXPECT_FALSE(m_jobs.busy());
    EXPECT_EQ(m_view.log.last(), u"box 写入失败"_s);

    m_dialogs.answerInput(u"AT"_s);
    m_dialogs.answerInput(u"60000"_s);
    loop.clicked();
    ASSERT_TRUE(m_jobs.busy());
    m_view.log.clear();
    m_jobs.portClosed();
    EXPECT_FALSE(m_switches.checked(Switches::LoopSend));
    EXPECT_EQ(m_view.log, QStringList{u"ended"_s});
}

} // namespace
