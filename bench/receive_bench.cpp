// How the whole program copes with what arrives on the line: the real main window, offscreen,
// behind the real serial port object, over a pseudo-terminal whose far end this program plays
// from a thread of its own. Prints one line per figure:
//   - time to absorb each blast (written as fast as the line takes it) while the terminal holds
//     10 MB already, as text and as hex dump lines, beside the time the same bytes need on a
//     115200 bit/s line, with the longest gap between two ticks of a 100 ms timer meanwhile;
//   - memory per character the terminal holds, and what the 32M-character bound costs;
//   - the program thread's CPU share, per minute, for a stream paced at 115200 bit/s, with
//     line breaks and without any.
//
// Usage: receive_bench [--minutes M] [--bound-minutes M] [--only blasts|bound|paced ...]
//   --minutes        length of each paced stream (default 10)
//   --bound-minutes  length of the paced stream into a full terminal (default 1)
//   --only           run only these parts (may be given more than once)

#include "benchsupport.h"
#include "app/mainwindow.h"
#include "app/menus.h"
#include "core/dialogs.h"
#include "port/portpath.h"
#include "port/serialport.h"
#include "core/settingsstore.h"
#include "widgets/terminalbox.h"
#include "core/colors.h"
#include "widgets/terminalwindow.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int PortNumber = 42;
constexpr double LineBytesPerSecond = 115200.0 / 10.0; // 8N1: ten bits a byte
constexpr qsizetype MiB = 1024 * 1024;
constexpr qsizetype HeldBeforeBlast = 10'000'000;
// Once the line is quiet this long after the last byte, everything that arrived has been shown.
constexpr int SettleMs = 150;
// The paced peer writes what a 115200 bit/s line delivers, in 80-byte pieces.
constexpr int PacedChunk = 80;

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

double threadCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

qint64 statusKiB(const char *key)
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix)) {
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return 0;
}

QByteArray loadAverage()
{
    QFile file(u"/proc/loadavg"_s);
    if (!file.open(QIODevice::ReadOnly)) {
        return "?";
    }
    return file.readAll().split(' ').mid(0, 3).join(' ');
}

// Starts a new peak: VmHWM drops to the present VmRSS.
void resetPeakMemory()
{
    QFile clearRefs(u"/proc/self/clear_refs"_s);
    if (clearRefs.open(QIODevice::WriteOnly)) {
        clearRefs.write("5");
    }
}

// Printable text as the peers send it: lines of lineLength bytes, the last one a '\n', each
// starting with its number; lineLength 0 gives one line with no break at all.
QByteArray makeText(qsizetype size, qsizetype lineLength)
{
    QByteArray data;
    data.reserve(size);
    qsizetype number = 0;
    while (data.size() < size) {
        const qsizetype line = lineLength > 0 ? lineLength : size;
        QByteArray text = QByteArray::number(number).rightJustified(7, '0') + ' ';
        for (qsizetype i = text.size(); i < line - 1; ++i) {
            text += char(0x20 + (i + number) % 95);
        }
        text += lineLength > 0 ? '\n' : char(0x20 + number % 95);
        data += text;
        ++number;
    }
    data.truncate(size);
    if (lineLength > 0) {
        data[size - 1] = '\n';
    }
    return data;
}

// The far end of the line: a raw pseudo-terminal pair. The program opens the slave through its
// COMn link; the bench keeps the slave open too, only to ask how much still waits in it.
struct Line
{
    int master = -1;
    int slave = -1;
    QString slavePath;

    bool open()
    {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            return false;
        }
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::cfsetspeed(&raw, B115200);
        ::tcsetattr(slave, TCSANOW, &raw);
        slavePath = QString::fromLocal8Bit(name);
        return true;
    }
    ~Line()
    {
        if (master >= 0) {
            ::close(master);
        }
        if (slave >= 0) {
            ::close(slave);
        }
    }
    // Bytes that arrived and that the program has not read yet.
    int waiting() const
    {
        int n = 0;
        return ::ioctl(slave, FIONREAD, &n) == 0 ? n : -1;
    }
};

