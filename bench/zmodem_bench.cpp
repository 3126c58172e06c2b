// ZMODEM both ways between this program and lrzsz, beside lrzsz's own sz -> rz, over a line paced
// at 115200 bit/s (11,520 B/s) and over an unpaced pseudo-terminal. Each run is timed from its
// start until the receiver has the whole file; the file is compared afterwards.
//
//   build/bench/zmodem_bench [BYTES [paced|pty]]   (default 4 MiB, both lines; needs lrzsz and
//                                                   python3)

#include "port/portpath.h"
#include "port/serialport.h"
#include "transfer/receivefolder.h"
#include "transfer/zmodemreceiver.h"
#include "transfer/zmodemsender.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

constexpr int PortNumber = 44;
constexpr double LineBytesPerSecond = 11520.0;

const QString Pacer = QStringLiteral(VELMIR_BENCH_DIR "/modem_pacer.py");

QString startPacer(QProcess &pacer, const QString &folder, double rate, const QStringList &far)
{
    pacer.start(u"python3"_s, QStringList{Pacer, folder, QString::number(rate)} + far);
    QDeadlineTimer deadline(60000);
    while (!pacer.canReadLine() && pacer.state() != QProcess::NotRunning && !deadline.hasExpired())
        pacer.waitForReadyRead(100);
    const QByteArray line = pacer.readLine().trimmed();
    return line.startsWith("SLAVE ") ? QString::fromLocal8Bit(line.mid(6)) : QString();
}

bool waitForExit(QProcess &process)
{
    QDeadlineTimer deadline(3600000);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return process.state() == QProcess::NotRunning && process.exitCode() == 0;
}

struct Run
{
    QString file;   // what is sent
    QString source; // the folder it is in
    QString folder; // where it lands
    double rate;
};

// Our engine over our port to or from the far end the pacer runs.
template<typename Engine>
std::optional<double> ours(const Run &run, const QStringList &far,
                           const std::function<Engine *()> &make)
{
    QProcess pacer;
    const QString slave
            = startPacer(pacer, far.first() == u"rz" ? run.folder : run.source, run.rate, far);
    QFile::remove(PortPath::linkPathFor(PortNumber));
    if (slave.isEmpty() || !QFile::link(slave, PortPath::linkPathFor(PortNumber)))
        return std::nullopt;
    SerialPort port;
    if (!port.setCommPort(PortNumber).ok() || !port.setSettings(u"115200,N,8,1"_s).ok()
        || !port.setPortOpen(true).ok())
        return std::nullopt;
    std::unique_ptr<Engine> engine(make());
    std::optional<Modem::Outcome> outcome;
    QObject::connect(&port, &CommPort::received, engine.get(),
                     [&](const QByteArray &bytes) { engine->feed(bytes); });
    QObject::connect(engine.get(), &Engine::output, &port,
                     [&](const QByteArray &bytes) { (void)port.output(bytes); });
    if constexpr (std::is_same_v<Engine, ZmodemSender>)
        QObject::connect(&port, &CommPort::bytesWritten, engine.get(),
                         [&] { engine->lineTook(port.bytesToWrite()); });
    QObject::connect(engine.get(), &Engine::finished,
                     [&](const Modem::Outcome &o) { outcome = o; });
    QElapsedTimer clock;
    clock.start();
    engine->start();
    QDeadlineTimer deadline(3600000);
    while (!outcome && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (!waitForExit(pacer) || !outcome || !outcome->completed()) {
        std::fprintf(stderr, "ours: %s\n", outcome ? qPrintable(outcome->reason) : "no end");
        return std::nullopt;
    }
    return seconds;
}

std::optional<double> send(const Run &run)
{
    QFile source(run.file);
    if (!source.open(QIODevice::ReadOnly))
        return std::nullopt;
    return ours<ZmodemSender>(run, {u"rz"_s}, [&] {
        return new ZmodemSender({{&source, "bench.bin", source.size(), 0}});
    });
}

std::optional<double> receive(const Run &run)
{
    ReceiveFolder sink(run.folder);
    return ours<ZmodemReceiver>(run, {u"sz"_s, u"bench.bin"_s},
                                [&] { return new ZmodemReceiver(sink); });
}

std::optional<double> lrzsz(const Run &run)
{
    QProcess pacer;
    const QString slave = startPacer(pacer, run.folder, run.rate, {u"rz"_s});
    if (slave.isEmpty())
        return std::nullopt;
    QProcess sz;
    QElapsedTimer clock;
    clock.start();
    sz.start(u"sh"_s, {u"-c"_s, u"exec sz \"$0\" <\"$1\" >\"$1\""_s, run.file, slave});
    if (!waitForExit(sz))
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
    const qint64 bytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 4 * 1024 * 1024;
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    QDir().mkpath(PortPath::portsDir());
    const QString source = dir.filePath(u"source"_s);
    QDir().mkpath(source);
    const QString file = source + u"/bench.bin"_s;
    {
        QByteArray data(bytes, Qt::Uninitialized);
        QRandomGenerator generator(1);
        for (char &b : data)
            b = char(generator.bounded(256));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size())
            return 1;
    }

    std::printf("ZMODEM, %lld bytes of random data\n", static_cast<long long>(bytes));
    std::printf("%-30s %-8s %10s %12s %10s\n", "transfer", "line", "seconds", "bytes/s",
                "% of line");
    int status = 0;
    const struct
    {
        const char *name;
        std::optional<double> (*run)(const Run &);
    } transfers[] = {{"velmir-rs232 -> lrzsz rz", send},
                     {"lrzsz sz -> velmir-rs232", receive},
                     {"lrzsz sz -> lrzsz rz", lrzsz}};
    int n = 0;
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    for (const double rate : {LineBytesPerSecond, 0.0}) {
        if ((only == "paced" && rate == 0) || (only == "pty" && rate > 0))
            continue;
        for (const auto &transfer : transfers) {
            const QString folder = dir.filePath(u"in%1"_s.arg(n++));
            QDir().mkpath(folder);
            const std::optional<double> seconds = transfer.run({file, source, folder, rate});
            const bool whole = sameFile(file, folder + u"/bench.bin"_s);
            const char *line = rate > 0 ? "115200" : "pty";
            if (!seconds || !whole) {
                std::printf("%-30s %-8s failed%s\n", transfer.name, line,
                            whole ? "" : " (file differs)");
                status = 1;
                continue;
            }
            const double achieved = double(bytes) / *seconds;
            if (rate > 0)
                std::printf("%-30s %-8s %10.2f %12.0f %9.1f%%\n", transfer.name, line, *seconds,
                            achieved, 100.0 * achieved / rate);
            else
                std::printf("%-30s %-8s %10.2f %12.0f %10s\n", transfer.name, line, *seconds,
                            achieved, "-");
            std::fflush(stdout);
        }
    }
    return status;
}
