#pragma once

#include "core/dialogs.h"
#include "core/longjob.h"
#include "core/textrun.h"

#include <QTimer>

#include <deque>
#include <memory>

class QFile;
class RtfReader;
struct CommandContext;

// A workspace file read into the terminal on the window's events. First the file is read and
// read as rich text a block at a time while the terminal still shows the session, keeping only
// what the terminal can hold; then the text replaces the session a slice at a time. No turn
// holds the window for more than a few frames, whatever the file, and the clear button, which
// reads "停止" meanwhile, stops it between two turns. A file that cannot be read or is not rich
// text leaves the session as it was.
//
// States: idle, reading (the session still shown), showing (the terminal being replaced).
class WorkspaceLoad : public LongJob
{
    Q_OBJECT

public:
    // The file is read this much at a time.
    static constexpr qint64 BlockBytes = 256 * 1024;
    // The text goes into the terminal this many characters at a time.
    static constexpr qsizetype SliceCharacters = 32 * 1024;

    explicit WorkspaceLoad(CommandContext &context, QObject *parent = nullptr);
    ~WorkspaceLoad() override;

    // The file the next start loads: regular, open, of at most maxBytes; shownPath names it in
    // messages.
    void setFile(std::unique_ptr<QFile> file, const QString &shownPath, qint64 maxBytes);
    // A load needs no port: it goes on when the port closes.
    void portClosed() override {}

protected:
    void begin() override;
    // The user's stop: the session stays if the terminal was not yet being replaced, else the
    // terminal keeps what it already shows.
    void cancel() override;

private:
    enum class State { Idle, Reading, Showing };

    void turn();
    void readBlock();
    void endOfFile();
    void keep(TextRuns runs);
    // Drops the oldest whole lines until the text fits the terminal; only when wholeLines is
    // false does a last line longer than the terminal lose its beginning.
    void trimToTerminal(bool wholeLines);
    void dropFront(qsizetype characters);
    void showSlice();
    void finish(const QString &message, Dialogs::Style style);
    // trimmedAfter: loaded lines the terminal dropped as what arrived meanwhile went in.
    QString notes(qint64 trimmedAfter) const;

    CommandContext &m_context;
    QTimer m_timer;
    State m_state = State::Idle;
    std::unique_ptr<QFile> m_file;
    QString m_shownPath;
    qint64 m_maxBytes = 0;
    qint64 m_bytesRead = 0;
    // What the bar measures: bytes of the file while reading, characters while showing.
    qint64 m_progressTotal = 1;
    std::unique_ptr<RtfReader> m_reader;

    // The text read and not yet shown, and how much of the document did not fit.
    std::deque<TextRun> m_runs;
    qsizetype m_frontOffset = 0; // of the first run, the part already shown
    qsizetype m_heldCharacters = 0;
    qsizetype m_droppedCharacters = 0;
    // Where the last line break read stands in the whole text; -1 before the first.
    qint64 m_lastBreak = -1;
    qsizetype m_shownCharacters = 0;
    qint64 m_lineBreaks = 0;
    qint64 m_droppedLineBreaks = 0;
    bool m_lastLineCut = false;
    bool m_endsWithBreak = false;
    bool m_complete = true;
    bool m_first = true;
    bool m_hadArrivals = false;
};
