// What colour costs the terminal: the console interpreter's runs appended to a shown text box
// as the receive handler does, one 4 KiB chunk at a time with the event loop run between two
// chunks. Shapes:
//   a      80-character lines
//   e      ls --color lines, an SGR pair around every word
//   f      e's text without its escapes
//   flood  ESC[3Nm and one letter, N cycling 1-7, never a line break
// For each: CPU seconds for 5 MiB of input, and memory per held character. Then the flood is
// written until the box holds the full bound and on past it by half the bound, so that it trims:
// CPU per character, memory per held character at the bound beside plain text's, the longest
// time one chunk kept the event loop away, and what a workspace save of the full box holds on
// top of the box (its peak resident set over the one before it).
//
// Usage: colour_bench [--bound N] [--only a|e|f|flood|bound]

#include "app/mainwindow.h"
#include "receive/consoleinterpreter.h"
#include "rtf/rtfwriter.h"
#include "widgets/terminalbox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include <malloc.h>
#include <time.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype ChunkSize = 4096;
constexpr qsizetype MiB = 1024 * 1024;

qint64 statusKiB(const char *field)
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(qsizetype(std::strlen(field)))
                    .trimmed()
                    .split(' ')
                    .value(0)
                    .toLongLong();
        }
    }
    return 0;
}

qint64 residentKiB()
{
    malloc_trim(0);
    return statusKiB("VmRSS:");
}

// Makes the peak resident set start again from the present one.
void resetPeak()
{
    QFile refs(u"/proc/self/clear_refs"_s);
    if (refs.open(QIODevice::WriteOnly)) {
        refs.write("5");
    }
}

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The input stream of a shape, produced a chunk at a time so that no shape is held whole.
class Source
{
public:
    explicit Source(QByteArray shape)
        : m_shape(std::move(shape))
    {}

    QString next()
    {
        while (m_pending.size() < ChunkSize) {
            m_pending += piece();
        }
        const QString chunk = QString::fromLatin1(m_pending.first(ChunkSize));
        m_pending.remove(0, ChunkSize);
        return chunk;
    }

private:
    QByteArray piece()
    {
        const qsizetype k = m_count++;
        if (m_shape == "a") {
            QByteArray line = QByteArray::number(k).rightJustified(7, '0') + ' ';
            while (line.size() < 79) {
                line += char('!' + (k + line.size()) % 90);
            }
            return line + '\n';
        }
        if (m_shape == "flood") {
            return "\x1b[3" + QByteArray::number(1 + k % 7) + 'm' + char('a' + k % 26);
        }
        // e and f: as bench/side_by_side.py writes them.
        static const char *const colours[] = {"01;34", "01;36", "01;32", "00", "01;31", "40;33;01"};
        QByteArray line;
        for (int w = 0; w < 8; ++w) {
            const QByteArray name
                    = "name" + QByteArray::number((k * 8 + w) % 100000).rightJustified(5, '0');
            if (w > 0) {
                line += "  ";
            }
            if (m_shape == "e") {
                line += "\x1b[" + QByteArray(colours[(k + w) % 6]) + 'm' + name + "\x1b[0m";
            } else {
                line += name;
            }
        }
        return line + "\r\n";
    }

    QByteArray m_shape;
    QByteArray m_pending;
    qsizetype m_count = 0;
};

struct Fed
{
    double cpuSeconds = 0;
    double longestChunkMs = 0;
};

// Feeds input until `bytes` went in or the box holds `held` characters, whichever is first.
Fed feed(TerminalBox &box, Source &source, ConsoleInterpreter &console, qsizetype bytes,
         qsizetype held)
{
    Fed fed;
    const double start = cpuSeconds();
    QElapsedTimer chunkTimer;
    for (qsizetype written = 0; written < bytes && box.textLength() < held; written += ChunkSize) {
        chunkTimer.start();
        TextRuns runs;
        console.feed(source.next(), runs);
        box.appendRuns(runs);
        QApplication::processEvents();
        fed.longestChunkMs = std::max(fed.longestChunkMs, chunkTimer.nsecsElapsed() / 1e6);
    }
    fed.cpuSeconds = cpuSeconds() - start;
    return fed;
}

std::unique_ptr<TerminalBox> shownBox(qsizetype bound)
{
    auto box = std::make_unique<TerminalBox>();
    box->setMaxCharacters(bound);
    box->resize(800, 600);
    box->show();
    QApplication::processEvents();
    return box;
}

