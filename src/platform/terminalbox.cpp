#include "platform/terminalbox.h"

#include "platform/keymap.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextDocumentLayout>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Longest paragraph written at the end of the text. A paragraph is laid out whole whenever it
// changes, so this bounds the work of one insertion however long the line grows.
constexpr qsizetype BlockLength = 1024;
// A paragraph changed in the middle may grow to twice that before it is cut, so that typing into
// a full paragraph does not chop it into one-character pieces.
constexpr qsizetype MiddleBlockLength = 2 * BlockLength;

// User state of a paragraph that goes on with the line of the paragraph before it; every other
// value (QTextBlock's default is -1) starts a line.
constexpr int ContinuationState = 1;
constexpr int LineStartState = -1;

// Character property of text that came from the line.
constexpr int ReceivedProperty = QTextFormat::UserProperty + 1;

// The view is brought up to date at most this often while data streams in. Each frame lays out
// and paints the paragraphs that changed, a whole paragraph of a long line included, so for a
// stream without line breaks the frame rate, not the data, sets the cost.
constexpr int FrameIntervalMs = 100;
constexpr int TwipsPerPixel = 15;

bool isContinuation(const QTextBlock &block)
{
    return block.userState() == ContinuationState;
}

// Characters that QTextDocument would turn into paragraph breaks of its own.
bool isSpecial(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'\r' || u == u'\n' || (u >= 0x2029 && (u == 0x2029 || u == 0xFDD0 || u == 0xFDD1));
}

bool isNoncharacter(QChar c)
{
    return c.unicode() == 0xFDD0 || c.unicode() == 0xFDD1;
}

// Length of the line break starting at text[at]: "\r\n" is one break of two characters.
qsizetype breakLength(QStringView text, qsizetype at)
{
    return text[at] == u'\r' && at + 1 < text.size() && text[at + 1] == u'\n' ? 2 : 1;
}

bool isReceived(const QTextFormat &format)
{
    return format.boolProperty(ReceivedProperty);
}

QTextCharFormat runFormat(QRgb color, bool received)
{
    QTextCharFormat format;
    format.setForeground(QColor(color));
    if (received) {
        format.setProperty(ReceivedProperty, true);
    }
    return format;
}

bool isNavigationKey(int key)
{
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        return true;
    default:
        return false;
    }
}

} // namespace

// The plain-text layout with its change notices held back while the box edits, so that the view
// follows the document once a frame rather than once an insertion.
class TerminalBox::HeldLayout : public QPlainTextDocumentLayout
{
public:
    using QPlainTextDocumentLayout::QPlainTextDocumentLayout;

    void setHolding(bool holding) { m_holding = holding; }

    // Tells the view the document's new size; false when nothing was held.
    bool releaseSize()
    {
        if (!m_held) {
            return false;
        }
        m_held = false;
        Q_EMIT documentSizeChanged(documentSize());
        return true;
    }

    // Repaints what changed while held: the paragraphs from the first change on, when they are
    // few and nothing was removed, since what lies before them only moved by scrolling; else
    // the whole view.
    void releaseRepaint()
    {
        const int from = m_changedFrom;
        const bool removed = m_removed;
        m_changedFrom = -1;
        m_removed = false;
        if (from < 0) {
            return;
        }
        constexpr int MaxBlocks = 200;
        QTextBlock block = document()->findBlock(from);
        if (!removed && document()->blockCount() - block.blockNumber() <= MaxBlocks) {
            for (; block.isValid(); block = block.next()) {
                Q_EMIT updateBlock(block);
            }
        } else {
            requestUpdate();
        }
    }

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override
    {
        if (!m_holding) {
            QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
            m_blockCount = document()->blockCount();
            return;
        }
        // The plain-text layout lays out a paragraph changed within itself at once, on every
        // insertion into it; a long line growing a few bytes at a time would be laid out again
        // and again. Its layout is dropped instead, and the next frame lays out what it shows.
        const QTextDocument *doc = document();
        QTextBlock first = doc->findBlock(from);
        if (first.isValid() && doc->blockCount() == m_blockCount
            && first == doc->findBlock(std::max(0, from + charsRemoved + charsAdded - 1))) {
            first.clearLayout();
        } else {
            const QSignalBlocker blocker(this);
            QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
            m_blockCount = doc->blockCount();
        }
        m_held = true;
        m_changedFrom = m_changedFrom < 0 ? from : std::min(m_changedFrom, from);
        m_removed = m_removed || charsRemoved > 0;
    }

private:
    bool m_holding = false;
    bool m_held = false;
    // Paragraphs as the base layout last counted them; it only lays out a change that kept it.
    int m_blockCount = -1;
    int m_changedFrom = -1;
    bool m_removed = false;
};

