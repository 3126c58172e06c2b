#include "widgets/terminalbox.h"

#include "widgets/heldlayout.h"
#include "document/terminaldocument.h"
#include "document/terminalparagraphs.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// The view is brought up to date at most this often while data streams in. Each frame lays out
// and paints the paragraphs that changed, a whole paragraph of a long line included, so for a
// stream without line breaks the frame rate, not the data, sets the cost.
constexpr int FrameIntervalMs = 100;
// The style paints the scroll bar with gradients, which cost more than the text of a frame and
// hand the work to helper threads; while a stream moves it, it shows its state this often.
constexpr int ScrollBarIntervalMs = 1000;
// Arrivals wait for the next frame only while they are small.
constexpr qsizetype HeldArrivalsLimit = 16 * 1024;

} // namespace

TerminalBox::EditScope::EditScope(TerminalBox &box)
    : m_box(box)
{
    if (m_box.m_editDepth++ == 0) {
        m_box.m_layout->setHolding(true);
    }
}

TerminalBox::EditScope::~EditScope()
{
    if (--m_box.m_editDepth == 0) {
        m_box.m_layout->setHolding(false);
        m_box.scheduleFrame();
    }
}

TerminalBox::TerminalBox(QWidget *parent)
    : QPlainTextEdit(parent)
    , m_document(new TerminalDocument(this))
{
    QTextDocument *doc = m_document->textDocument();
    {
        const TerminalDocument::Relayout relayout(*m_document);
        m_layout = new HeldLayout(doc);
        doc->setDocumentLayout(m_layout);
        setDocument(doc);
        m_layout->setPaintDevice(viewport());
    }

    QFont font(u"Arial"_s);
    font.setPointSizeF(9.75);
    font.setBold(true);
    // Terminal text needs no kerning or ligatures; shaping every line of a stream with them cost
    // more than drawing it. Scripts that need shaping still get it.
    font.setStyleStrategy(QFont::PreferNoShaping);
    setFont(font);
    doc->setDefaultFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, QColor(0, 128, 128));
    setPalette(palette);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // A scroll bar that came and went would change the width and re-wrap every line on screen.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A line without blanks wraps at the edge instead of running off to the right.
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);

    m_format.setForeground(QColor(Qt::black));

    m_frameTimer = new QTimer(this);
    m_frameTimer->setSingleShot(true);
    connect(m_frameTimer, &QTimer::timeout, this, &TerminalBox::showChanges);

    m_scrollBarTimer = new QTimer(this);
    m_scrollBarTimer->setSingleShot(true);
    connect(m_scrollBarTimer, &QTimer::timeout, this, &TerminalBox::releaseScrollBar);
    // A hand on the scroll bar sees it move at once.
    verticalScrollBar()->installEventFilter(this);
}

TerminalBox::~TerminalBox() = default;

void TerminalBox::setKeyHandler(KeyHandler *handler)
{
    m_handler = handler;
}

void TerminalBox::setReservedShortcuts(const QList<QKeySequence> &shortcuts)
{
    m_reservedShortcuts = shortcuts;
}

QString TerminalBox::text()
{
    takeArrivals();
    return m_document->text();
}

qsizetype TerminalBox::textLength()
{
    takeArrivals();
    return m_document->textLength();
}

void TerminalBox::clearText()
{
    m_arrived.clear(); // replaced with the rest
    EditScope scope(*this);
    m_document->clear();
    m_followCaret = true;
}

QString TerminalBox::lastLine()
{
    takeArrivals();
    return m_document->lastLine();
}

QString TerminalBox::lastTypedLine()
{
    takeArrivals();
    return m_document->lastTypedLine();
}

bool TerminalBox::endsAtLineStart() const
{
    const auto isBreak = [](QChar c) {
        return c == u'\n' || c == u'\r' || c == QChar::LineSeparator
               || c == QChar::ParagraphSeparator;
    };
    for (auto run = m_arrived.crbegin(); run != m_arrived.crend(); ++run) {
        if (!run->text.isEmpty())
            return isBreak(run->text.back());
    }
    const qsizetype length = m_document->textLength();
    return length == 0 || isBreak(m_document->charAt(length - 1));
}

