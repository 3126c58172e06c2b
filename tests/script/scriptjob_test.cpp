// Scripts against a far end on a pseudo-terminal, through the real port object and the receive
// pipeline: a dialogue, and the hostile cases (a runaway loop, a memory bomb, a syntax error, a
// pattern that never comes, a megabyte line, a peer that vanishes).

#include "receive/capturefile.h"
#include "core/commport.h"
#include "core/lineclaim.h"
#include "receive/lineowner.h"
#include "receive/receivepipeline.h"
#include "core/switches.h"
#include "port/serialport.h"
#include "script/scriptjob.h"
#include "support/ptypair.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <array>

using namespace Qt::StringLiterals;

namespace {

constexpr int TestPort = 7;

class PlainSwitches : public Switches
{
public:
    bool checked(int item) const override { return m_checked.at(item); }
    void setChecked(int item, bool on) override { m_checked.at(item) = on; }
    bool enabled(int) const override { return true; }

private:
    std::array<bool, CommandCount> m_checked{};
};

// The terminal's side: what the script sent and said, and the received text the pipeline let
// through, in the order it came.
class Transcript : public ScriptOutput
{
public:
    void sent(const QString &shown, int count) override
    {
        text += u"[sent %1 (%2)]"_s.arg(shown).arg(count);
    }
    void notice(const QString &line) override
    {
        ++notices;
        if (text.size() < 100000)
            text += u"[notice "_s + line + u"]"_s;
    }
    QString text;
    int notices = 0;
};

class ScriptJobTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "scriptjob_test";
        static char *argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_home.linkPty(TestPort, m_pty));
        ASSERT_TRUE(m_port.setCommPort(TestPort).ok());
        ASSERT_TRUE(m_port.setPortOpen(true).ok());
        m_switches.setChecked(Switches::SendCr, true);
        QObject::connect(&m_line, &LineOwner::forTerminal, &m_port,
                         [this](const QByteArray &chunk) {
                             for (const TextRun &run : m_pipeline.feed(chunk))
                                 m_shown += run.text;
                             if (m_transcript.text.size() < 100000)
                                 m_transcript.text += u"[shown]"_s;
                         });
    }

    // Starts the script; the far end then plays its part while the job runs.
    std::unique_ptr<ScriptJob> start(const QByteArray &source, const QStringList &args = {},
                                     TextEncoding encoding = TextEncoding::Gbk)
    {
        const QString path = m_dir.filePath(u"t.lua"_s);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(source);
        file.close();
        auto job
                = std::make_unique<ScriptJob>(m_port, m_line, m_switches, m_transcript, path, args);
        job->setEncoding(encoding);
        job->start();
        return job;
    }

    static bool waitEnd(ScriptJob &job, int ms = 20000)
    {
        return QTest::qWaitFor([&] { return !job.running(); }, ms);
    }

    TempConfigHome m_home;
    PtyPair m_pty;
    SerialPort m_port;
    PlainSwitches m_switches;
    CaptureFile m_capture;
    ReceivePipeline m_pipeline{m_switches};
    LineOwner m_line{m_port, m_switches, m_capture};
    Transcript m_transcript;
    QString m_shown;
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ScriptJobTest, DialogueSendsInCodePage936ChecksTheAnswerAndTheTerminalShowsItAll)
{
    auto job = start(R"lua(
        sendline("version")
        local i, text, major = expect({"bad", "U%-Boot (%d+)"}, 5)
        check(i == 2 and major == "2023", "版本号")
        check(expect("=> ", 5, {plain = true}) == 1, "提示符")
        send("中文")
        sendhex("01 03 00 0A")
        check(checksum("modbus", "123456789") == "\x37\x4B", "校验")
        check(arg[1] == "板子", "参数")
        check(false, "故意失败")
    )lua",
                     {u"板子"_s});
    EXPECT_EQ(m_pty.readMasterExactly(8, 5000), "version\r");
    ASSERT_TRUE(m_pty.writeMaster("U-Boot 2023.01 (Jan 01)\r\n=> "));
    // "中文" in code page 936, then the hex bytes.
    EXPECT_EQ(m_pty.readMasterExactly(8, 5000), QByteArray("\xD6\xD0\xCE\xC4\x01\x03\x00\x0A", 8));
    ASSERT_TRUE(waitEnd(*job));

    EXPECT_EQ(job->ending(), ScriptJob::Ending::Completed);
    ASSERT_EQ(job->checks().size(), 5);
    EXPECT_TRUE(job->checks()[0].passed);
    EXPECT_TRUE(job->checks()[1].passed);
    EXPECT_TRUE(job->checks()[2].passed);
    EXPECT_TRUE(job->checks()[3].passed);
    EXPECT_EQ(job->summary(), u"脚本 t.lua：4 项检查通过，1 项失败（第 10 行 “故意失败”）"_s);
    EXPECT_TRUE(m_shown.contains(u"U-Boot 2023.01"_s)) << m_shown.toStdString();
    EXPECT_TRUE(m_transcript.text.startsWith(u"[sent version (8)]"_s))
            << m_transcript.text.toStdString();
    EXPECT_TRUE(m_transcript.text.contains(u"[sent 中文 (2)][sent 01 03 00 0A (4)]"_s));
    // The check of the answer comes after the answer was shown.
    EXPECT_LT(m_transcript.text.indexOf(u"[shown]"_s),
              m_transcript.text.indexOf(u"检查通过：版本号"_s));
    EXPECT_FALSE(m_line.taker());
}