// Writes bytes into the line from a thread: all at once as fast as the line takes them, or
// paced at a byte rate in fixed pieces, piece k due at start + k * piece / rate.
class Peer
{
public:
    Peer(int fd, QByteArray data, double bytesPerSecond = 0, qsizetype piece = 0)
        : m_fd(fd)
        , m_data(std::move(data))
        , m_rate(bytesPerSecond)
        , m_piece(piece)
    {}
    ~Peer() { join(); }

    void start()
    {
        m_start = Clock::now();
        m_thread = std::thread([this] { run(); });
    }
    void join()
    {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    bool done() const { return m_done.load(); }
    bool failed() const { return m_failed.load(); }
    Clock::time_point startTime() const { return m_start; }
    Clock::time_point endTime() const { return m_end; }
    qsizetype written() const { return m_written.load(); }
    // The most a paced piece went out after it was due: the line was full, the program behind.
    double maxLateSeconds() const { return m_maxLate; }

private:
    void run()
    {
        const char *data = m_data.constData();
        const qsizetype size = m_data.size();
        qsizetype at = 0;
        while (at < size) {
            qsizetype end = size;
            if (m_rate > 0) {
                const qsizetype k = at / m_piece;
                const auto due
                        = m_start
                          + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(double(k * m_piece) / m_rate));
                std::this_thread::sleep_until(due);
                m_maxLate = std::max(m_maxLate, secondsBetween(due, Clock::now()));
                end = std::min(size, at + m_piece);
            }
            while (at < end) {
                const ssize_t n = ::write(m_fd, data + at, size_t(end - at));
                if (n < 0) {
                    if (errno == EINTR) {
                        continue;
                    }
                    std::perror("write to the line");
                    m_failed = true;
                    at = size;
                    break;
                }
                at += n;
                m_written = at;
            }
        }
        m_end = Clock::now();
        m_done = true;
    }

    int m_fd;
    QByteArray m_data;
    double m_rate;
    qsizetype m_piece;
    std::thread m_thread;
    Clock::time_point m_start;
    Clock::time_point m_end;
    std::atomic<qsizetype> m_written = 0;
    std::atomic<bool> m_done = false;
    std::atomic<bool> m_failed = false;
    double m_maxLate = 0;
};

// Watches the running program: receive events, ticks of a timer on the window's thread and
// repaints of the terminal.
class Watch : public QObject
{
public:
    Watch(SerialPort &port, QWidget &viewport)
    {
        // The window's own timers tick once a second or not at all: one at the rate the status
        // strip once polled shows how long the window's thread stays away.
        m_ticker.setInterval(100);
        m_ticker.setTimerType(Qt::PreciseTimer);
        m_ticker.start();
        // Connected after the receive handler, so this runs once the chunk has been shown.
        connect(&port, &CommPort::received, this, [this] {
            ++m_events;
            m_lastEvent = Clock::now();
        });
        connect(&m_ticker, &QTimer::timeout, this, [this] {
            const Clock::time_point now = Clock::now();
            if (m_lastTick) {
                m_longestGap = std::max(m_longestGap, secondsBetween(*m_lastTick, now));
            }
            m_lastTick = now;
        });
        viewport.installEventFilter(this);
    }

    // Starts counting afresh; the first tick's gap reaches back to the last one before.
    void restart()
    {
        m_events = 0;
        m_paints = 0;
        m_longestGap = 0;
        m_lastEvent = Clock::now();
        m_lastPaint = Clock::now();
    }

