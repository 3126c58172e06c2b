// The whole program with the wave plot closed and open, on what a device sends that prints
// 1,000 lines a second of eight numbers: the real main window, offscreen, behind the real
// serial port over a pseudo-terminal whose far end a thread of this program plays. Prints per
// case the process's CPU share, the plot's redraws a second, the longest gap between two ticks
// of a 10 ms timer on the window's thread, and, with the plot open, what the plot's memory
// costs per sample (resident memory before and after "清除").
//
// Usage: plotview_bench [--seconds S]   (default 30 for each case)

#include "benchsupport.h"
#include "app/mainwindow.h"
#include "app/menus.h"
#include "app/viewcommands.h"
#include "plot/plotwindow.h"
#include "port/portpath.h"
#include "port/serialport.h"
#include "widgets/terminalbox.h"
#include "widgets/terminalwindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include <malloc.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int PortNumber = 43;
constexpr int Channels = 8;

double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

qint64 residentKiB()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

QByteArray deviceLines(qint64 from, int count)
{
    QByteArray lines;
    for (qint64 n = from; n < from + count; ++n) {
        for (int c = 0; c < Channels; ++c) {
            if (c)
                lines += ',';
            lines += QByteArray::number(std::sin(double(n) / 100.0 + c) * 100, 'f', 2);
        }
        lines += "\r\n";
    }
    return lines;
}

// Ten lines every 10 ms from a thread, each burst due at start + k * 10 ms.
class Device
{
public:
    explicit Device(int fd)
        : m_fd(fd)
    {}
    ~Device() { stop(); }
    void start(double seconds)
    {
        m_thread = std::thread([this, seconds] {
            const auto start = std::chrono::steady_clock::now();
            const int bursts = int(seconds * 100);
            for (int k = 0; k < bursts && !m_stop; ++k) {
                std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * k));
                const QByteArray lines = deviceLines(qint64(k) * 10, 10);
                qsizetype at = 0;
                while (at < lines.size()) {
                    const ssize_t n
                            = ::write(m_fd, lines.constData() + at, size_t(lines.size() - at));
                    if (n < 0 && errno != EINTR)
                        return;
                    at += std::max<ssize_t>(n, 0);
                }
            }
        });
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        m_stop = false;
    }

private:
    int m_fd;
    std::thread m_thread;
    std::atomic<bool> m_stop = false;
};

double optionValue(int argc, char **argv, const char *name, double fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return std::atof(argv[i + 1]);
    }
    return fallback;
}

} // namespace

int main(int argc, char **argv)
{
    const double seconds = optionValue(argc, argv, "--seconds", 30);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    QDir().mkpath(PortPath::portsDir());
    if (!QFile::link(QString::fromLocal8Bit(name), PortPath::linkPathFor(PortNumber))) {
        std::fprintf(stderr, "cannot link the pseudo-terminal as COM%d\n", PortNumber);
        return 1;
    }
    BenchStore store;
    store.save(u"Comport"_s, u"COM%1"_s.arg(PortNumber));
    store.save(u"Baud"_s, u"115200"_s);
    BenchDialogs dialogs;
    SerialPort port;
    MainWindow window(port, store, dialogs);
    window.start();
    window.setGeometry(0, 0, 1024, 768);
    window.runCommand(Menus::OpenPort);
    if (!port.portOpen()) {
        std::fprintf(stderr, "the port did not open\n");
        return 1;
    }

    std::printf("# plotview_bench --seconds %g: 1000 lines/s of %d channels, platform %s\n",
                seconds, Channels, qPrintable(app.platformName()));
    std::printf("%-28s %7s %10s %9s %14s\n", "case", "CPU", "redraws/s", "stall ms",
                "plot B/value");
    std::fflush(stdout);

    enum Case { Closed, Auto, Last10k };
    for (Case c : {Closed, Auto, Last10k}) {
        PlotWindow *plot = nullptr;
        if (c != Closed) {
            window.menus().plotAction()->trigger();
            plot = window.viewCommands().plotWindow();
            plot->resize(900, 560);
            plot->setWindowSamples(c == Last10k ? 10'000 : 0);
            plot->clearPlot();
            // The window's first paint loads fonts and lays out once; that is not the stream.
            QEventLoop settle;
            QTimer::singleShot(1000, &settle, &QEventLoop::quit);
            settle.exec();
        }
        window.terminal().box().clearText();
        Device device(master);
        QEventLoop loop;
        QTimer heartbeat;
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 maxGap = 0;
        heartbeat.callOnTimeout([&] {
            const qint64 now = clock.elapsed();
            maxGap = std::max(maxGap, now - last);
            last = now;
            if (now >= qint64(seconds * 1000))
                loop.quit();
        });
        const qint64 redrawsBefore = plot ? plot->redraws() : 0;
        const double cpuBefore = processCpuSeconds();
        clock.start();
        heartbeat.start(10);
        device.start(seconds);
        loop.exec();
        const double elapsed = double(clock.elapsed()) / 1000;
        const double cpu = (processCpuSeconds() - cpuBefore) / elapsed;
        device.stop();
        double bytesPerValue = 0;
        double redraws = 0;
        if (plot) {
            redraws = double(plot->redraws() - redrawsBefore) / elapsed;
            const qint64 lines = plot->feed().samples().end() - plot->feed().samples().first();
            ::malloc_trim(0);
            const qint64 before = residentKiB();
            plot->clearPlot();
            ::malloc_trim(0);
            const qint64 after = residentKiB();
            bytesPerValue = lines ? double(before - after) * 1024 / double(lines * Channels) : 0;
            plot->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        const char *names[] = {"terminal alone (plot closed)", "plot open, auto-scale",
                               "plot open, last 10,000"};
        std::printf("%-28s %6.1f%% %10.1f %9lld %14.1f\n", names[c], cpu * 100, redraws,
                    (long long)maxGap, bytesPerValue);
        std::fflush(stdout);
    }
    window.runCommand(Menus::OpenPort);
    ::close(master);
    ::close(slave);
    return 0;
}