// Marks the document edits as the box's own and holds the view's notices back until the
// outermost edit ends.
class TerminalBox::EditScope
{
public:
    explicit EditScope(TerminalBox &box)
        : m_box(box)
    {
        if (m_box.m_editDepth++ == 0) {
            m_box.m_layout->setHolding(true);
        }
    }
    ~EditScope()
    {
        if (--m_box.m_editDepth == 0) {
            m_box.m_layout->setHolding(false);
            m_box.scheduleFrame();
        }
    }
    Q_DISABLE_COPY_MOVE(EditScope)

private:
    TerminalBox &m_box;
};

TerminalBox::TerminalBox(QWidget *parent)
    : QPlainTextEdit(parent)
{
    auto *doc = new QTextDocument(this);
    doc->setUndoRedoEnabled(false); // an undo stack would keep every received byte twice
    m_layout = new HeldLayout(doc);
    doc->setDocumentLayout(m_layout);
    setDocument(doc);
    m_layout->setPaintDevice(viewport());

    QFont font(u"Arial"_s);
    font.setPointSizeF(9.75);
    font.setBold(true);
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
    // Edits that do not come through the box (an input method, a caller using document()) may
    // add or remove seams; the count is then taken again when next needed.
    connect(doc, &QTextDocument::contentsChange, this, [this] {
        if (m_editDepth == 0) {
            m_seamsStale = true;
        }
    });
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

QString TerminalBox::text() const
{
    return textBetween(0, document()->characterCount() - 1, u"\r\n");
}

qsizetype TerminalBox::textLength() const
{
    return document()->characterCount() - 1 - seamCount();
}

void TerminalBox::clearText()
{
    EditScope scope(*this);
    clear();
    m_seams = 0;
    m_seamsStale = false;
    m_followCaret = true;
}

QString TerminalBox::lastLine() const
{
    QTextBlock block = document()->lastBlock();
    while (isContinuation(block) && block.previous().isValid()) {
        block = block.previous();
    }
    return textBetween(block.position(), document()->characterCount() - 1, u"\r\n");
}

QChar TerminalBox::charAt(qsizetype position) const
{
    if (position < 0 || position >= textLength()) {
        return {};
    }
    const QChar c = document()->characterAt(toDocumentPosition(position));
    return c == QChar::ParagraphSeparator ? QChar(u'\n') : c;
}

qsizetype TerminalBox::selStart() const
{
    return toBoxPosition(textCursor().selectionStart());
}

void TerminalBox::setSelStart(qsizetype position)
{
    placeCaret(toDocumentPosition(std::clamp<qsizetype>(position, 0, textLength())));
}

void TerminalBox::moveCaretToEnd()
{
    placeCaret(document()->characterCount() - 1);
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

void TerminalBox::setSelColor(QRgb color)
{
    m_format.setForeground(QColor(color));
}

void TerminalBox::setSelReceived(bool received)
{
    if (received) {
        m_format.setProperty(ReceivedProperty, true);
    } else {
        m_format.clearProperty(ReceivedProperty);
    }
}

void TerminalBox::insertText(const QString &text)
{
    QTextCursor cursor = textCursor();
    {
        EditScope scope(*this);
        cursor.beginEditBlock();
        removeSelection(cursor);
        insertAtCursor(cursor, text, m_format);
        cursor.endEditBlock();
    }
    syncCaret(cursor);
    m_followCaret = true;
    trimToMaxCharacters();
}

void TerminalBox::moveTwips(int left, int top, int width, int height)
{
    setGeometry(left / TwipsPerPixel, top / TwipsPerPixel, std::max(width, 0) / TwipsPerPixel,
                std::max(height, 0) / TwipsPerPixel);
}

TextRuns TerminalBox::runs() const
{
    TextRuns result;
    const auto append = [&result](QStringView text, const QTextCharFormat &format) {
        const QRgb color = format.foreground().color().rgb();
        const bool received = isReceived(format);
        if (!result.isEmpty() && result.last().color == color
            && result.last().received == received) {
            result.last().text += text;
        } else {
            result.append(TextRun{text.toString(), color, received});
        }
    };
    const QTextDocument *doc = document();
    for (QTextBlock block = doc->firstBlock(); block.isValid(); block = block.next()) {
        if (block != doc->firstBlock() && !isContinuation(block)) {
            // The paragraph separator before the block carries the line break's format.
            append(u"\n", block.charFormat());
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            append(fragment.text(), fragment.charFormat());
        }
    }
    return result;
}

void TerminalBox::setRuns(const TextRuns &runs)
{
    {
        EditScope scope(*this);
        clear();
        m_seams = 0;
        m_seamsStale = false;
        QTextCursor cursor(document());
        cursor.beginEditBlock();
        for (const TextRun &run : runs) {
            insertAtCursor(cursor, run.text, runFormat(run.color, run.received));
        }
        cursor.endEditBlock();
    }
    setTextCursor(QTextCursor(document()));
    trimToMaxCharacters();
}

void TerminalBox::appendRuns(const TextRuns &runs)
{
    if (runs.isEmpty()) {
        return;
    }
    // What the user holds is kept exactly: a selection stays selected, a caret placed in the
    // history stays there, and only a caret at the very end moves on with the text.
    QTextCursor kept = textCursor();
    const bool caretAtEnd
            = !kept.hasSelection() && kept.position() == document()->characterCount() - 1;
    // The view follows only while it shows the end; the scroll bar's maximum is the one the view
    // last knew, so appends within one frame all see the same answer.
    const QScrollBar *bar = verticalScrollBar();
    m_followEnd = m_followEnd || m_followCaret || bar->value() >= bar->maximum();

    QTextCursor cursor(document());
    {
        EditScope scope(*this);
        // Inside the edit block a cursor that moves does not lay out its paragraph.
        cursor.beginEditBlock();
        // Marks that stay before text inserted where they are, as a cursor's anchor does not,
        // and move with the characters when a seam goes in before them.
        QTextCursor anchor(document());
        anchor.setPosition(kept.anchor());
        anchor.setKeepPositionOnInsert(true);
        QTextCursor position(document());
        position.setPosition(kept.position());
        position.setKeepPositionOnInsert(true);
        cursor.movePosition(QTextCursor::End);
        for (const TextRun &run : runs) {
            insertAtCursor(cursor, run.text, runFormat(run.color, run.received));
        }
        kept.setPosition(anchor.position());
        kept.setPosition(position.position(), QTextCursor::KeepAnchor);
        cursor.endEditBlock();
    }
    // A selection that reached the end would otherwise have grown over the new text.
    syncCaret(caretAtEnd ? cursor : kept);
    trimToMaxCharacters();
    scheduleFrame();
}

QString TerminalBox::lastTypedLine() const
{
    QTextBlock block = document()->lastBlock();
    while (isContinuation(block) && block.previous().isValid()) {
        block = block.previous();
    }
    QString typed;
    for (; block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!isReceived(fragment.charFormat())) {
                typed += fragment.text();
            }
        }
    }
    return typed;
}