    qint64 events() const { return m_events; }
    qint64 paints() const { return m_paints; }
    double longestGapMs() const { return m_longestGap * 1000; }
    Clock::time_point lastEvent() const { return m_lastEvent; }
    Clock::time_point lastPaint() const { return m_lastPaint; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            m_lastPaint = Clock::now();
            ++m_paints;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QTimer m_ticker;
    qint64 m_events = 0;
    qint64 m_paints = 0;
    double m_longestGap = 0;
    std::optional<Clock::time_point> m_lastTick;
    Clock::time_point m_lastEvent = Clock::now();
    Clock::time_point m_lastPaint = Clock::now();
};

// Runs the event loop until the condition holds, checked every pollMs: rarely enough that the
// checks themselves cost the measured thread next to nothing.
void runUntil(const std::function<bool()> &condition, int pollMs = 10)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(pollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            loop.quit();
        }
    });
    poll.start();
    if (!condition()) {
        loop.exec();
    }
}

void runFor(int milliseconds)
{
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
    runUntil([end] { return Clock::now() >= end; });
}

class Bench
{
public:
    Bench(MainWindow &window, SerialPort &port, Line &line)
        : m_window(window)
        , m_port(port)
        , m_line(line)
        , m_box(window.terminal().box())
        , m_watch(port, *m_box.viewport())
    {}

    void baseline()
    {
        runFor(300);
        malloc_trim(0);
        m_baseKiB = statusKiB("VmRSS");
    }

    // Fills the terminal as received 80-character lines would, straight into the box.
    void fill(qsizetype characters)
    {
        m_box.clearText();
        runFor(50);
        const QByteArray lines = makeText(80 * 1000, 80);
        const QString chunk = QString::fromLatin1(lines);
        m_box.setSelReceived(true);
        m_box.setSelColor(TerminalColors::Received);
        while (m_box.textLength() < characters) {
            const qsizetype left = characters - m_box.textLength();
            m_box.insertText(left >= chunk.size() ? chunk : chunk.left(left));
        }
        m_box.moveCaretToEnd();
        m_box.setSelReceived(false);
        runFor(300);
    }

    void setHexMode(bool on)
    {
        if (m_window.menus().checked(Menus::HexMode) != on) {
            m_window.runCommand(Menus::HexMode);
        }
    }

    struct Absorbed
    {
        double seconds = 0;
        double writeSeconds = 0;
        double cpuSeconds = 0;
        double longestGapMs = 0;
        qint64 events = 0;
        qsizetype added = 0;
        qint64 peakKiB = 0;
        bool ok = false;
    };

    // One blast: from the first byte written until the last chunk is on screen.
    Absorbed blast(const QByteArray &data)
    {
        Absorbed result;
        const qsizetype before = m_box.textLength();
        resetPeakMemory();
        m_watch.restart();
        Peer peer(m_line.master, data);
        const double cpu0 = threadCpuSeconds();
        peer.start();
        runUntil([&] {
            if (!peer.done() || m_line.waiting() != 0) {
                return false;
            }
            const Clock::time_point now = Clock::now();
            return now - m_watch.lastEvent() > std::chrono::milliseconds(SettleMs)
                   && now - m_watch.lastPaint() > std::chrono::milliseconds(SettleMs);
        });
        peer.join();
        const Clock::time_point end = std::max(m_watch.lastEvent(), m_watch.lastPaint());
        result.seconds = secondsBetween(peer.startTime(), std::max(end, peer.endTime()));
        result.writeSeconds = secondsBetween(peer.startTime(), peer.endTime());
        result.cpuSeconds = threadCpuSeconds() - cpu0;
        result.longestGapMs = m_watch.longestGapMs();
        result.events = m_watch.events();
        result.added = m_box.textLength() - before;
        result.peakKiB = statusKiB("VmHWM");
        result.ok = !peer.failed();
        return result;
    }

    struct Paced
    {
        std::vector<double> perWindowPercent;
        double wholePercent = 0;
        double processPercent = 0;
        double longestGapMs = 0;
        double maxLateSeconds = 0;
        double eventsPerSecond = 0;
        double paintsPerSecond = 0;
        qsizetype shown = 0;
        qsizetype sent = 0;
        // The last bytes sent are the last characters on screen.
        bool tailShown = false;
    };

