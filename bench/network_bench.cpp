// How fast a blast from the far end is absorbed over RFC 2217, beside the same blast over a
// pseudo-terminal: the far end writes 5 MiB to a pseudo-terminal as fast as it takes, and the
// program's side reads it either straight from the device through Qt SerialPort (what a local
// port does) or through ser2net on the loopback into the network link (what a network port
// does). Each round is timed from the first byte written to the last byte received, and checked
// byte for byte afterwards. Prints one line per round, then the medians and their ratios; the
// target is within 1.5 times.
//
// ser2net runs twice: as installed, where it reads the device 64 bytes at a time and so sends
// a TCP segment for each 64 bytes, and with dev-to-net-bufsize raised to 64 KiB, where what the
// link itself costs shows. Raw TCP with the same buffers shows what the telnet layer costs.
//
// Usage: network_bench [--mib N] [--rounds N]
//   --mib     size of one blast in MiB (default 5)
//   --rounds  blasts per way (default 3)

#include "port/networklink.h"
#include "support/ser2netserver.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <cerrno>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Clock = std::chrono::steady_clock;

constexpr qsizetype MiB = 1024 * 1024;
// A round that has not ended by then is reported as stalled.
constexpr int RoundTimeoutMs = 120000;

double threadCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// CPU seconds a process has used, from /proc/PID/stat (utime and stime, fields 14 and 15).
double processCpuSeconds(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // The command name may hold blanks; the fields after it are counted from its ')'.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return double(fields[11].toLongLong() + fields[12].toLongLong())
           / double(::sysconf(_SC_CLK_TCK));
}

QByteArray blastBytes(qsizetype size)
{
    // Every byte value, 0xFF included, so that escaping is part of what is measured.
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}

// One pseudo-terminal: the far end writes on the master from a thread of its own; the slave is
// what the program's side opens, directly or through ser2net.
class FarEnd
{
public:
    FarEnd()
    {
        char name[256] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            return;
        termios tio{};
        ::tcgetattr(m_slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
        ::tcsetattr(m_master, TCSANOW, &tio);
        m_slavePath = QString::fromLocal8Bit(name);
    }
    ~FarEnd()
    {
        if (m_writer.joinable())
            m_writer.join();
        if (m_master >= 0)
            ::close(m_master);
        if (m_slave >= 0)
            ::close(m_slave);
    }

    bool isValid() const { return !m_slavePath.isEmpty(); }
    QString slavePath() const { return m_slavePath; }

    void startBlast(const QByteArray &bytes)
    {
        if (m_writer.joinable())
            m_writer.join();
        m_writer = std::thread([this, bytes] {
            const char *p = bytes.constData();
            qsizetype left = bytes.size();
            while (left > 0) {
                const ssize_t n = ::write(m_master, p, size_t(left));
                if (n > 0) {
                    p += n;
                    left -= n;
                } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
                    std::fprintf(stderr, "far end: write failed: %s\n", std::strerror(errno));
                    return;
                }
            }
        });
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    std::thread m_writer;
};

struct Round
{
    double seconds = 0;
    double cpuSeconds = 0;
    bool complete = false;
};

// Blasts once and waits, with events running, until `received` holds it all.
Round blast(FarEnd &farEnd, const QByteArray &bytes, QByteArray &received)
{
    received.clear();
    received.reserve(bytes.size());
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (received.size() >= bytes.size())
            loop.quit();
    });
    QTimer::singleShot(RoundTimeoutMs, &loop, &QEventLoop::quit);

    Round round;
    const double cpuBefore = threadCpuSeconds();
    const Clock::time_point start = Clock::now();
    farEnd.startBlast(bytes);
    poll.start();
    loop.exec();
    round.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    round.cpuSeconds = threadCpuSeconds() - cpuBefore;
    round.complete = received == bytes;
    return round;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void printRound(const char *way, int index, const Round &round, qsizetype size,
                double serverCpuSeconds = -1)
{
    std::printf("%-34s round %d: %7.3f s  %7.1f MiB/s  main thread CPU %6.3f s", way, index + 1,
                round.seconds, double(size) / MiB / round.seconds, round.cpuSeconds);
    if (serverCpuSeconds >= 0)
        std::printf("  ser2net CPU %6.3f s", serverCpuSeconds);
    std::printf("%s\n", round.complete ? "" : "  INCOMPLETE OR CORRUPTED");
}

