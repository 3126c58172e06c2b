// The real program started from a shell: its command line answers without a display, refuses
// what it does not know with status 2, and --settings, --port and --open make a window of its
// own file and port.

#include "core/appinfo.h"
#include "support/ptypair.h"
#include "support/testapp.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

QString program()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(u"../velmir-rs232"_s);
}

struct Outcome
{
    int status = -1;
    QString out;
    QString err;
};

// A terminal with no display at all: neither an X server nor Qt's offscreen platform.
Outcome runWithoutDisplay(const QStringList &arguments, const QString &configHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        env.remove(name);
    env.insert(u"XDG_CONFIG_HOME"_s, configHome);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program(), arguments);
    Outcome run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

bool holdsDevice(qint64 pid, const QString &device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    const QDir fds(u"/proc/%1/fd"_s.arg(pid));
    for (const QString &fd : fds.entryList(QDir::Files | QDir::System)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            return true;
    }
    return false;
}

class CommandLineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureApp();
        if (!QFileInfo(program()).isExecutable())
            GTEST_FAIL() << "build the program first: " << program().toStdString();
        ASSERT_TRUE(m_home.isValid());
    }

    QTemporaryDir m_home;
};

TEST_F(CommandLineTest, AnswersWithoutADisplayAndRefusesWhatItDoesNotKnowWithStatusTwo)
{
    struct Case
    {
        const char *what;
        QStringList arguments;
        int status;
        QStringList inOut;
        QString inErr;
    };
    const Case cases[] = {
            {"help", {u"--help"_s}, 0, {u"--settings"_s, u"--port"_s, u"--open"_s}, {}},
            {"short help", {u"-h"_s}, 0, {u"--version"_s}, {}},
            {"version", {u"--version"_s}, 0, {AppInfo::version()}, {}},
            {"unknown option", {u"--bogus"_s}, 2, {}, u"bogus"_s},
            {"value missing", {u"--settings"_s}, 2, {}, u"settings"_s},
            {"port not in the dialog", {u"--port"_s, u"COM100"_s}, 2, {}, u"COM100"_s},
            {"port not a port", {u"--port"_s, u"/dev/ttyS0"_s}, 2, {}, u"/dev/ttyS0"_s},
            {"extra argument", {u"COM3"_s}, 2, {}, u"COM3"_s},
            // A window needs a display: said in Chinese with the way to get one, never Qt's
            // abort.
            {"no options, no display", {}, 1, {}, u"xvfb-run -a "_s},
            {"a window asked for, no display", {u"--open"_s}, 1, {}, u"桌面会话"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome run = runWithoutDisplay(c.arguments, m_home.path());
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        for (const QString &text : c.inOut)
            EXPECT_TRUE(run.out.contains(text)) << run.out.toStdString();
        if (c.status == 0) {
            EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
        } else {
            // Said where a script's user looks for it, and nothing on the output it may parse.
            EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
            EXPECT_TRUE(run.err.contains(c.inErr)) << run.err.toStdString();
        }
    }
    // Refused before anything was written.
    EXPECT_TRUE(QDir(m_home.path()).isEmpty());
}

TEST_F(CommandLineTest, ASettingsFileOfItsOwnIsCreatedGetsThePortAndThePortOpensAtStart)
{
    PtyPair pty;
    ASSERT_TRUE(pty.isValid()) << pty.error().toStdString();
    const QString appDir = m_home.filePath(u"velmir-rs232"_s);
    ASSERT_TRUE(QDir().mkpath(appDir + u"/ports"_s));
    ASSERT_TRUE(QFile::link(pty.slavePath(), appDir + u"/ports/COM7"_s));
    const QString file = m_home.filePath(u"bench/board-b.ini"_s);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    env.insert(u"XDG_CONFIG_HOME"_s, m_home.path());
    QProcess app;
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    // Lower case, as people type it; the dialog's own name is stored.
    app.start(program(), {u"--settings"_s, file, u"--port"_s, u"com7"_s, u"--open"_s});
    ASSERT_TRUE(app.waitForStarted(20000));
    QDeadlineTimer deadline(20000);
    while (!holdsDevice(app.processId(), pty.slavePath()) && !deadline.hasExpired())
        QTest::qWait(20);
    EXPECT_TRUE(holdsDevice(app.processId(), pty.slavePath())) << "--open did not open COM7";

    ::kill(pid_t(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(20000));
    EXPECT_EQ(app.exitCode(), 0);

    QSettings written(file, QSettings::IniFormat);
    EXPECT_EQ(written.value(u"Setting/Comport"_s).toString(), u"COM7"_s);
    EXPECT_EQ(written.value(u"Setting/Baud"_s).toString(), u"9600"_s);
    // The default file is left alone: another window may be using it.
    EXPECT_FALSE(QFileInfo::exists(appDir + u"/velmir-rs232.ini"_s));
}

} // namespace