    // A stream at the line's rate; the program thread's CPU share per window.
    Paced paced(const QByteArray &data, double windowSeconds)
    {
        Paced result;
        const qsizetype before = m_box.textLength();
        m_watch.restart();
        Peer peer(m_line.master, data, LineBytesPerSecond, PacedChunk);
        const double cpu0 = threadCpuSeconds();
        const double process0 = processCpuSeconds();
        double windowCpu = cpu0;
        peer.start();
        Clock::time_point windowStart = peer.startTime();
        runUntil(
                [&] {
                    const Clock::time_point now = Clock::now();
                    const double elapsed = secondsBetween(windowStart, now);
                    if (elapsed >= windowSeconds || peer.done()) {
                        const double cpu = threadCpuSeconds();
                        if (elapsed >= windowSeconds / 2) {
                            result.perWindowPercent.push_back(100 * (cpu - windowCpu) / elapsed);
                        }
                        windowCpu = cpu;
                        windowStart = now;
                    }
                    return peer.done();
                },
                100);
        peer.join();
        const double seconds = secondsBetween(peer.startTime(), peer.endTime());
        result.wholePercent = 100 * (threadCpuSeconds() - cpu0) / seconds;
        result.processPercent = 100 * (processCpuSeconds() - process0) / seconds;
        result.longestGapMs = m_watch.longestGapMs();
        result.maxLateSeconds = peer.maxLateSeconds();
        result.eventsPerSecond = double(m_watch.events()) / seconds;
        result.paintsPerSecond = double(m_watch.paints()) / seconds;
        runUntil([&] {
            return m_line.waiting() == 0
                   && Clock::now() - m_watch.lastEvent() > std::chrono::milliseconds(SettleMs);
        });
        result.shown = m_box.textLength() - before;
        result.sent = peer.written();
        result.tailShown = endsWith(data.right(200));
        return result;
    }

    bool endsWith(const QByteArray &tail) const
    {
        const qsizetype length = m_box.textLength();
        if (length < tail.size()) {
            return false;
        }
        for (qsizetype i = 0; i < tail.size(); ++i) {
            if (m_box.charAt(length - tail.size() + i) != QLatin1Char(tail[i])) {
                return false;
            }
        }
        return true;
    }

    qint64 baseKiB() const { return m_baseKiB; }
    TerminalBox &box() { return m_box; }

private:
    MainWindow &m_window;
    SerialPort &m_port;
    Line &m_line;
    TerminalBox &m_box;
    Watch m_watch;
    qint64 m_baseKiB = 0;
};

void printBlast(const char *what, qsizetype bytes, const Bench::Absorbed &r)
{
    const double line = double(bytes) / LineBytesPerSecond;
    std::printf("%-46s %7.3f s  %6.1f MB/s  line %5.0f s (%5.0fx)  longest tick gap %4.0f ms  "
                "%5lld chunks  CPU %.2f s%s\n",
                what, r.seconds, double(bytes) / r.seconds / 1e6, line, line / r.seconds,
                r.longestGapMs, static_cast<long long>(r.events), r.cpuSeconds,
                r.ok ? "" : "  WRITE FAILED");
    std::fflush(stdout);
}

void printPaced(const char *what, double minutes, const Bench::Paced &r, bool allShown)
{
    std::printf("%-46s", what);
    for (const double percent : r.perWindowPercent) {
        std::printf(" %5.2f", percent);
    }
    const double first = r.perWindowPercent.empty() ? 0 : r.perWindowPercent.front();
    const double last = r.perWindowPercent.empty() ? 0 : r.perWindowPercent.back();
    std::printf("  | whole %.2f %% (process %.2f %%), last/first %.2f, %.1f min, longest tick gap "
                "%.0f ms, %.0f chunks/s, %.0f repaints/s, writer late at most %.0f ms, %s\n",
                r.wholePercent, r.processPercent, first > 0 ? last / first : 0.0, minutes,
                r.longestGapMs, r.eventsPerSecond, r.paintsPerSecond, r.maxLateSeconds * 1000,
                allShown ? "all shown" : "NOT ALL SHOWN");
    std::fflush(stdout);
}