void TerminalBox::setMaxCharacters(qsizetype count)
{
    m_maxCharacters = std::max<qsizetype>(count, 0);
    trimToMaxCharacters();
}

// --- Positions -------------------------------------------------------------------------------

qsizetype TerminalBox::seamCount() const
{
    if (m_seamsStale) {
        m_seams = 0;
        for (QTextBlock block = document()->firstBlock(); block.isValid(); block = block.next()) {
            m_seams += isContinuation(block);
        }
        m_seamsStale = false;
    }
    return m_seams;
}

// Seams before the end of the block, its own included: the document position of the block's
// start minus this is its position in the box.
qsizetype TerminalBox::seamsUpTo(const QTextBlock &block) const
{
    const qsizetype total = seamCount();
    if (total == 0) {
        return 0;
    }
    // Walk from whichever end is nearer; callers mostly ask about the end.
    const QTextDocument *doc = document();
    if (block.blockNumber() >= doc->blockCount() / 2) {
        qsizetype after = 0;
        for (QTextBlock b = doc->lastBlock(); b.isValid() && b != block; b = b.previous()) {
            after += isContinuation(b);
        }
        return total - after;
    }
    qsizetype before = 0;
    for (QTextBlock b = doc->firstBlock(); b.isValid(); b = b.next()) {
        before += isContinuation(b);
        if (b == block) {
            break;
        }
    }
    return before;
}