// Blasts through ser2net into a network link, `rounds` times; false if the server or the link
// does not come up.
bool throughServer(Ser2NetServer::Accepter accepter, const QStringList &options,
                   const QByteArray &bytes, int rounds, std::vector<double> &seconds)
{
    FarEnd farEnd;
    Ser2NetServer server(farEnd.slavePath(), accepter, u"115200n81,local"_s);
    server.setOptions(options);
    if (!farEnd.isValid() || !server.start()) {
        std::fprintf(stderr, "cannot start ser2net: %s\n", qPrintable(server.error()));
        return false;
    }
    NetworkLink link;
    QEventLoop opening;
    QString failure;
    QObject::connect(&link, &NetworkLink::opened, &opening, &QEventLoop::quit);
    QObject::connect(&link, &NetworkLink::failed, &opening, [&](const QString &cause) {
        failure = cause;
        opening.quit();
    });
    NetworkLink::LineParameters line;
    line.speed = 115200;
    link.open(*NetworkAddress::parse(server.url()), line);
    opening.exec();
    if (!link.isOpen()) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(server.url()), qPrintable(failure));
        return false;
    }

    QByteArray received;
    qint64 pieces = 0;
    QObject::connect(&link, &NetworkLink::readyRead, &link, [&] {
        received += link.takeArrived();
        ++pieces;
    });
    const QByteArray way = (accepter == Ser2NetServer::Accepter::Tcp ? "raw TCP" : "RFC 2217")
                           + QByteArray(options.isEmpty() ? ", as installed" : ", big buffers");
    for (int i = 0; i < rounds; ++i) {
        const double serverCpuBefore = processCpuSeconds(server.processId());
        pieces = 0;
        const Round round = blast(farEnd, bytes, received);
        printRound(way.constData(), i, round, bytes.size(),
                   processCpuSeconds(server.processId()) - serverCpuBefore);
        std::printf("%-34s          in %lld readyRead() signals\n", "",
                    static_cast<long long>(pieces));
        seconds.push_back(round.seconds);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qsizetype mib = 5;
    int rounds = 3;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--mib")
            mib = args[i + 1].toLongLong();
        else if (args[i] == u"--rounds")
            rounds = args[i + 1].toInt();
    }
    if (mib < 1 || rounds < 1) {
        std::fprintf(stderr, "usage: network_bench [--mib N] [--rounds N]\n");
        return 2;
    }
    if (Ser2NetServer::program().isEmpty()) {
        std::fprintf(stderr, "ser2net is not installed; scripts/setup installs it\n");
        return 1;
    }
    const QByteArray bytes = blastBytes(mib * MiB);
    QByteArray received;

    // Straight from the device, as a local port reads it.
    std::vector<double> direct;
    {
        FarEnd farEnd;
        QSerialPort port;
        port.setPortName(farEnd.slavePath());
        port.setReadBufferSize(0);
        if (!farEnd.isValid() || !port.open(QIODevice::ReadWrite)) {
            std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n",
                         qPrintable(port.errorString()));
            return 1;
        }
        port.setBaudRate(115200);
        QObject::connect(&port, &QSerialPort::readyRead, &port,
                         [&] { received += port.readAll(); });
        for (int i = 0; i < rounds; ++i) {
            const Round round = blast(farEnd, bytes, received);
            printRound("pseudo-terminal, Qt SerialPort", i, round, bytes.size());
            direct.push_back(round.seconds);
        }
    }

    // Through ser2net on the loopback into the network link.
    const QStringList bigBuffers{u"dev-to-net-bufsize: 65536"_s};
    std::vector<double> asInstalled;
    std::vector<double> buffered;
    std::vector<double> raw;
    if (!throughServer(Ser2NetServer::Accepter::Rfc2217, {}, bytes, rounds, asInstalled)
        || !throughServer(Ser2NetServer::Accepter::Rfc2217, bigBuffers, bytes, rounds, buffered)
        || !throughServer(Ser2NetServer::Accepter::Tcp, bigBuffers, bytes, rounds, raw))
        return 1;

    std::printf("%lld MiB blast, medians (target: RFC 2217 at most 1.5 times the "
                "pseudo-terminal):\n",
                static_cast<long long>(mib));
    std::printf("  pseudo-terminal, Qt SerialPort                 %7.3f s\n", median(direct));
    std::printf("  RFC 2217, ser2net as installed                 %7.3f s  ratio %.2f\n",
                median(asInstalled), median(asInstalled) / median(direct));
    std::printf("  RFC 2217, ser2net dev-to-net-bufsize 65536     %7.3f s  ratio %.2f\n",
                median(buffered), median(buffered) / median(direct));
    std::printf("  raw TCP, ser2net dev-to-net-bufsize 65536      %7.3f s  ratio %.2f\n",
                median(raw), median(raw) / median(direct));
    return 0;
}