double optionValue(int argc, char **argv, const char *name, double fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return std::atof(argv[i + 1]);
        }
    }
    return fallback;
}

// Without any --only every part runs.
bool runsPart(int argc, char **argv, const char *part)
{
    bool restricted = false;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--only") == 0) {
            restricted = true;
            if (std::strcmp(argv[i + 1], part) == 0) {
                return true;
            }
        }
    }
    return !restricted;
}

// CPU the program thread spent on the text and hex blasts into a terminal holding 10 MB, to set
// the cost of a full terminal against: its trimming and its larger document together.
struct BlastCosts
{
    double text = 0;
    double hex = 0;
};

// At the bound every few chunks drop the oldest lines: memory there, and what trimming costs.
bool measureBound(Bench &bench, double boundMinutes, const BlastCosts &below)
{
    bool ok = true;
    const qsizetype bound = MainWindow::MaxTerminalCharacters;
    resetPeakMemory();
    const Clock::time_point start = Clock::now();
    bench.fill(bound);
    const qsizetype held = bench.box().textLength();
    std::printf("%-46s %7.3f s to fill, %lld characters held\n", "bound: fill to 32M",
                secondsBetween(start, Clock::now()), static_cast<long long>(held));
    const qint64 fullKiB = statusKiB("VmRSS");
    const qint64 fullPeakKiB = statusKiB("VmHWM");
    std::printf("%-46s %7.1f bytes per held character resident, %.1f at the peak of filling\n",
                "memory at the bound", (fullKiB - bench.baseKiB()) * 1024.0 / held,
                (fullPeakKiB - bench.baseKiB()) * 1024.0 / held);
    for (const bool hex : {false, true}) {
        bench.setHexMode(hex);
        const Bench::Absorbed r = bench.blast(makeText(5 * MiB, 80));
        printBlast(hex ? "hex (d) 5 MiB in 80-char lines, at the bound"
                       : "text (a) 5 MiB in 80-char lines, at the bound",
                   5 * MiB, r);
        const qsizetype after = bench.box().textLength();
        std::printf("%-46s %7.1f bytes per held character at the peak, %lld held\n",
                    hex ? "memory at the bound, hex blast" : "memory at the bound, text blast",
                    (r.peakKiB - bench.baseKiB()) * 1024.0 / after, static_cast<long long>(after));
        const double cpuBelow = hex ? below.hex : below.text;
        if (cpuBelow > 0) {
            std::printf("%-46s %7.2f times the CPU of the same blast into 10 MB\n",
                        hex ? "cost of the bound, hex blast" : "cost of the bound, text blast",
                        r.cpuSeconds / cpuBelow);
        }
        ok = ok && r.ok && after <= bound;
    }
    bench.setHexMode(false);
    if (boundMinutes > 0) {
        const qsizetype bytes
                = qsizetype(boundMinutes * 60 * LineBytesPerSecond) / PacedChunk * PacedChunk;
        const Bench::Paced r
                = bench.paced(makeText(bytes, PacedChunk), std::min(60.0, boundMinutes * 60));
        // At the bound the terminal no longer grows: the end of the text shows what arrived.
        const bool shown = r.sent == bytes && r.tailShown && bench.box().textLength() <= bound;
        printPaced("paced lines at the bound, CPU % per minute:", boundMinutes, r, shown);
        ok = ok && shown;
    }
    return ok;
}