qsizetype TerminalBox::toBoxPosition(int documentPosition) const
{
    if (documentPosition >= document()->characterCount() - 1) {
        return textLength();
    }
    return documentPosition - seamsUpTo(document()->findBlock(documentPosition));
}

// A position at a seam maps to the start of the continuation paragraph, where its character is.
int TerminalBox::toDocumentPosition(qsizetype position) const
{
    const qsizetype seams = seamCount();
    const qsizetype length = document()->characterCount() - 1 - seams;
    position = std::clamp<qsizetype>(position, 0, length);
    if (seams == 0) {
        return int(position);
    }
    if (position == length) {
        return document()->characterCount() - 1;
    }
    const QTextDocument *doc = document();
    if (position >= length / 2) {
        qsizetype upTo = seams;
        QTextBlock block = doc->lastBlock();
        while (block.position() - upTo > position && block.previous().isValid()) {
            upTo -= isContinuation(block);
            block = block.previous();
        }
        return int(position + upTo);
    }
    qsizetype upTo = 0;
    for (QTextBlock next = doc->firstBlock().next(); next.isValid(); next = next.next()) {
        const qsizetype nextUpTo = upTo + isContinuation(next);
        if (next.position() - nextUpTo > position) {
            break;
        }
        upTo = nextUpTo;
    }
    return int(position + upTo);
}

QString TerminalBox::textBetween(int from, int to, QStringView lineBreak) const
{
    QString result;
    if (to <= from) {
        return result;
    }
    result.reserve(to - from);
    for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        const int start = block.position();
        if (start > from && !isContinuation(block)) {
            result += lineBreak;
        }
        const QString text = block.text();
        const qsizetype first = std::max(from - start, 0);
        const qsizetype last = std::min<qsizetype>(to - start, text.size());
        if (last > first) {
            result += QStringView(text).sliced(first, last - first);
        }
    }
    return result;
}

bool TerminalBox::holdsProtected(int from, int to) const
{
    for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        const int start = block.position();
        if (start > from && !isContinuation(block) && isReceived(block.charFormat())) {
            return true; // a received line break
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.position() < to && fragment.position() + fragment.length() > from
                && isReceived(fragment.charFormat())) {
                return true;
            }
        }
    }
    return false;
}

// --- Editing ---------------------------------------------------------------------------------