QChar TerminalBox::charAt(qsizetype position)
{
    takeArrivals();
    return m_document->charAt(position);
}

qsizetype TerminalBox::selStart()
{
    takeArrivals();
    return m_document->toTextPosition(textCursor().selectionStart());
}

void TerminalBox::setSelStart(qsizetype position)
{
    takeArrivals();
    placeCaret(m_document->toDocumentPosition(position));
}

void TerminalBox::moveCaretToEnd()
{
    takeArrivals();
    placeCaret(m_document->endPosition());
}

// Called after every received chunk, so it costs nothing while the caret is already in place.
// A QTextCursor moved outside an edit block measures its x position, which lays out the block
// and leaves the layout's character data allocated for as long as the block stays unchanged.
void TerminalBox::placeCaret(int documentPosition)
{
    const QTextCursor current = textCursor();
    if (current.position() != documentPosition || current.hasSelection()) {
        QTextCursor cursor(document());
        cursor.beginEditBlock();
        cursor.setPosition(documentPosition);
        cursor.endEditBlock();
        setTextCursor(cursor);
    }
    m_followCaret = true;
    scheduleFrame();
}

void TerminalBox::syncCaret(const QTextCursor &cursor)
{
    const QTextCursor current = textCursor();
    if (current.position() != cursor.position() || current.anchor() != cursor.anchor()) {
        setTextCursor(cursor);
    }
}

void TerminalBox::setSelColor(QRgb color)
{
    m_format.setForeground(QColor(color));
}

void TerminalBox::setSelReceived(bool received)
{
    TerminalParagraphs::setReceived(m_format, received);
}

void TerminalBox::insertText(const QString &text)
{
    takeArrivals();
    QTextCursor cursor = textCursor();
    {
        EditScope scope(*this);
        m_document->insert(cursor, text, m_format);
    }
    syncCaret(cursor);
    m_followCaret = true;
}

TextRuns TerminalBox::runs()
{
    takeArrivals();
    return m_document->runs();
}

void TerminalBox::setRuns(const TextRuns &runs)
{
    m_arrived.clear(); // replaced with the rest
    {
        EditScope scope(*this);
        m_document->setRuns(runs);
    }
    setTextCursor(QTextCursor(document()));
}

void TerminalBox::appendRuns(const TextRuns &runs)
{
    if (m_arrivalsHeld) {
        m_heldArrivals += runs;
        return;
    }
    appendLoaded(runs);
}

qint64 TerminalBox::linesTrimmed()
{
    takeArrivals();
    return m_document->linesTrimmed();
}

bool TerminalBox::setArrivalsHeld(bool held)
{
    m_arrivalsHeld = held;
    if (held)
        return false;
    const TextRuns runs = std::exchange(m_heldArrivals, TextRuns());
    appendLoaded(runs);
    return !runs.isEmpty();
}

void TerminalBox::appendLoaded(const TextRuns &runs)
{
    // A stream reaches the document once a frame rather than once a chunk: each insertion moves
    // the caret, tells the input method and the view, and costs far more than its characters.
    for (const TextRun &run : runs) {
        if (run.text.isEmpty() && !run.cut) {
            continue;
        }
        if (!m_arrived.isEmpty() && m_arrived.last().color == run.color
            && m_arrived.last().received == run.received && !m_arrived.last().editsLine()
            && !run.editsLine()) {
            QString &text = m_arrived.last().text;
            // A CR that ended a chunk was a line break of its own; joined to an LF that starts
            // the next one, it would pair with it into one.
            if (text.endsWith(u'\r') && run.text.startsWith(u'\n')) {
                text.back() = u'\n';
            }
            text += run.text;
        } else {
            m_arrived.append(run);
        }
    }
    if (m_arrived.isEmpty()) {
        return;
    }
    // A chunk of a blast is large enough to pay for its own insertion; holding several would
    // only hold their memory and make one long insertion of them.
    qsizetype held = 0;
    for (const TextRun &run : std::as_const(m_arrived)) {
        held += run.text.size();
    }
    if (held >= HeldArrivalsLimit) {
        takeArrivals();
    } else {
        scheduleFrame();
    }
}

