#include "app/headlessscript.h"

#include "app/commandline.h"
#include "app/signalwatcher.h"
#include "receive/capturefile.h"
#include "core/configpaths.h"
#include "core/inisettingsstore.h"
#include "core/lineclaim.h"
#include "core/messages.h"
#include "core/portsettings.h"
#include "core/settingkeys.h"
#include "core/textencoding.h"
#include "receive/lineowner.h"
#include "receive/receivepipeline.h"
#include "core/switches.h"
#include "port/serialport.h"
#include "script/junitreport.h"
#include "script/scriptjob.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <array>
#include <csignal>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

enum ExitStatus { AllPassed = 0, CheckFailed = 1, Trouble = 2 };

void write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// The tools menu's marks as the window starts: only "发送回车" is on.
class HeadlessSwitches : public Switches
{
public:
    HeadlessSwitches() { m_checked[SendCr] = true; }
    bool checked(int item) const override { return m_checked.at(size_t(item)); }
    void setChecked(int item, bool on) override { m_checked.at(size_t(item)) = on; }
    bool enabled(int) const override { return true; }

private:
    std::array<bool, CommandCount> m_checked{};
};

// Standard output as the terminal: received text as it comes, the script's notices on lines of
// their own. What the script sends is left to the device's echo, as on a terminal.
class StdoutOutput : public ScriptOutput
{
public:
    void received(const QString &text)
    {
        if (text.isEmpty())
            return;
        write(stdout, text);
        m_atLineStart = text.endsWith(u'\n');
    }
    void sent(const QString &, int) override {}
    void notice(const QString &text) override
    {
        write(stdout, (m_atLineStart ? QString() : u"\n"_s) + text + u'\n');
        m_atLineStart = true;
    }

private:
    bool m_atLineStart = true;
};

QString settingsPath(const CommandLine &line)
{
    return line.settingsFile.isEmpty() ? ConfigPaths::settingsFile() : line.settingsFile;
}

// The encoding the window would read and send the line in, from the same settings file.
TextEncoding storedEncoding(const CommandLine &line)
{
    IniSettingsStore store(settingsPath(line));
    return TextEncodings::fromName(
            store.read(SettingKeys::encoding(), SettingKeys::defaultEncoding()));
}

// Applies the stored line settings, with --port in place of the stored port.
Result configure(SerialPort &port, const CommandLine &line)
{
    IniSettingsStore store(settingsPath(line));
    const PortSettings settings = PortSettings::load(store);
    const Expected<int> number = portNumber(line.port.isEmpty() ? settings.comport : line.port);
    if (!number.ok())
        return Result::failure(number.message());
    Result applied = port.setCommPort(*number);
    if (applied.ok())
        applied = port.setSettings(lineSettingsText(settings));
    if (applied.ok()) {
        if (const std::optional<int> code = handshakingCode(settings.flow))
            applied = port.setHandshaking(*code);
    }
    return applied;
}

} // namespace

int runHeadlessScript(int argc, char *argv[], const CommandLine &line)
{
    QCoreApplication app(argc, argv);
    app.setApplicationName(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());

    SerialPort port;
    if (const Result configured = configure(port, line); !configured.ok()) {
        write(stderr, configured.message() + u'\n');
        return Trouble;
    }
    HeadlessSwitches switches;
    CaptureFile capture;
    // The line's one owner, as in the window: the script claims it to see each chunk, and what it
    // leaves goes through the pipeline to standard output.
    LineOwner claim(port, switches, capture);
    ReceivePipeline pipeline(switches);
    StdoutOutput output;
    ScriptJob job(port, claim, switches, output, QFileInfo(line.scriptFile).absoluteFilePath(),
                  line.scriptArguments);
    const TextEncoding encoding = storedEncoding(line);
    pipeline.setEncoding(encoding);
    job.setEncoding(encoding);
    QElapsedTimer clock;
    int status = Trouble;

    QObject::connect(&claim, &LineOwner::forTerminal, &app, [&](const QByteArray &chunk) {
        QString text;
        for (const TextRun &run : pipeline.feed(chunk))
            text += run.text;
        output.received(text);
    });
    QObject::connect(&port, &CommPort::lost, &app, [&](const QString &message) {
        write(stderr, message + u'\n');
        job.portClosed();
    });
    QObject::connect(&port, &CommPort::notice, &app,
                     [&](const QString &text) { output.notice(text); });
    QObject::connect(&job, &LongJob::finished, &app, [&](const JobResult &result) {
        output.notice(result.text);
        if (job.ending() == ScriptJob::Ending::Completed)
            status = job.checksFailed() ? CheckFailed : AllPassed;
        if (!line.junitFile.isEmpty()) {
            const Result written = writeJunitReport(line.junitFile, job, clock.elapsed() / 1000.0);
            if (!written.ok()) {
                write(stderr, written.message() + u'\n');
                status = Trouble;
            }
        }
        (void)port.setPortOpen(false);
        QCoreApplication::exit(status);
    });
    const auto startScript = [&] {
        clock.start();
        job.start();
    };
    QObject::connect(&port, &CommPort::opened, &app, startScript);
    QObject::connect(&port, &CommPort::openFailed, &app, [](const QString &message) {
        write(stderr, message + u'\n');
        QCoreApplication::exit(Trouble);
    });

    SignalWatcher watcher(true);
    if (!watcher.error().isEmpty())
        write(stderr, watcher.error() + u'\n');
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &app, [&] {
        const int signal = watcher.lastSignal();
        // The result line and the report still come, as for a stop; then the signal's status.
        QObject::disconnect(&job, &LongJob::finished, &app, nullptr);
        if (job.running()) {
            job.stop();
            output.notice(job.summary());
            if (!line.junitFile.isEmpty())
                (void)writeJunitReport(line.junitFile, job, clock.elapsed() / 1000.0);
        }
        (void)port.setPortOpen(false);
        QCoreApplication::exit(128 + (signal > 0 ? signal : SIGTERM));
    });

    const Result opened = port.setPortOpen(true);
    if (!opened.ok()) {
        write(stderr, opened.message() + u'\n');
        return Trouble;
    }
    // From the event loop, so that a script that ends at once (an unreadable file) ends it.
    if (!port.portOpening())
        QTimer::singleShot(0, &app, startScript);
    return app.exec();
}