// Streams at the line's rate into an empty terminal, with line breaks and without any.
bool measurePaced(Bench &bench, double minutes)
{
    bool ok = true;
    for (const bool lines : {true, false}) {
        bench.box().clearText();
        runFor(300);
        const qsizetype bytes
                = qsizetype(minutes * 60 * LineBytesPerSecond) / PacedChunk * PacedChunk;
        const Bench::Paced r = bench.paced(makeText(bytes, lines ? PacedChunk : 0),
                                           std::min(60.0, minutes * 60));
        const bool shown = r.sent == bytes && r.shown == bytes && r.tailShown;
        printPaced(lines ? "paced lines, CPU % per minute:"
                         : "paced, no line break, CPU % per minute:",
                   minutes, r, shown);
        ok = ok && shown;
    }
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    const double minutes = optionValue(argc, argv, "--minutes", 10);
    const double boundMinutes = optionValue(argc, argv, "--bound-minutes", 1);
    const bool runBlasts = runsPart(argc, argv, "blasts");
    const bool runBound = runsPart(argc, argv, "bound");
    const bool runPaced = runsPart(argc, argv, "paced");

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);

    Line line;
    if (!line.open()) {
        return 1;
    }
    QDir().mkpath(PortPath::portsDir());
    if (!QFile::link(line.slavePath, PortPath::linkPathFor(PortNumber))) {
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
    // The size the side-by-side script gives every program it drives.
    window.setGeometry(0, 0, 1024, 768);
    window.runCommand(Menus::OpenPort);
    if (!port.portOpen()) {
        std::fprintf(stderr, "the port did not open\n");
        return 1;
    }
    Bench bench(window, port, line);
    bench.baseline();
    std::printf("# receive_bench --minutes %g --bound-minutes %g; %d cores, load average %s\n",
                minutes, boundMinutes, QThread::idealThreadCount(), loadAverage().constData());

    struct Shape
    {
        const char *name;
        qsizetype size;
        qsizetype lineLength;
        bool hex;
    };
    const Shape shapes[] = {
            {"text (a) 5 MiB in 80-char lines, 10 MB held", 5 * MiB, 80, false},
            {"text (b) 5 MiB in 4000-char lines, 10 MB held", 5 * MiB, 4000, false},
            {"text (c) 2 MiB with no line break, 10 MB held", 2 * MiB, 0, false},
            {"hex (d) 5 MiB in 80-char lines, 10 MB held", 5 * MiB, 80, true},
    };
    bool ok = true;
    qint64 peakKiB = 0;
    qsizetype peakHeld = 0;
    BlastCosts costs;
    for (const Shape &shape : shapes) {
        if (!runBlasts) {
            break;
        }
        bench.setHexMode(false);
        bench.fill(HeldBeforeBlast);
        bench.setHexMode(shape.hex);
        const QByteArray data = makeText(shape.size, shape.lineLength);
        const Bench::Absorbed r = bench.blast(data);
        printBlast(shape.name, shape.size, r);
        if (!shape.hex && r.added != shape.size) {
            std::printf("  error: the terminal grew by %lld characters for %lld bytes\n",
                        static_cast<long long>(r.added), static_cast<long long>(shape.size));
            ok = false;
        }
        if (shape.lineLength == 80) {
            (shape.hex ? costs.hex : costs.text) = r.cpuSeconds;
        }
        if (r.peakKiB > peakKiB) {
            peakKiB = r.peakKiB;
            peakHeld = bench.box().textLength();
        }
    }
    bench.setHexMode(false);
    if (runBlasts) {
        std::printf("%-46s %7.1f bytes per held character (peak %lld MiB above the empty window "
                    "for %lld characters)\n",
                    "memory, peak over the blasts", (peakKiB - bench.baseKiB()) * 1024.0 / peakHeld,
                    static_cast<long long>((peakKiB - bench.baseKiB()) / 1024),
                    static_cast<long long>(peakHeld));
    }
    if (runBound) {
        ok = measureBound(bench, boundMinutes, costs) && ok;
    }
    if (runPaced) {
        ok = measurePaced(bench, minutes) && ok;
    }
    std::printf("# load average at the end %s\n", loadAverage().constData());
    window.runCommand(Menus::OpenPort);
    return ok ? 0 : 1;
}
