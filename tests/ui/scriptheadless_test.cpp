// "--script" started from a shell without a display: its exit status says how the checks went,
// its standard output carries what the device said, --junit writes the report a CI server reads,
// and Ctrl+C or SIGTERM close the port and end it with 130 or 143.

#include "support/ptypair.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

class ScriptHeadlessTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "scriptheadless_test";
        static char *argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        ASSERT_TRUE(m_pty.isValid()) << m_pty.error().toStdString();
        const QString ports = m_home.filePath(u"velmir-rs232/ports"_s);
        ASSERT_TRUE(QDir().mkpath(ports));
        ASSERT_TRUE(QFile::link(m_pty.slavePath(), ports + u"/COM7"_s));
        ASSERT_TRUE(QFile::link(u"/nonexistent/tty"_s, ports + u"/COM8"_s));
    }

    QString script(const QByteArray &source, const QString &name = u"check.lua"_s)
    {
        const QString path = m_home.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(source);
        return path;
    }

    void start(const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
            env.remove(name);
        env.insert(u"XDG_CONFIG_HOME"_s, m_home.path());
        m_process.setProcessEnvironment(env);
        m_process.start(QDir(QCoreApplication::applicationDirPath()).filePath(u"../velmir-rs232"_s),
                        arguments);
        ASSERT_TRUE(m_process.waitForStarted(10000));
    }

    int finish()
    {
        if (!QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; }, 30000)) {
            m_process.kill();
            m_process.waitForFinished();
            return -1;
        }
        m_out += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -2;
    }

    QString junit() const
    {
        QFile file(m_home.filePath(u"report.xml"_s));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir m_home;
    PtyPair m_pty;
    QProcess m_process;
    QString m_out;
};

} // namespace

TEST_F(ScriptHeadlessTest, ExitStatusAndReportFollowTheChecks)
{
    const QString report = m_home.filePath(u"report.xml"_s);
    start({u"--script"_s, script(R"lua(
sendline("version")
check(expect("U%-Boot [%d.]+", 10) == 1, "版本号")
check(arg[1] == "a" and arg[2] == "b c", "参数")
check(#arg == 3, "故意失败")
)lua"),
           u"--port"_s, u"COM7"_s, u"--junit"_s, report, u"--"_s, u"a"_s, u"b c"_s});
    EXPECT_EQ(m_pty.readMasterExactly(8, 10000), "version\r");
    ASSERT_TRUE(m_pty.writeMaster("U-Boot 2023.01 <rest>\r\n"));
    EXPECT_EQ(finish(), 1) << m_out.toStdString();
    EXPECT_TRUE(m_out.contains(u"U-Boot 2023.01 <rest>"_s)) << m_out.toStdString();
    EXPECT_TRUE(m_out.contains(u"脚本 check.lua：2 项检查通过，1 项失败（第 5 行 “故意失败”）"_s))
            << m_out.toStdString();
    const QString xml = junit();
    EXPECT_TRUE(xml.contains(
            u"<testsuite name=\"check.lua\" tests=\"3\" failures=\"1\" errors=\"0\""_s))
            << xml.toStdString();
    EXPECT_TRUE(xml.contains(u"<testcase classname=\"check.lua\" name=\"版本号\""_s));
    EXPECT_TRUE(xml.contains(u">检查失败：故意失败（第 5 行）</failure>"_s)) << xml.toStdString();
}

TEST_F(ScriptHeadlessTest, ErrorsAndRefusalsEndWithStatusTwo)
{
    const struct
    {
        const char *what;
        QStringList arguments;
        int status;
    } cases[] = {
            {"all passed", {u"--script"_s, script("check(true, 'ok')"), u"--port"_s, u"COM7"_s}, 0},
            {"syntax error",
             {u"--script"_s, script("x = = 1", u"syntax.lua"_s), u"--port"_s, u"COM7"_s},
             2},
            {"missing script",
             {u"--script"_s, m_home.filePath(u"none.lua"_s), u"--port"_s, u"COM7"_s},
             2},
            {"port will not open",
             {u"--script"_s, script("check(true)", u"closed.lua"_s), u"--port"_s, u"COM8"_s},
             2},
            {"junit without script", {u"--junit"_s, u"x.xml"_s}, 2},
            {"arguments without script", {u"--"_s, u"a"_s}, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        m_out.clear();
        start(c.arguments);
        EXPECT_EQ(finish(), c.status)
                << m_out.toStdString() << m_process.readAllStandardError().toStdString();
    }
}

TEST_F(ScriptHeadlessTest, InterruptAndTerminateClosePortAndReport)
{
    for (const auto &[signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        SCOPED_TRACE(status);
        m_out.clear();
        start({u"--script"_s, script("check(true, 'first') print('waiting') expect('never', 3600)"),
               u"--port"_s, u"COM7"_s, u"--junit"_s, m_home.filePath(u"report.xml"_s)});
        ASSERT_TRUE(QTest::qWaitFor(
                [this] {
                    m_out += QString::fromUtf8(m_process.readAllStandardOutput());
                    return m_out.contains(u"waiting"_s);
                },
                20000));
        ::kill(pid_t(m_process.processId()), signal);
        EXPECT_EQ(finish(), status);
        EXPECT_TRUE(m_out.contains(u"脚本 check.lua 已停止"_s)) << m_out.toStdString();
        EXPECT_TRUE(junit().contains(u"errors=\"1\""_s)) << junit().toStdString();
    }
}
