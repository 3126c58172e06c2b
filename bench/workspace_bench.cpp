// What loading a workspace costs the real window: the longest time its event loop is held, the
// peak memory, and what the terminal then shows, for files a user may pick. Without arguments it
// makes its own set in a temporary folder: an RTF of text just under the 64 MiB bound, the bound
// plus one byte (sparse), and a document cut off mid-group. Files named on the command line are
// loaded instead, one window each.
//
//   workspace_bench [file...]
//   workspace_bench --make DIR      only writes the set into DIR

#include "app/mainwindow.h"
#include "app/menus.h"
#include "benchsupport.h"
#include "rtf/rtfreader.h"
#include "rtf/rtfwriter.h"
#include "port/serialport.h"
#include "widgets/terminalbox.h"
#include "widgets/statusstrip.h"
#include "core/colors.h"
#include "widgets/terminalwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 MiB = 1024 * 1024;

// Peak resident memory since the last reset, in MiB.
qint64 peakMiB()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() / 1024;
    }
    return -1;
}

void resetPeak()
{
    QFile clear(u"/proc/self/clear_refs"_s);
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// A session of typed commands and received answers, as the terminal saves it, of about `bytes`.
QByteArray sessionRtf(qint64 bytes)
{
    const QString typed = u"AT+CSQ;+CREG?;+COPS?;+CGATT?"_s;
    const QString received = u"+CSQ: 23,99 +CREG: 0,1 +COPS: 0,0,\"CHINA MOBILE\",7 OK"_s;
    const auto make = [&](int lines) {
        TextRuns runs;
        for (int line = 0; line < lines; ++line) {
            const bool rx = line % 2 == 1;
            runs.append(TextRun{u"%1 %2\n"_s.arg(line).arg(rx ? received : typed),
                                rx ? TerminalColors::Received : TerminalColors::Typed, rx});
        }
        return writeRtf(runs);
    };
    const qint64 perLine = make(10000).size() / 10000;
    QByteArray rtf = make(int(bytes / perLine));
    while (rtf.size() > bytes)
        rtf = make(int(double(bytes) / rtf.size() * (bytes / perLine)) - 1000);
    return rtf;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool writeSparse(const QString &path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size);
}

// Loads one file in a fresh window and prints what it cost.
void loadOne(const QString &label, const QString &path)
{
    BenchDialogs dialogs;
    dialogs.file = path;
    BenchStore store;
    SerialPort port;
    MainWindow window(port, store, dialogs);
    window.start();
    QCoreApplication::processEvents();
    resetPeak();

    // A tick every 5 ms: the longest gap between two is the longest the window was held.
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, &window, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - lastTick);
        lastTick = now;
    });
    clock.start();
    ticker.start();
    QTimer::singleShot(20, &window, [&] { window.runCommand(Menus::LoadWorkspace); });

    // Until the load has ended (the clear button reads 清除 again) and the terminal has stayed
    // the same for half a second, or two minutes have passed.
    qsizetype length = -1;
    qint64 stableSince = 0;
    while (clock.elapsed() < 120000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const qsizetype now = window.terminal().box().textLength();
        if (now != length) {
            length = now;
            stableSince = clock.elapsed();
        } else if (clock.elapsed() > 100 && window.statusStrip().buttonCaption() == u"清除"_s
                   && clock.elapsed() - stableSince > 500) {
            break;
        }
    }
    std::printf("%-32s done in %6lld ms, longest hold %6lld ms, peak %5lld MiB, shown %9lld "
                "characters\n",
                qPrintable(label), static_cast<long long>(stableSince),
                static_cast<long long>(longest), static_cast<long long>(peakMiB()),
                static_cast<long long>(length));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStringList files = app.arguments().mid(1);
    // --make DIR writes the set into DIR and loads nothing.
    const bool makeOnly = files.size() == 2 && files.first() == u"--make"_s;
    if (!files.isEmpty() && !makeOnly) {
        for (const QString &file : files)
            loadOne(file, file);
        return 0;
    }

    QTemporaryDir temporary;
    const QDir dir(makeOnly ? files.last() : temporary.path());
    const QString full = dir.filePath(u"full.rtf"_s);
    const QByteArray rtf = sessionRtf(64 * MiB - 4096);
    writeFile(full, rtf);
    std::printf("session RTF: %lld bytes\n", static_cast<long long>(rtf.size()));
    const QString over = dir.filePath(u"over.rtf"_s);
    writeSparse(over, 64 * MiB + 1);
    const QString cut = dir.filePath(u"cut.rtf"_s);
    writeFile(cut, rtf.first(rtf.size() / 2));
    if (makeOnly)
        return 0;

    measure("readRtf of the session", 1, [&] {
        const Expected<TextRuns> runs = readRtf(rtf);
        return runs.ok() ? runs.value().size() : qsizetype(-1);
    });
    {
        const TextRuns runs = *readRtf(rtf);
        TerminalBox box;
        box.setMaxCharacters(MainWindow::MaxTerminalCharacters);
        measure("TerminalBox::setRuns of the session", 1, [&] {
            box.setRuns(runs);
            return box.textLength();
        });
    }
    loadOne(u"RTF of text, just under 64 MiB"_s, full);
    loadOne(u"sparse file, 64 MiB + 1"_s, over);
    loadOne(u"RTF cut off after 32 MiB"_s, cut);
}
