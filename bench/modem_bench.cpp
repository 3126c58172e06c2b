// A YMODEM send of 1 MiB over a line paced at 115200 bit/s (11,520 B/s) to lrzsz's rb: this
// program's sender over its own port, beside lrzsz's sb over the same paced line. Both are timed
// from the start until rb has the whole file; the file is compared afterwards.
//
//   build/bench/modem_bench            (needs lrzsz and python3)

#include "port/portpath.h"
#include "port/serialport.h"
#include "transfer/modemsender.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

constexpr int PortNumber = 43;
constexpr qint64 FileBytes = 1024 * 1024;
constexpr double LineBytesPerSecond = 11520.0;

const QString Pacer = QStringLiteral(VELMIR_BENCH_DIR "/modem_pacer.py");

// Starts the paced line with rb behind it; gives the slave to send on.
QString startPacer(QProcess &pacer, const QString &folder)
{
    pacer.start(u"python3"_s, {Pacer, folder});
    QDeadlineTimer deadline(60000);
    while (!pacer.canReadLine() && pacer.state() != QProcess::NotRunning && !deadline.hasExpired())
        pacer.waitForReadyRead(100);
    const QByteArray line = pacer.readLine().trimmed();
    return line.startsWith("SLAVE ") ? QString::fromLocal8Bit(line.mid(6)) : QString();
}

bool waitForExit(QProcess &process)
{
    QDeadlineTimer deadline(600000);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return process.state() == QProcess::NotRunning && process.exitCode() == 0;
}

std::optional<double> ours(const QString &file, const QString &folder)
{
    QProcess pacer;
    const QString slave = startPacer(pacer, folder);
    QFile::remove(PortPath::linkPathFor(PortNumber));
    if (slave.isEmpty() || !QFile::link(slave, PortPath::linkPathFor(PortNumber)))
        return std::nullopt;
    SerialPort port;
    if (!port.setCommPort(PortNumber).ok() || !port.setSettings(u"115200,N,8,1"_s).ok()
        || !port.setPortOpen(true).ok())
        return std::nullopt;
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly))
        return std::nullopt;
    ModemSender sender(ModemSender::Protocol::Ymodem, {&source, "bench.bin", source.size(), 0});
    std::optional<Modem::Outcome> outcome;
    QObject::connect(&port, &CommPort::received, &sender,
                     [&](const QByteArray &bytes) { sender.feed(bytes); });
    QObject::connect(&sender, &ModemSender::output, &port,
                     [&](const QByteArray &bytes) { (void)port.output(bytes); });
    QObject::connect(&port, &CommPort::bytesWritten, &sender, &ModemSender::lineTook);
    QObject::connect(&sender, &ModemSender::finished,
                     [&](const Modem::Outcome &o) { outcome = o; });
    QElapsedTimer clock;
    clock.start();
    sender.start();
    // The sender's end comes with rb's last answer, before rb and the line go away.
    QDeadlineTimer deadline(600000);
    while (!outcome && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (!waitForExit(pacer) || !outcome || !outcome->completed()) {
        std::fprintf(stderr, "ours: %s\n", outcome ? qPrintable(outcome->reason) : "no end");
        return std::nullopt;
    }
    return seconds;
}

std::optional<double> lrzszSb(const QString &file, const QString &folder)
{
    QProcess pacer;
    const QString slave = startPacer(pacer, folder);
    if (slave.isEmpty())
        return std::nullopt;
    QProcess sb;
    QElapsedTimer clock;
    clock.start();
    sb.start(u"sh"_s, {u"-c"_s, u"exec sb \"$0\" <\"$1\" >\"$1\""_s, file, slave});
    // sb ends with rb's last answer, as our sender does.
    if (!waitForExit(sb))
        return std::nullopt;
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (!waitForExit(pacer))
        return std::nullopt;
    return seconds;
}

bool sameFile(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    return fa.open(QIODevice::ReadOnly) && fb.open(QIODevice::ReadOnly)
           && fa.readAll() == fb.readAll();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    QDir().mkpath(PortPath::portsDir());

    const QString file = dir.filePath(u"bench.bin"_s);
    {
        QByteArray bytes(FileBytes, Qt::Uninitialized);
        QRandomGenerator generator(1);
        for (char &b : bytes)
            b = char(generator.bounded(256));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            return 1;
    }

    std::printf("YMODEM send of %lld bytes to rb over a line paced at %.0f B/s\n",
                static_cast<long long>(FileBytes), LineBytesPerSecond);
    std::printf("%-14s %10s %12s %12s\n", "sender", "seconds", "bytes/s", "% of line");
    int status = 0;
    const struct
    {
        const char *name;
        std::optional<double> (*run)(const QString &, const QString &);
    } senders[] = {{"velmir-rs232", ours}, {"lrzsz sb", lrzszSb}};
    for (const auto &sender : senders) {
        const QString folder = dir.filePath(QString::fromLatin1(sender.name).replace(u' ', u'_'));
        QDir().mkpath(folder);
        const std::optional<double> seconds = sender.run(file, folder);
        const bool whole = sameFile(file, folder + u"/bench.bin"_s);
        if (!seconds || !whole) {
            std::printf("%-14s failed%s\n", sender.name, whole ? "" : " (file differs)");
            status = 1;
            continue;
        }
        const double rate = double(FileBytes) / *seconds;
        std::printf("%-14s %10.2f %12.0f %11.1f%%\n", sender.name, *seconds, rate,
                    100.0 * rate / LineBytesPerSecond);
    }
    return status;
}