// Bytes per held character after `bytes` of the shape.
double measureShape(const QByteArray &shape, qsizetype bytes, qsizetype bound)
{
    const qint64 before = residentKiB();
    auto box = shownBox(bound);
    Source source(shape);
    ConsoleInterpreter console;
    const Fed fed = feed(*box, source, console, bytes, bound);
    box->textLength(); // everything gathered is in the document
    const double perCharacter = (residentKiB() - before) * 1024.0 / double(box->textLength());
    std::printf("%-6s %3lld MiB: CPU %6.3f s, longest chunk %6.1f ms, %5.1f bytes per held "
                "character\n",
                shape.constData(), static_cast<long long>(bytes / MiB), fed.cpuSeconds,
                fed.longestChunkMs, perCharacter);
    std::fflush(stdout);
    return perCharacter;
}

// Memory per held character once the box is full of a shape.
double heldAtBound(const QByteArray &shape, qsizetype bound)
{
    const qint64 before = residentKiB();
    auto box = shownBox(bound);
    Source source(shape);
    ConsoleInterpreter console;
    const Fed fill = feed(*box, source, console, bound * 8, bound);
    const qsizetype held = box->textLength();
    const double perCharacter = (residentKiB() - before) * 1024.0 / double(held);
    std::printf("%s to the bound: %lld characters, CPU %.2f s (%.0f ns a character), longest "
                "chunk %.1f ms, %.1f bytes per held character\n",
                shape.constData(), static_cast<long long>(held), fill.cpuSeconds,
                fill.cpuSeconds * 1e9 / double(held), fill.longestChunkMs, perCharacter);
    std::fflush(stdout);
    return perCharacter;
}

void measureBound(qsizetype bound)
{
    const double plain = heldAtBound("a", bound);
    const qint64 before = residentKiB();
    auto box = shownBox(bound);
    Source source("flood");
    ConsoleInterpreter console;
    const Fed fill = feed(*box, source, console, bound * 8, bound);
    const qsizetype held = box->textLength();
    const qint64 fullKiB = residentKiB();
    std::printf("flood to the bound: %lld characters, CPU %.2f s (%.0f ns a character), longest "
                "chunk %.1f ms, %.1f bytes per held character\n",
                static_cast<long long>(held), fill.cpuSeconds, fill.cpuSeconds * 1e9 / held,
                fill.longestChunkMs, (fullKiB - before) * 1024.0 / double(held));
    std::printf("memory per held character at the bound, flood over a: %.2f\n",
                (fullKiB - before) * 1024.0 / double(held) / plain);
    std::fflush(stdout);
    // Each flood chunk holds 4096 / 6 characters; on past the bound by half of it.
    const Fed past = feed(*box, source, console, bound / 2 * 6, bound * 2);
    std::printf("flood past the bound by %lld characters: CPU %.2f s, longest chunk %.1f ms, "
                "%lld characters held\n",
                static_cast<long long>(bound / 2), past.cpuSeconds, past.longestChunkMs,
                static_cast<long long>(box->textLength()));
    std::fflush(stdout);

    const qint64 heldKiB = residentKiB();
    resetPeak();
    QElapsedTimer timer;
    timer.start();
    const qsizetype rtfBytes
            = writeRtf([&box](const RunVisitor &visit) { box->visitRuns(visit); }).size();
    const qint64 peakKiB = statusKiB("VmHWM:");
    std::printf("workspace save of the full box: %.2f s, %lld bytes of RTF, peak %lld MiB over "
                "the box's %lld MiB, %lld MiB kept after\n",
                timer.nsecsElapsed() / 1e9, static_cast<long long>(rtfBytes),
                static_cast<long long>((peakKiB - heldKiB) / 1024),
                static_cast<long long>((heldKiB - before) / 1024),
                static_cast<long long>((residentKiB() - heldKiB) / 1024));
    std::fflush(stdout);
}

qsizetype option(int argc, char **argv, const char *name, qsizetype fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return QByteArray(argv[i + 1]).toLongLong();
        }
    }
    return fallback;
}

QByteArray only(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--only") == 0) {
            return argv[i + 1];
        }
    }
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const qsizetype bound = option(argc, argv, "--bound", MainWindow::MaxTerminalCharacters);
    const QByteArray part = only(argc, argv);
    double plain = 0;
    double flood = 0;
    for (const char *shape : {"a", "e", "f", "flood"}) {
        if (part.isEmpty() || part == shape) {
            const double perCharacter = measureShape(shape, 5 * MiB, bound);
            if (std::strcmp(shape, "a") == 0) {
                plain = perCharacter;
            } else if (std::strcmp(shape, "flood") == 0) {
                flood = perCharacter;
            }
        }
    }
    if (plain > 0 && flood > 0) {
        std::printf("memory per held character, flood over a: %.2f\n", flood / plain);
    }
    if (part.isEmpty() || part == "bound") {
        measureBound(bound);
    }
    return 0;
}