// Writes text at the cursor, which holds no selection. Lines that fit their paragraph are handed
// to the document together; a longer line is cut into continuation paragraphs.
void TerminalBox::insertAtCursor(QTextCursor &cursor, QStringView text,
                                 const QTextCharFormat &format)
{
    Q_ASSERT(!cursor.hasSelection());
    const int start = cursor.position();
    const bool atEnd = cursor.atEnd();
    const qsizetype limit = atEnd ? BlockLength : MiddleBlockLength;
    qsizetype used = cursor.block().length() - 1;
    qsizetype pending = 0; // start of the lines not yet handed over
    const auto handOver = [&](qsizetype end) {
        if (end > pending) {
            cursor.insertText(QString::fromRawData(text.data() + pending, end - pending), format);
        }
    };
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        qsizetype j = i;
        while (j < n && !isSpecial(text[j])) {
            ++j;
        }
        const bool noncharacter = j < n && isNoncharacter(text[j]);
        if (atEnd && !noncharacter && used + (j - i) <= limit) {
            // The document breaks "\r\n", "\r" and "\n" into paragraphs itself, as the box does.
            if (j == n) {
                break;
            }
            i = j + breakLength(text, j);
            used = 0;
            continue;
        }
        handOver(i);
        insertLinePiece(cursor, text.sliced(i, j - i), format, limit);
        if (j < n && noncharacter) {
            // QTextDocument reserves these two for frames; they cannot be stored as text.
            insertLinePiece(cursor, u"\uFFFD", format, limit);
            ++j;
        } else if (j < n) {
            const int state = cursor.block().userState();
            cursor.insertBlock(cursor.blockFormat(), format);
            cursor.block().previous().setUserState(state);
            cursor.block().setUserState(LineStartState);
            j += breakLength(text, j);
        }
        pending = j;
        used = cursor.block().length() - 1;
        i = j;
    }
    handOver(n);
    // A break written at the very start of a continuation paragraph, or right before one,
    // leaves an empty paragraph with a seam beside it.
    joinEmptyBlock(document()->findBlock(start));
    joinEmptyBlock(cursor.block());
}

void TerminalBox::insertLinePiece(QTextCursor &cursor, QStringView piece,
                                  const QTextCharFormat &format, qsizetype blockLimit)
{
    while (!piece.isEmpty()) {
        const qsizetype used = cursor.block().length() - 1;
        qsizetype take = std::min(blockLimit - used, piece.size());
        if (take < piece.size() && used >= blockLimit / 2 && cursor.positionInBlock() > 0) {
            // The paragraph is full enough: the line goes on in a continuation paragraph.
            startContinuation(cursor, format);
            continue;
        }
        if (take <= 0) {
            // At the start of a paragraph filled by what follows the caret: nowhere to cut.
            take = std::min(BlockLength, piece.size());
        }
        if (take < piece.size() && take > 1 && piece[take - 1].isHighSurrogate()) {
            --take; // a surrogate pair stays in one paragraph
        }
        cursor.insertText(QString::fromRawData(piece.data(), take), format);
        piece = piece.sliced(take);
    }
}

// Puts a seam before the caret. At the end of the text, where a slow stream leaves the last
// paragraph laid out, the seam goes where that paragraph's last screen line starts, so that the
// line reads on without a visible break at the box's present width.
void TerminalBox::startContinuation(QTextCursor &cursor, const QTextCharFormat &format)
{
    const QTextBlock block = cursor.block();
    int cut = cursor.positionInBlock();
    if (cursor.atEnd()) {
        const QTextLayout *layout = block.layout();
        const int lines = layout->lineCount();
        if (lines > 1) {
            const QTextLine last = layout->lineAt(lines - 1);
            // Only a layout of the paragraph's present text tells where its lines start.
            if (last.textStart() + last.textLength() == cut) {
                cut = last.textStart();
            }
        }
    }
    const int state = block.userState();
    QTextCursor seam(document());
    seam.setPosition(block.position() + cut);
    seam.insertBlock(cursor.blockFormat(), format);
    seam.block().previous().setUserState(state);
    seam.block().setUserState(ContinuationState);
    ++m_seams;
}

void TerminalBox::removeSelection(QTextCursor &cursor)
{
    if (!cursor.hasSelection()) {
        return;
    }
    const QTextDocument *doc = document();
    const QTextBlock first = doc->findBlock(cursor.selectionStart());
    const QTextBlock last = doc->findBlock(cursor.selectionEnd());
    const int firstState = first.userState();
    qsizetype seams = 0;
    for (QTextBlock block = first; block.isValid() && block != last;) {
        block = block.next();
        seams += isContinuation(block);
    }
    cursor.removeSelectedText();
    cursor.block().setUserState(firstState);
    m_seams -= seams;
    joinEmptyBlock(cursor.block());
}

