// How fast the terminal's text box absorbs received data at its end, shown on screen, and what
// it costs in memory: 5, 10 and 20 MiB in 4 KiB chunks, as 80-character lines and as one line
// without any break. Time should grow in proportion to the size. Then what Enter costs after a
// 20 MiB line without a break: it should cost what the typed text costs, not what the line does.

#include "port/serialport.h"
#include "core/programstate.h"
#include "widgets/terminalbox.h"
#include "widgets/terminalwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QString>

#include <malloc.h>
#include <time.h>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype ChunkSize = 4096;
constexpr qsizetype MiB = 1024 * 1024;
constexpr QRgb ReceivedColor = qRgb(192, 192, 0);

struct Shape
{
    const char *name;
    bool lines;
};

// A chunk of printable text; with lines, every 80 characters end in CR LF, continuing across
// chunks as a stream would.
QString makeChunk(bool lines, qsizetype offset)
{
    QString chunk;
    chunk.reserve(ChunkSize);
    for (qsizetype i = offset; chunk.size() < ChunkSize; ++i) {
        const qsizetype column = i % 82;
        if (lines && column == 80) {
            chunk += u'\r';
        } else if (lines && column == 81) {
            chunk += u'\n';
        } else {
            chunk += QChar(char16_t(u'!' + i % 90));
        }
    }
    return chunk;
}

qint64 residentKiB()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return 0;
}

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

struct Absorbed
{
    double seconds;
    double cpuSeconds;
    qint64 rssGrowthKiB;
    qsizetype characters;
};

// Writes the data as the receive handler does, letting the event loop run after each chunk as it
// would between two arrivals.
Absorbed absorb(const Shape &shape, qsizetype bytes)
{
    // Chunks are built before timing; a stream with lines repeats every 82 chunks.
    std::vector<QString> chunks;
    for (qsizetype at = 0; at < 82 * ChunkSize; at += ChunkSize) {
        chunks.push_back(makeChunk(shape.lines, at));
    }
    malloc_trim(0);
    const qint64 before = residentKiB();
    auto box = std::make_unique<TerminalBox>();
    box->resize(800, 600);
    box->show();
    QApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    const double cpuStart = cpuSeconds();
    qsizetype written = 0;
    for (qsizetype i = 0; written < bytes; ++i) {
        const QString &chunk = chunks[i % chunks.size()];
        box->setSelReceived(true);
        box->setSelColor(ReceivedColor);
        box->insertText(chunk);
        box->moveCaretToEnd();
        box->setSelReceived(false);
        written += chunk.size();
        QApplication::processEvents();
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    const Absorbed result{seconds, cpuSeconds() - cpuStart, residentKiB() - before,
                          box->textLength()};
    if (result.characters != written - (shape.lines ? written / 82 : 0)) {
        std::printf("error: %lld characters stored for %lld written\n",
                    static_cast<long long>(result.characters), static_cast<long long>(written));
    }
    return result;
}

void pressKey(QWidget &widget, Qt::Key key, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(&widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(&widget, &release);
}

// A 20 MiB line arrives without a break, the user types three characters after it and presses
// Enter in the real terminal window (its port closed, so nothing waits on a device).
void enterAfterLongLine()
{
    SerialPort port;
    ProgramState state;
    TerminalWindow window(port, state);
    window.resize(800, 600);
    window.show();
    TerminalBox &box = window.box();
    const QString chunk = makeChunk(false, 0);
    for (qsizetype written = 0; written < 20 * MiB; written += chunk.size()) {
        box.appendRuns({{chunk, ReceivedColor, true}});
        QApplication::processEvents();
    }
    for (const char16_t c : {u'a', u'b', u'c'}) {
        pressKey(box, Qt::Key(QChar(c).toUpper().unicode()), QString(QChar(c)));
    }
    QApplication::processEvents();

    constexpr int Rounds = 20;
    QElapsedTimer timer;
    timer.start();
    qsizetype typed = 0;
    for (int i = 0; i < Rounds; ++i) {
        typed += box.lastTypedLine().size();
    }
    const double typedUs = double(timer.nsecsElapsed()) / 1e3 / Rounds;
    timer.start();
    const double cpuStart = cpuSeconds();
    pressKey(box, Qt::Key_Return, u"\r"_s);
    QApplication::processEvents();
    const double enterMs = double(timer.nsecsElapsed()) / 1e6;
    const double enterCpuMs = (cpuSeconds() - cpuStart) * 1e3;
    std::printf("after a 20 MiB line without a break: lastTypedLine %.1f us (%lld characters), "
                "Enter %.1f ms (CPU %.1f ms)\n",
                typedUs, static_cast<long long>(typed / Rounds), enterMs, enterCpuMs);
    if (!box.lastLine().isEmpty() || !box.text().endsWith(u"abc : 4 字符  (端口未打开! )\r\n"_s)) {
        std::printf("error: Enter did not send the typed line\n");
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    // An argument "lines" or "nobreak" runs one shape only, "enter" the Enter figure only.
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const Shape shapes[] = {{"80-character lines", true}, {"no line break", false}};
    for (const Shape &shape : shapes) {
        if (!only.isEmpty() && only != (shape.lines ? u"lines"_s : u"nobreak"_s)) {
            continue;
        }
        for (const int mib : {5, 10, 20}) {
            const Absorbed result = absorb(shape, mib * MiB);
            std::printf("insert at end, %s, %2d MiB in 4 KiB chunks: %6.2f s, %6.1f MiB/s "
                        "(CPU %.2f s)\n",
                        shape.name, mib, result.seconds, mib / result.seconds, result.cpuSeconds);
            if (mib == 20) {
                std::printf("memory, %s, 20 MiB: VmRSS +%lld MiB, %.1f bytes per stored "
                            "character\n",
                            shape.name, static_cast<long long>(result.rssGrowthKiB / 1024),
                            result.rssGrowthKiB * 1024.0 / double(result.characters));
            }
            std::fflush(stdout);
        }
    }
    if (only.isEmpty() || only == u"enter"_s) {
        enterAfterLongLine();
    }
    return 0;
}