// A board in a UTF-8 locale: with UTF-8 chosen, what the script sends and the text it waits for
// are UTF-8 on the line, not code page 936.
TEST_F(ScriptJobTest, WithUtf8ChosenTheScriptSpeaksUtf8)
{
    auto job = start(R"lua(
        send("中文")
        local i, text = expect("你好", 5)
        check(text == "你好", "收到")
    )lua",
                     {}, TextEncoding::Utf8);
    EXPECT_EQ(m_pty.readMasterExactly(6, 5000), QByteArray("\xE4\xB8\xAD\xE6\x96\x87"));
    ASSERT_TRUE(m_pty.writeMaster("\xE4\xBD\xA0\xE5\xA5\xBD\r\n"));
    ASSERT_TRUE(waitEnd(*job));
    ASSERT_EQ(job->checks().size(), 1);
    EXPECT_TRUE(job->checks()[0].passed);
}

TEST_F(ScriptJobTest, HostileScriptsEndWithAClearWordAndLeaveThePortOpen)
{
    const struct
    {
        const char *what;
        const char *source;
        ScriptJob::Ending ending;
        const char16_t *says;
    } cases[] = {
            {"syntax error", "x = = 1", ScriptJob::Ending::Error,
             u"脚本 t.lua 第 1 行出错：语法错误"},
            {"runtime error", "\n\nlocal t = nil\nprint(t.x)", ScriptJob::Ending::Error,
             u"脚本 t.lua 第 4 行出错：对 nil 值取字段"},
            {"memory bomb",
             "local t = {} while true do t[#t + 1] = string.rep('x', 1 << 20) .. #t end",
             ScriptJob::Ending::Error, u"超过 256 MiB 上限"},
            {"memory bomb under pcall",
             "while true do pcall(function() local t = {} while true do t[#t + 1] = "
             "string.rep('x', 1 << 20) .. #t end end) end",
             ScriptJob::Ending::Error, u"超过 256 MiB 上限"},
            {"exit", "os.exit(3)", ScriptJob::Ending::Error, u"不能结束整个程序"},
            {"wait in a coroutine", "coroutine.wrap(function() sleep(1) end)()",
             ScriptJob::Ending::Error, u"只能在脚本主体中调用"},
            {"bad pattern", "expect('[abc', 1)", ScriptJob::Ending::Error, u"匹配模式“[abc”有误"},
            {"unknown checksum", "checksum('md5', 'x')", ScriptJob::Ending::Error,
             u"未知的校验方式"},
            {"a pattern that never comes",
             "check(expect('never', 0.2) == nil, 'timeout') check(readline(0.1) == nil, 'line')",
             ScriptJob::Ending::Completed, u"2 项检查全部通过"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto job = start(c.source);
        ASSERT_TRUE(waitEnd(*job, 60000));
        EXPECT_EQ(job->ending(), c.ending);
        EXPECT_TRUE(job->summary().contains(QString::fromUtf16(c.says)))
                << job->summary().toStdString();
        EXPECT_TRUE(m_port.portOpen());
        EXPECT_FALSE(m_line.taker());
    }
}

TEST_F(ScriptJobTest, StopEndsARunawayLoopAndAWaitingExpect)
{
    for (const char *source :
         {"while true do end", "while true do pcall(function() while true do end end) end",
          "expect('never', 3600)", "while true do print('x') end"}) {
        SCOPED_TRACE(source);
        auto job = start(source);
        // The loop runs in slices, so the event loop still turns and the stop gets through.
        QTimer::singleShot(100, job.get(), [&job] { job->stop(); });
        ASSERT_TRUE(waitEnd(*job));
        EXPECT_EQ(job->ending(), ScriptJob::Ending::Stopped);
        EXPECT_EQ(job->summary(), u"脚本 t.lua 已停止"_s);
    }
    EXPECT_GT(m_transcript.notices, 0);
}

TEST_F(ScriptJobTest, AMegabyteLineArrivesWholeWhileTheTerminalShowsIt)
{
    auto job = start(R"lua(
        local line = readline(30)
        check(line and #line == 1048576 and line:sub(1, 3) == "aaa", "长行")
        check(expect("tail", 10) == 1, "之后")
    )lua");
    QByteArray line(1 << 20, 'a');
    line += "\r\ntail\r\n";
    ASSERT_TRUE(m_pty.writeMaster(line, 30000));
    ASSERT_TRUE(waitEnd(*job, 60000));
    EXPECT_EQ(job->summary(), u"脚本 t.lua：2 项检查全部通过"_s);
    EXPECT_GE(m_shown.count(u'a'), 1 << 20);
}

TEST_F(ScriptJobTest, APeerThatVanishesEndsTheScriptAsThePortCloses)
{
    auto job = start("expect('never', 3600)");
    // What the window does when the port is lost.
    QObject::connect(&m_port, &CommPort::lost, job.get(), [&job] { job->portClosed(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_line.taker() != nullptr; }, 5000));
    m_pty.closeMaster();
    ASSERT_TRUE(waitEnd(*job));
    EXPECT_EQ(job->ending(), ScriptJob::Ending::PortClosed);
    EXPECT_EQ(job->summary(), u"脚本 t.lua 已结束：端口已关闭"_s);
}
