#include "commands/workspaceload.h"

#include "commands/commandcontext.h"
#include "core/commport.h"
#include "core/dialogs.h"
#include "core/messages.h"
#include "rtf/rtfreader.h"
#include "core/terminal.h"

#include <QElapsedTimer>
#include <QFile>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

// A turn of work ends after this long, so the window repaints and answers between turns.
constexpr qint64 TurnMs = 30;

} // namespace

WorkspaceLoad::WorkspaceLoad(CommandContext &context, QObject *parent)
    : LongJob(parent)
    , m_context(context)
{
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &WorkspaceLoad::turn);
}

// The window is closing: nothing is shown or said any more.
WorkspaceLoad::~WorkspaceLoad() = default;

void WorkspaceLoad::setFile(std::unique_ptr<QFile> file, const QString &shownPath, qint64 maxBytes)
{
    Q_ASSERT(!running());
    m_file = std::move(file);
    m_shownPath = shownPath;
    m_maxBytes = maxBytes;
}

void WorkspaceLoad::begin()
{
    Q_ASSERT(m_file);
    CommandContext &c = m_context;
    m_bytesRead = 0;
    m_reader = std::make_unique<RtfReader>();
    m_runs.clear();
    m_heldCharacters = 0;
    m_droppedCharacters = 0;
    m_lastBreak = -1;
    m_frontOffset = 0;
    m_shownCharacters = 0;
    m_lineBreaks = 0;
    m_droppedLineBreaks = 0;
    m_lastLineCut = false;
    m_endsWithBreak = false;
    m_complete = true;
    m_first = true;
    m_state = State::Reading;

    // As during the hexadecimal view, the terminal takes no typing until the load ends.
    c.box.setInputEnabled(false);
    // What the line brings meanwhile goes in after the loaded text, not into it or before it.
    c.box.setArrivalsHeld(true);
    m_progressTotal = qMax<qint64>(1, m_file->size());
    reportProgress(0, m_progressTotal);
    // A small file is done at once, as if it were read in one go.
    turn();
    if (running())
        m_timer.start();
}

void WorkspaceLoad::cancel()
{
    if (m_state == State::Showing)
        m_context.box.setSelStart(0);
    finish(QString(), Dialogs::Plain);
}

void WorkspaceLoad::turn()
{
    QElapsedTimer clock;
    clock.start();
    while (running() && clock.elapsed() < TurnMs) {
        if (m_state == State::Reading) {
            readBlock();
        } else {
            showSlice();
        }
    }
}

void WorkspaceLoad::readBlock()
{
    const QByteArray block = m_file->read(BlockBytes);
    if (block.isEmpty()) {
        if (m_file->error() != QFileDevice::NoError) {
            finish(Messages::workspaceLoadFailed(m_shownPath, m_file->errorString()),
                   Dialogs::Warning);
        } else {
            endOfFile();
        }
        return;
    }
    // The size was checked before, but the file may grow while it is read.
    m_bytesRead += block.size();
    if (m_bytesRead > m_maxBytes) {
        finish(Messages::workspaceLoadFailed(m_shownPath,
                                             Messages::workspaceGrewPastLimit(m_maxBytes)),
               Dialogs::Warning);
        return;
    }
    if (const Result fed = m_reader->feed(block); !fed.ok()) {
        finish(Messages::workspaceLoadFailed(m_shownPath, fed.message()), Dialogs::Warning);
        return;
    }
    keep(m_reader->takeRuns());
    reportProgress(m_bytesRead, m_progressTotal);
    // Whatever follows the document's closing brace is not part of it.
    if (m_reader->complete())
        endOfFile();
}

void WorkspaceLoad::endOfFile()
{
    if (const Result done = m_reader->finish(); !done.ok()) {
        finish(Messages::workspaceLoadFailed(m_shownPath, done.message()), Dialogs::Warning);
        return;
    }
    keep(m_reader->takeRuns());
    m_complete = m_reader->complete();
    m_file.reset();
    m_reader.reset();
    // A document cut off before it shows anything is damaged, not an empty workspace.
    if (!m_complete && m_heldCharacters == 0 && m_droppedCharacters == 0) {
        finish(Messages::workspaceLoadFailed(m_shownPath, Messages::workspaceCutOffEmpty()),
               Dialogs::Warning);
        return;
    }
    trimToTerminal(false);

    // From here on the terminal is replaced.
    m_state = State::Showing;
    m_progressTotal = qMax<qsizetype>(1, m_heldCharacters);
    reportProgress(0, m_progressTotal);
    if (m_runs.empty())
        showSlice();
}

void WorkspaceLoad::keep(TextRuns runs)
{
    for (TextRun &run : runs) {
        if (run.text.isEmpty())
            continue;
        if (const qsizetype breaks = run.text.count(u'\n'); breaks > 0) {
            m_lineBreaks += breaks;
            m_lastBreak = m_droppedCharacters + m_heldCharacters + run.text.lastIndexOf(u'\n');
        }
        m_endsWithBreak = run.text.endsWith(u'\n');
        m_heldCharacters += run.text.size();
        m_runs.push_back(std::move(run));
    }
    // Trimmed an eighth at a time, so that the search for a line break does not repeat.
    const qsizetype limit = m_context.terminalCharacters;
    if (limit > 0 && m_heldCharacters > limit + limit / 8)
        trimToTerminal(true);
}

