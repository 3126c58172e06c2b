// What a script waiting on expect costs while 5 MiB of text arrive: the window's thread's CPU
// for the port and the receive pipeline alone, then with a script whose expect never matches
// (a plain text, a Lua pattern), so that every chunk is searched. The search keeps its place, so
// the script should add little: at most half again.

#include "receive/capturefile.h"
#include "core/commport.h"
#include "core/configpaths.h"
#include "core/lineclaim.h"
#include "receive/lineowner.h"
#include "receive/receivepipeline.h"
#include "core/switches.h"
#include "port/serialport.h"
#include "script/scriptjob.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <array>
#include <cstdio>
#include <ctime>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype BlastBytes = 5 << 20;

double threadCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

class BenchSwitches : public Switches
{
public:
    bool checked(int item) const override { return m_checked.at(size_t(item)); }
    void setChecked(int item, bool on) override { m_checked.at(size_t(item)) = on; }
    bool enabled(int) const override { return true; }

private:
    std::array<bool, CommandCount> m_checked{};
};

class QuietOutput : public ScriptOutput
{
public:
    void sent(const QString &, int) override {}
    void notice(const QString &) override {}
};

QByteArray blast()
{
    QByteArray data;
    data.reserve(BlastBytes);
    for (int i = 0; data.size() < BlastBytes; ++i)
        data += "line " + QByteArray::number(i) + ": the quick brown fox 0123456789\r\n";
    data.truncate(BlastBytes);
    return data;
}

// One run: CPU seconds of this thread from the first byte written to the last byte received.
double run(const QString &portsDir, const QByteArray &source)
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return -1;
    }
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    QFile::remove(portsDir + u"/COM7"_s);
    QFile::link(QString::fromLocal8Bit(name), portsDir + u"/COM7"_s);

    SerialPort port;
    BenchSwitches switches;
    CaptureFile capture;
    LineOwner claim(port, switches, capture);
    ReceivePipeline pipeline(switches);
    QuietOutput output;
    qsizetype received = 0;
    qsizetype shown = 0;
    QObject::connect(&claim, &LineOwner::forTerminal, &port, [&](const QByteArray &chunk) {
        received += chunk.size();
        for (const TextRun &run : pipeline.feed(chunk))
            shown += run.text.size();
    });
    if (!port.setCommPort(7).ok() || !port.setPortOpen(true).ok()) {
        std::fprintf(stderr, "the port did not open\n");
        return -1;
    }
    QTemporaryDir dir;
    std::unique_ptr<ScriptJob> job;
    if (!source.isEmpty()) {
        const QString path = dir.filePath(u"wait.lua"_s);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(source);
        file.close();
        job = std::make_unique<ScriptJob>(port, claim, switches, output, path, QStringList());
        job->start();
        QDeadlineTimer started(5000);
        while (!claim.taker() && !started.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }

    const QByteArray data = blast();
    const double cpu0 = threadCpuSeconds();
    std::thread writer([&] {
        qsizetype at = 0;
        while (at < data.size()) {
            const ssize_t n = ::write(master, data.constData() + at, size_t(data.size() - at));
            if (n < 0 && errno != EINTR)
                return;
            at += n > 0 ? n : 0;
        }
    });
    QDeadlineTimer deadline(300000);
    while (received < data.size() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    const double cpu = threadCpuSeconds() - cpu0;
    writer.join();
    if (job && !job->running())
        std::fprintf(stderr, "the script ended early: %s\n", qPrintable(job->summary()));
    job.reset();
    (void)port.setPortOpen(false);
    ::close(master);
    ::close(slave);
    return received == data.size() && shown > 0 ? cpu : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    ConfigPaths::setConfigHome(home.path());
    const QString ports = ConfigPaths::portsDir();
    QDir().mkpath(ports);

    const struct
    {
        const char *what;
        QByteArray source;
    } runs[] = {
            {"no script", QByteArray()},
            {"expect plain text", "expect('NEVER ARRIVES', 3600, {plain = true})"},
            {"expect Lua pattern", "expect('ERR%d+:', 3600)"},
            {"expect class first", "expect('%d+ errors', 3600)"},
    };
    std::printf("5 MiB over a pseudo-terminal, CPU seconds of the window's thread "
                "(best of 3)\n");
    double base = 0;
    for (const auto &r : runs) {
        double best = -1;
        for (int round = 0; round < 3; ++round) {
            const double cpu = run(ports, r.source);
            if (cpu >= 0 && (best < 0 || cpu < best))
                best = cpu;
        }
        if (base == 0)
            base = best;
        std::printf("%-20s %7.3f s  %5.2fx\n", r.what, best, base > 0 ? best / base : 0.0);
    }
    return 0;
}