// An empty paragraph beside a seam would give one position two places; it is joined with the
// paragraph whose line it belongs to.
void TerminalBox::joinEmptyBlock(QTextBlock block)
{
    if (!block.isValid() || block.length() > 1) {
        return;
    }
    QTextCursor cursor(document());
    int state = 0;
    if (isContinuation(block)) {
        state = block.previous().userState();
        cursor.setPosition(block.position() - 1);
    } else if (block.next().isValid() && isContinuation(block.next())) {
        state = block.userState();
        cursor.setPosition(block.position());
    } else {
        return;
    }
    cursor.setPosition(cursor.position() + 1, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.block().setUserState(state);
    --m_seams;
}

// Drops the oldest whole lines until the text fits with room to spare; a single line longer than
// the limit loses its oldest paragraphs instead, so the line being written stays.
void TerminalBox::trimToMaxCharacters()
{
    if (m_maxCharacters <= 0) {
        return;
    }
    if (textLength() <= m_maxCharacters) {
        return;
    }
    // Once the document has dropped enough text it compacts its storage, copying all it holds;
    // trimming a line at a time would do that on nearly every insertion into a full box. So it
    // makes room for an eighth of the limit at once.
    const qsizetype excess = textLength() - m_maxCharacters + m_maxCharacters / 8;
    const QTextDocument *doc = document();
    QTextBlock keep = doc->firstBlock();
    qsizetype dropped = 0;
    qsizetype seams = 0;
    while (dropped < excess) {
        qsizetype lineLength = keep.length() - 1;
        qsizetype lineSeams = 0;
        QTextBlock next = keep.next();
        while (next.isValid() && isContinuation(next)) {
            lineLength += next.length() - 1;
            ++lineSeams;
            next = next.next();
        }
        if (!next.isValid()) {
            break; // the last line
        }
        dropped += lineLength + 1;
        seams += lineSeams;
        keep = next;
    }
    while (dropped < excess && keep.next().isValid()) {
        dropped += keep.length() - 1;
        keep = keep.next();
        ++seams; // within the last line every paragraph after the first is a continuation
    }
    if (keep == doc->firstBlock()) {
        return;
    }
    EditScope scope(*this);
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    cursor.setPosition(keep.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    document()->firstBlock().setUserState(LineStartState);
    cursor.endEditBlock();
    m_seams -= seams;
}

void TerminalBox::syncCaret(const QTextCursor &cursor)
{
    const QTextCursor current = textCursor();
    if (current.position() != cursor.position() || current.anchor() != cursor.anchor()) {
        setTextCursor(cursor);
    }
}

// --- Keys, mouse and clipboard ---------------------------------------------------------------

bool TerminalBox::isReserved(const QKeyEvent *event) const
{
    const QKeyCombination pressed(event->modifiers()
                                          & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier),
                                  Qt::Key(event->key()));
    return std::any_of(m_reservedShortcuts.begin(), m_reservedShortcuts.end(),
                       [&](const QKeySequence &sequence) {
                           return sequence.count() == 1 && sequence[0] == pressed;
                       });
}

bool TerminalBox::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride && isReserved(static_cast<QKeyEvent *>(event))) {
        // Left unaccepted, the key goes to the window's shortcut.
        event->ignore();
        return true;
    }
    return QPlainTextEdit::event(event);
}

void TerminalBox::keyPressEvent(QKeyEvent *event)
{
    int keyCode = KeyMap::virtualKeyCode(*event);
    if (m_handler && keyCode != 0) {
        m_handler->keyDown(keyCode, KeyMap::shiftState(*event));
        if (keyCode == 0) {
            event->accept();
            showChanges();
            return;
        }
    }

    const std::vector<int> typed = KeyMap::typedCharacters(*event);
    if (!typed.empty()) {
        event->accept();
        // A control key's editing meaning (copy, cut, paste, select all) acts when the key goes
        // down, before KeyPress, whose handler may move the caret and drop the selection.
        if (typed.size() == 1 && typed[0] < 0x20) {
            applyEditingShortcut(*event);
        }
        for (const int code : typed) {
            int keyAscii = code;
            if (m_handler) {
                m_handler->keyPress(keyAscii);
            }
            typeCharacter(keyAscii);
        }
        showChanges();
        return;
    }

    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (event->matches(QKeySequence::Cut)) {
        cutSelection();
    } else if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
    } else if (key == Qt::Key_Delete
               && !(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        deleteBeside(false);
    } else if (isNavigationKey(key)) {
        QPlainTextEdit::keyPressEvent(event);
        showChanges();
        return;
    } else if (key == Qt::Key_Insert || key == Qt::Key_Delete || event->matches(QKeySequence::Undo)
               || event->matches(QKeySequence::Redo)) {
        // Overwrite mode, word deletion and undo have no place in a terminal.
    } else {
        // Function keys and Alt combinations belong to the window.
        event->ignore();
        return;
    }
    event->accept();
    showChanges();
}