void TerminalBox::takeArrivals()
{
    if (m_arrived.isEmpty()) {
        return;
    }
    const TextRuns runs = std::exchange(m_arrived, TextRuns());
    // What the user holds is kept exactly: a selection stays selected, a caret placed in the
    // history stays there, and only a caret at the very end moves on with the text.
    QTextCursor kept = textCursor();
    const bool caretAtEnd = !kept.hasSelection() && kept.position() == m_document->endPosition();
    // The view follows only while it shows the end.
    const QScrollBar *bar = verticalScrollBar();
    m_followEnd = m_followEnd || m_followCaret || bar->value() >= bar->maximum();

    QTextCursor end;
    {
        EditScope scope(*this);
        end = m_document->append(runs, caretAtEnd ? nullptr : &kept);
    }
    // A selection that reached the end would otherwise have grown over the new text.
    syncCaret(caretAtEnd ? end : kept);
    scheduleFrame();
}

void TerminalBox::setMaxCharacters(qsizetype count)
{
    takeArrivals();
    EditScope scope(*this);
    m_document->setMaxCharacters(count);
}

// --- View ------------------------------------------------------------------------------------

// The first change after a quiet spell is shown at once, a stream once a frame interval.
void TerminalBox::scheduleFrame()
{
    if (m_frameTimer->isActive()) {
        return;
    }
    const qint64 since = m_lastFrame.isValid() ? m_lastFrame.elapsed() : FrameIntervalMs;
    m_frameTimer->start(int(FrameIntervalMs - std::min<qint64>(since, FrameIntervalMs)));
}

void TerminalBox::showChanges()
{
    takeArrivals();
    m_frameTimer->stop();
    m_lastFrame.start();
    holdScrollBar();
    m_layout->releaseSize();
    if (m_followCaret) {
        m_followCaret = false;
        m_followEnd = false;
        ensureCursorVisible();
        if (textCursor().atEnd()) {
            // A caret at the end that text arrived behind (a command typed, the device's
            // answer) is not always brought into view by the above, whose paragraphs are not
            // all laid out yet; the end is where the caret is.
            QScrollBar *bar = verticalScrollBar();
            bar->setValue(bar->maximum());
        }
    } else if (m_followEnd) {
        m_followEnd = false;
        QScrollBar *bar = verticalScrollBar();
        bar->setValue(bar->maximum());
    }
    // Only the paragraphs now on screen can need repainting; finding them lays out no more
    // than painting them does.
    QTextBlock block = firstVisibleBlock();
    const int firstShown = block.blockNumber();
    int lastShown = firstShown;
    const qreal bottom = viewport()->height();
    for (qreal y = contentOffset().y(); block.isValid() && y <= bottom; block = block.next()) {
        lastShown = block.blockNumber();
        y += blockBoundingRect(block).height();
    }
    m_layout->releaseRepaint(firstShown, lastShown);
}

// Before a frame changes the scroll bar: it repaints now if it has not for a while, else it
// keeps its pixels until the interval is up.
void TerminalBox::holdScrollBar()
{
    QScrollBar *bar = verticalScrollBar();
    if (!bar->updatesEnabled()) {
        return; // released by the timer
    }
    if (bar->underMouse() || bar->isSliderDown()) {
        m_scrollBarShown.start();
        return;
    }
    const qint64 since
            = m_scrollBarShown.isValid() ? m_scrollBarShown.elapsed() : ScrollBarIntervalMs;
    if (since >= ScrollBarIntervalMs) {
        m_scrollBarShown.start();
        return;
    }
    bar->setUpdatesEnabled(false);
    m_scrollBarTimer->start(int(ScrollBarIntervalMs - since));
}

void TerminalBox::releaseScrollBar()
{
    m_scrollBarTimer->stop();
    QScrollBar *bar = verticalScrollBar();
    if (!bar->updatesEnabled()) {
        bar->setUpdatesEnabled(true); // repaints it
        m_scrollBarShown.start();
    }
}

bool TerminalBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == verticalScrollBar()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::Enter:
            releaseScrollBar();
            break;
        default:
            break;
        }
    }
    return QPlainTextEdit::eventFilter(watched, event);
}