void WorkspaceLoad::trimToTerminal(bool wholeLines)
{
    const qsizetype limit = m_context.terminalCharacters;
    if (limit <= 0 || m_heldCharacters <= limit)
        return;
    const qsizetype excess = m_heldCharacters - limit;
    // The line break that ends the last line to drop is the first at or after the excess-th
    // character; when the text has none there, its last line alone is longer than the
    // terminal, and it keeps the end of that line as the terminal itself would.
    if (m_lastBreak < m_droppedCharacters + excess - 1) {
        if (!wholeLines) {
            dropFront(excess);
            m_lastLineCut = true;
        }
        return;
    }
    qsizetype before = 0;
    for (const TextRun &run : m_runs) {
        const qsizetype from = qMax<qsizetype>(excess - 1 - before, 0);
        if (from < run.text.size()) {
            if (const qsizetype at = run.text.indexOf(u'\n', from); at >= 0) {
                dropFront(before + at + 1);
                return;
            }
        }
        before += run.text.size();
    }
    Q_ASSERT(false); // m_lastBreak said there was one
}

void WorkspaceLoad::dropFront(qsizetype characters)
{
    qsizetype dropped = 0;
    while (dropped < characters && !m_runs.empty()) {
        TextRun &front = m_runs.front();
        const qsizetype count = qMin(front.text.size(), characters - dropped);
        m_droppedLineBreaks += QStringView(front.text).first(count).count(u'\n');
        if (count == front.text.size()) {
            m_runs.pop_front();
        } else {
            front.text.remove(0, count);
        }
        dropped += count;
    }
    m_heldCharacters -= dropped;
    m_droppedCharacters += dropped;
}

void WorkspaceLoad::showSlice()
{
    CommandContext &c = m_context;
    TextRuns slice;
    qsizetype room = SliceCharacters;
    while (room > 0 && !m_runs.empty()) {
        const TextRun &front = m_runs.front();
        const qsizetype left = front.text.size() - m_frontOffset;
        qsizetype count = qMin(left, room);
        // A character outside the BMP stays whole.
        if (count < left && front.text.at(m_frontOffset + count - 1).isHighSurrogate())
            ++count;
        slice.append(TextRun{front.text.mid(m_frontOffset, count), front.color, front.received});
        room -= count;
        m_frontOffset += count;
        m_shownCharacters += count;
        if (m_frontOffset == front.text.size()) {
            m_runs.pop_front();
            m_frontOffset = 0;
        }
    }
    if (m_first) {
        // Clears the session and puts the caret at the start, as loading a document does.
        c.box.setRuns(slice);
        m_first = false;
    } else {
        c.box.appendLoaded(slice);
    }
    reportProgress(m_shownCharacters, m_progressTotal);
    if (m_runs.empty()) {
        // What the line brought meanwhile goes in now; in a full terminal it pushes out the
        // oldest loaded lines, which the message must not count.
        const qint64 trimmedBefore = c.box.linesTrimmed();
        m_hadArrivals = c.box.setArrivalsHeld(false);
        const qint64 trimmed = c.box.linesTrimmed() - trimmedBefore;
        c.box.setSelStart(0);
        finish(notes(trimmed), Dialogs::Information);
    }
}

QString WorkspaceLoad::notes(qint64 trimmedAfter) const
{
    QStringList notes;
    if (!m_complete)
        notes.append(Messages::workspaceCutOffNote());
    if (m_droppedCharacters > 0 || trimmedAfter > 0) {
        const qint64 lines = m_lineBreaks + (m_endsWithBreak ? 0 : 1);
        const qint64 held = qMax<qint64>(0, lines - m_droppedLineBreaks - trimmedAfter);
        notes.append(Messages::workspaceLinesDroppedNote(lines, held, m_context.terminalCharacters,
                                                         m_lastLineCut && trimmedAfter == 0));
    }
    if (notes.isEmpty())
        return QString();
    return Messages::workspaceLoadedWithNotes(m_shownPath, notes);
}

void WorkspaceLoad::finish(const QString &message, Dialogs::Style style)
{
    CommandContext &c = m_context;
    m_state = State::Idle;
    m_timer.stop();
    m_file.reset();
    m_reader.reset();
    m_runs.clear();
    c.box.setInputEnabled(true);
    // The message's count of lines is what the terminal holds while it is read; what the line
    // brought meanwhile follows it. An open line is live: the view follows its latest text
    // rather than staying at the loaded top.
    const bool arrived = c.box.setArrivalsHeld(false) || std::exchange(m_hadArrivals, false);
    if (arrived || c.port.portOpen())
        c.box.moveCaretToEnd();
    if (message.isEmpty())
        LongJob::finish(JobResult::quiet());
    else
        LongJob::finish(JobResult::box(message, style == Dialogs::Warning));
}