void TerminalBox::applyEditingShortcut(const QKeyEvent &event)
{
    if (event.matches(QKeySequence::Copy)) {
        copy();
    } else if (event.matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event.matches(QKeySequence::Paste)) {
        paste();
    } else if (event.matches(QKeySequence::Cut)) {
        cutSelection();
    }
}

void TerminalBox::typeCharacter(int keyAscii)
{
    switch (keyAscii) {
    case 8:
        deleteBeside(true);
        return;
    case 9:
        insertTyped(u"\t"_s);
        return;
    case 13:
        insertTyped(u"\n"_s);
        return;
    default:
        break;
    }
    // Other control characters type nothing.
    if (keyAscii < 0x20 || keyAscii == 0x7f || keyAscii > 0x10ffff
        || (keyAscii >= 0xd800 && keyAscii <= 0xdfff)) {
        return;
    }
    const char32_t code = char32_t(keyAscii);
    insertTyped(QString::fromUcs4(&code, 1));
}

void TerminalBox::insertTyped(const QString &text)
{
    const QTextCursor cursor = textCursor();
    if (cursor.hasSelection() && holdsProtected(cursor.selectionStart(), cursor.selectionEnd())) {
        return; // typing never replaces received text
    }
    insertText(text);
}

// Backspace (before) or Delete (after): one character, never a line break or received text.
// A selection goes as a whole unless it holds received text.
void TerminalBox::deleteBeside(bool before)
{
    QTextCursor cursor = textCursor();
    const QTextDocument *doc = document();
    int from = 0;
    int to = 0;
    if (cursor.hasSelection()) {
        from = cursor.selectionStart();
        to = cursor.selectionEnd();
    } else {
        const QTextBlock block = cursor.block();
        int at = cursor.position();
        if (before) {
            if (at == block.position()) {
                if (!isContinuation(block) || block.previous().length() <= 1) {
                    return; // a line break, or the start of the text
                }
                at = block.position() - 1; // the character before the seam
            }
            from = at - 1;
            to = at;
            if (from > doc->findBlock(from).position() && doc->characterAt(from).isLowSurrogate()
                && doc->characterAt(from - 1).isHighSurrogate()) {
                --from;
            }
        } else {
            if (at == block.position() + block.length() - 1) {
                const QTextBlock next = block.next();
                if (!next.isValid() || !isContinuation(next) || next.length() <= 1) {
                    return; // a line break, or the end of the text
                }
                at = next.position(); // the character after the seam
            }
            from = at;
            to = at + 1;
            if (doc->characterAt(from).isHighSurrogate() && doc->characterAt(to).isLowSurrogate()) {
                ++to;
            }
        }
    }
    if (from < 0 || holdsProtected(from, to)) {
        return;
    }
    {
        EditScope scope(*this);
        cursor.beginEditBlock();
        cursor.setPosition(from);
        cursor.setPosition(to, QTextCursor::KeepAnchor);
        removeSelection(cursor);
        cursor.endEditBlock();
    }
    syncCaret(cursor);
    m_followCaret = true;
}

void TerminalBox::cutSelection()
{
    QTextCursor cursor = textCursor();
    if (!cursor.hasSelection() || holdsProtected(cursor.selectionStart(), cursor.selectionEnd())) {
        return;
    }
    copy();
    {
        EditScope scope(*this);
        cursor.beginEditBlock();
        removeSelection(cursor);
        cursor.endEditBlock();
    }
    syncCaret(cursor);
}

void TerminalBox::pasteClipboard()
{
    paste();
    showChanges();
}

void TerminalBox::deliverPaste(const QString &text)
{
    if (text.isEmpty()) {
        return;
    }
    if (m_handler) {
        m_handler->pasteText(text);
    } else {
        moveCaretToEnd();
        insertText(text);
    }
}

void TerminalBox::insertFromMimeData(const QMimeData *source)
{
    // Pasted text never goes in by itself: the window places it as typed text.
    if (source && source->hasText()) {
        deliverPaste(source->text());
    }
}

bool TerminalBox::canInsertFromMimeData(const QMimeData *source) const
{
    return source && source->hasText();
}

QMimeData *TerminalBox::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    auto *data = new QMimeData;
    data->setText(textBetween(cursor.selectionStart(), cursor.selectionEnd(), u"\n"));
    return data;
}

void TerminalBox::inputMethodEvent(QInputMethodEvent *event)
{
    // Each committed character is typed as a key; the composition itself is the input
    // method's business and is only shown.
    const QString commit = event->commitString();
    for (const char32_t code : commit.toUcs4()) {
        int keyAscii = int(code);
        if (m_handler) {
            m_handler->keyPress(keyAscii);
        }
        typeCharacter(keyAscii);
    }
    // Starting, changing or ending a composition would delete the selection, received text
    // included; otherwise the composition only shows, and the text stays as it is.
    const QString preedit = event->preeditString();
    QTextCursor cursor = textCursor();
    if (cursor.hasSelection()
        && (!preedit.isEmpty() || preedit != cursor.block().layout()->preeditAreaText())) {
        cursor.clearSelection();
        setTextCursor(cursor);
    }
    QInputMethodEvent composition(preedit, event->attributes());
    QPlainTextEdit::inputMethodEvent(&composition);
    event->accept();
    showChanges();
}

void TerminalBox::mousePressEvent(QMouseEvent *event)
{
    // Dragging a selection out of the box would move it, deleting it here: a press starts a
    // new selection instead.
    if (event->button() == Qt::LeftButton && !(event->modifiers() & Qt::ShiftModifier)
        && textCursor().hasSelection()) {
        setTextCursor(cursorForPosition(event->position().toPoint()));
    }
    QPlainTextEdit::mousePressEvent(event);
}

void TerminalBox::dropEvent(QDropEvent *event)
{
    // The drop ends the drag's caret, and the text goes where pasted text goes.
    QDragLeaveEvent leave;
    QPlainTextEdit::dragLeaveEvent(&leave);
    const QMimeData *data = event->mimeData();
    if (!data || !data->hasText()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    deliverPaste(data->text());
    showChanges();
}

void TerminalBox::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyAction = menu.addAction(u"复制"_s);
    copyAction->setEnabled(textCursor().hasSelection());
    connect(copyAction, &QAction::triggered, this, &QPlainTextEdit::copy);
    QAction *pasteAction = menu.addAction(u"粘贴"_s);
    const QMimeData *clipboard = QGuiApplication::clipboard()->mimeData();
    pasteAction->setEnabled(clipboard && clipboard->hasText());
    connect(pasteAction, &QAction::triggered, this, &TerminalBox::pasteClipboard);
    menu.addSeparator();
    QAction *selectAllAction = menu.addAction(u"全选"_s);
    selectAllAction->setEnabled(!document()->isEmpty());
    connect(selectAllAction, &QAction::triggered, this, &QPlainTextEdit::selectAll);
    menu.exec(event->globalPos());
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
    m_frameTimer->stop();
    m_lastFrame.start();
    m_layout->releaseSize();
    if (m_followCaret) {
        m_followCaret = false;
        m_followEnd = false;
        ensureCursorVisible();
    } else if (m_followEnd) {
        m_followEnd = false;
        QScrollBar *bar = verticalScrollBar();
        bar->setValue(bar->maximum());
    }
    m_layout->releaseRepaint();
}
