#include "document/terminaldocument.h"

#include "document/terminalparagraphs.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <optional>
#include <tuple>

using namespace TerminalParagraphs;

namespace {

// Line breaks, and characters the document would store as something else: QTextDocument makes
// paragraph breaks of its own from U+2029 and the two noncharacters, and U+2028 is how lines
// that share a paragraph are separated here.
bool isSpecial(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'\r' || u == u'\n'
           || (u >= 0x2028 && (u == 0x2028 || u == 0x2029 || u == 0xFDD0 || u == 0xFDD1));
}

// End of the stretch of ordinary characters that starts at text[from].
qsizetype specialFrom(QStringView text, qsizetype from)
{
    while (from < text.size() && !isSpecial(text[from])) {
        ++from;
    }
    return from;
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

} // namespace

TerminalDocument::Relayout::Relayout(TerminalDocument &document)
    : m_document(document)
    , m_characters(document.m_doc->characterCount())
{
    ++m_document.m_knownChanges;
}

TerminalDocument::Relayout::~Relayout()
{
    --m_document.m_knownChanges;
    if (m_document.m_doc->characterCount() != m_characters) {
        m_document.forgetCounts();
    }
}

TerminalDocument::TerminalDocument(QObject *parent)
    : QObject(parent)
    , m_doc(new QTextDocument(this))
{
    m_doc->setUndoRedoEnabled(false); // an undo stack would keep every received byte twice
    // Edits from elsewhere (a caller using the QTextDocument) may add or remove seams and typed
    // text; both are then taken again when next needed. A change of nothing (a new document
    // margin) is no edit.
    connect(m_doc, &QTextDocument::contentsChange, this, [this](int, int removed, int added) {
        if (m_knownChanges == 0 && (removed > 0 || added > 0)) {
            forgetCounts();
        }
    });
}

TerminalDocument::~TerminalDocument() = default;

QString TerminalDocument::text() const
{
    return textBetween(0, endPosition(), u"\r\n");
}

qsizetype TerminalDocument::textLength() const
{
    return endPosition() - seamCount();
}

QString TerminalDocument::lastLine() const
{
    return textBetween(lastLineStart(*m_doc), endPosition(), u"\r\n");
}

QString TerminalDocument::lastTypedLine() const
{
    return m_typed.read(*m_doc);
}

QChar TerminalDocument::charAt(qsizetype position) const
{
    if (position < 0 || position >= textLength()) {
        return {};
    }
    const QChar c = m_doc->characterAt(toDocumentPosition(position));
    return c == QChar::ParagraphSeparator || c == QChar::LineSeparator ? QChar(u'\n') : c;
}

TextRuns TerminalDocument::runs() const
{
    return readRuns(*m_doc);
}

void TerminalDocument::visitRuns(const RunVisitor &visit) const
{
    TerminalParagraphs::visitRuns(*m_doc, visit);
}

qsizetype TerminalDocument::toTextPosition(int documentPosition) const
{
    return TerminalParagraphs::toTextPosition(*m_doc, documentPosition, seamCount());
}

int TerminalDocument::toDocumentPosition(qsizetype position) const
{
    return TerminalParagraphs::toDocumentPosition(*m_doc, position, seamCount());
}

int TerminalDocument::endPosition() const
{
    return m_doc->characterCount() - 1;
}

QString TerminalDocument::textBetween(int from, int to, QStringView lineBreak) const
{
    return TerminalParagraphs::textBetween(*m_doc, from, to, lineBreak);
}

bool TerminalDocument::holdsProtected(int from, int to) const
{
    return TerminalParagraphs::holdsProtected(*m_doc, from, to);
}

void TerminalDocument::forgetCounts()
{
    m_seamsStale = true;
    m_typed.forget();
}

qsizetype TerminalDocument::seamCount() const
{
    if (m_seamsStale) {
        m_seams = countSeams(*m_doc);
        m_seamsStale = false;
    }
    return m_seams;
}

// --- Editing ---------------------------------------------------------------------------------

void TerminalDocument::clear()
{
    const OwnEdit edit(*this);
    m_doc->clear();
    m_seams = 0;
    m_seamsStale = false;
    m_typed.clear();
}

void TerminalDocument::setRuns(const TextRuns &runs)
{
    {
        const OwnEdit edit(*this);
        m_doc->clear();
        m_seams = 0;
        m_seamsStale = false;
        m_typed.forget();
        QTextCursor cursor(m_doc);
        cursor.beginEditBlock();
        for (const TextRun &run : runs) {
            insertAtCursor(cursor, run.text,
                           BlockColours::split(runFormat(run.color, run.received)), false);
        }
        cursor.endEditBlock();
    }
    trimToMaxCharacters();
    m_typed.read(*m_doc); // taken while loading, which costs far more, not on the next Enter
}

void TerminalDocument::insert(QTextCursor &cursor, QStringView text, const QTextCharFormat &format)
{
    {
        const OwnEdit edit(*this);
        cursor.beginEditBlock();
        removeRange(cursor);
        const bool atEnd = cursor.position() == endPosition();
        insertAtCursor(cursor, text, BlockColours::split(format), false);
        cursor.endEditBlock();
        m_typed.noteInsertion(atEnd, text, isReceived(format));
    }
    trimToMaxCharacters();
}

void TerminalDocument::removeSelection(QTextCursor &cursor)
{
    const OwnEdit edit(*this);
    cursor.beginEditBlock();
    removeRange(cursor);
    cursor.endEditBlock();
}

bool TerminalDocument::deleteBeside(QTextCursor &cursor, bool before)
{
    int from = cursor.selectionStart();
    int to = cursor.selectionEnd();
    if (!cursor.hasSelection()) {
        const std::optional<std::pair<int, int>> beside = characterBeside(*m_doc, from, before);
        if (!beside) {
            return false;
        }
        std::tie(from, to) = *beside;
    }
    if (holdsProtected(from, to)) {
        return false;
    }
    const OwnEdit edit(*this);
    cursor.beginEditBlock();
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    removeRange(cursor);
    cursor.endEditBlock();
    return true;
}

void TerminalDocument::setMaxCharacters(qsizetype count)
{
    m_maxCharacters = std::max<qsizetype>(count, 0);
    trimToMaxCharacters();
}

// Writes text at the cursor, which holds no selection. Lines that fit their paragraph are handed
// to the document together; a longer line is cut into continuation paragraphs.
//
// Each paragraph costs the document several times what its characters do, so with joinLines
// complete lines that arrive together share a paragraph up to JoinedBlockLength, separated by
// U+2028, which the layout breaks as a line and every reading turns back into a line break. The
// line still being written always starts a paragraph of its own, so the last line reads and
// grows as it would alone.
void TerminalDocument::insertAtCursor(QTextCursor &cursor, QStringView text,
                                      const BlockColours::Format &format, bool joinLines,
                                      const BlockColours::Runs *pieces)
{
    const BlockColours::Colouring colours
            = pieces ? BlockColours::Colouring(*pieces) : BlockColours::Colouring(format.colour);
    Q_ASSERT(!cursor.hasSelection());
    const int start = cursor.position();
    const bool atEnd = cursor.atEnd();
    const qsizetype limit = atEnd ? BlockLength : MiddleBlockLength;
    qsizetype used = cursor.block().length() - 1;
    // The text from `pending` on is not handed over yet. It goes as it stands, the document
    // making its own paragraph breaks, until a line break has to be stored otherwise; from then
    // on it is copied with that break rewritten.
    qsizetype pending = 0;
    QString rewritten;
    qsizetype copiedTo = -1; // text before this is in `rewritten`; -1 while nothing is
    const auto rewrite = [&](qsizetype at, qsizetype length, QChar with) {
        if (copiedTo < 0) {
            rewritten.clear();
            copiedTo = pending;
        }
        rewritten += text.sliced(copiedTo, at - copiedTo);
        rewritten += with;
        copiedTo = at + length;
    };
    const auto handOver = [&](qsizetype end) {
        if (copiedTo >= 0) {
            rewritten += text.sliced(copiedTo, end - copiedTo);
            BlockColours::insertLines(cursor, rewritten, format.stored,
                                      colours.sliceAsStored(text, pending, end));
            copiedTo = -1;
        } else if (end > pending) {
            BlockColours::insertLines(cursor,
                                      QString::fromRawData(text.data() + pending, end - pending),
                                      format.stored, colours.sliceAsStored(text, pending, end));
        }
    };
    const qsizetype n = text.size();
    qsizetype i = 0;
    qsizetype j = specialFrom(text, 0);
    while (i < n) {
        const bool noncharacter = j < n && isNoncharacter(text[j]);
        const qsizetype room = joinLines && j < n ? JoinedBlockLength : limit;
        if (atEnd && !noncharacter && used + (j - i) <= room) {
            used += j - i;
            if (j == n) {
                break;
            }
            const qsizetype lineBreak = j;
            i = j + breakLength(text, j);
            j = specialFrom(text, i);
            if (joinLines && j < n && !isNoncharacter(text[j])
                && used + 1 + (j - i) <= JoinedBlockLength) {
                rewrite(lineBreak, i - lineBreak, QChar::LineSeparator);
                ++used;
            } else {
                if (text[lineBreak] == QChar::LineSeparator) {
                    rewrite(lineBreak, 1, u'\n'); // the document would keep it within the line
                }
                used = 0;
            }
            continue;
        }
        handOver(i);
        insertLinePiece(cursor, text.sliced(i, j - i), format.stored, colours, i, limit);
        if (j < n && noncharacter) {
            // QTextDocument reserves these two for frames; they cannot be stored as text.
            insertLinePiece(cursor, u"\uFFFD", format.stored, colours, j, limit);
            ++j;
        } else if (j < n) {
            const int state = cursor.block().userState();
            BlockColours::insertBlock(cursor, {format.stored, colours.at(j)});
            cursor.block().previous().setUserState(state);
            cursor.block().setUserState(LineStartState);
            j += breakLength(text, j);
        }
        pending = j;
        used = cursor.block().length() - 1;
        i = j;
        j = specialFrom(text, i);
    }
    handOver(n);
    // A break written at the very start of a continuation paragraph, or right before one,
    // leaves an empty paragraph with a seam beside it.
    joinEmptyBlock(m_doc->findBlock(start));
    joinEmptyBlock(cursor.block());
}

void TerminalDocument::insertLinePiece(QTextCursor &cursor, QStringView piece,
                                       const QTextCharFormat &stored,
                                       const BlockColours::Colouring &colours, qsizetype from,
                                       qsizetype blockLimit)
{
    while (!piece.isEmpty()) {
        const qsizetype used = cursor.block().length() - 1;
        qsizetype take = std::min(blockLimit - used, piece.size());
        if (take < piece.size() && used >= blockLimit / 2 && cursor.positionInBlock() > 0) {
            // The paragraph is full enough: the line goes on in a continuation paragraph.
            startContinuation(cursor, {stored, colours.at(from)});
            continue;
        }
        if (take <= 0) {
            // At the start of a paragraph filled by what follows the caret: nowhere to cut.
            take = std::min(BlockLength, piece.size());
        }
        if (take < piece.size() && take > 1 && piece[take - 1].isHighSurrogate()) {
            --take; // a surrogate pair stays in one paragraph
        }
        BlockColours::insertText(cursor, piece.first(take), stored,
                                 colours.slice(from, from + take));
        piece = piece.sliced(take);
        from += take;
    }
}

// Puts a seam before the caret. At the end of the text, where a view that shows a slow stream
// leaves the last paragraph laid out, the seam goes where that paragraph's last screen line
// starts, so that the line reads on without a visible break at the view's present width.
void TerminalDocument::startContinuation(QTextCursor &cursor, const BlockColours::Format &format)
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
    QTextCursor seam(m_doc);
    seam.setPosition(block.position() + cut);
    BlockColours::insertBlock(seam, format);
    seam.block().previous().setUserState(state);
    seam.block().setUserState(ContinuationState);
    ++m_seams;
}

// Removes the selection inside an edit block the caller holds.
void TerminalDocument::removeRange(QTextCursor &cursor)
{
    if (!cursor.hasSelection()) {
        return;
    }
    m_typed.noteRemoval(*m_doc, cursor.selectionStart(), cursor.selectionEnd());
    const QTextBlock first = m_doc->findBlock(cursor.selectionStart());
    const QTextBlock last = m_doc->findBlock(cursor.selectionEnd());
    const int firstState = first.userState();
    qsizetype seams = 0;
    for (QTextBlock block = first; block.isValid() && block != last;) {
        block = block.next();
        seams += isContinuation(block);
    }
    BlockColours::removeSelectedText(cursor);
    cursor.block().setUserState(firstState);
    m_seams -= seams;
    joinEmptyBlock(cursor.block());
}

// An empty paragraph beside a seam would give one position two places; it is joined with the
// paragraph whose line it belongs to.
void TerminalDocument::joinEmptyBlock(QTextBlock block)
{
    if (!block.isValid() || block.length() > 1) {
        return;
    }
    QTextCursor cursor(m_doc);
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
    BlockColours::removeSelectedText(cursor);
    cursor.block().setUserState(state);
    --m_seams;
}

// Drops the oldest whole lines until the text fits with room to spare; a single line longer than
// the limit loses its oldest paragraphs instead, so the line being written stays.
void TerminalDocument::trimToMaxCharacters()
{
    if (m_maxCharacters <= 0 || textLength() <= m_maxCharacters) {
        return;
    }
    // Once the document has dropped enough text it compacts its storage, copying all it holds;
    // trimming a line at a time would do that on nearly every insertion into a full box. So it
    // makes room for an eighth of the limit at once.
    const qsizetype excess = textLength() - m_maxCharacters + m_maxCharacters / 8;
    QTextBlock keep = m_doc->firstBlock();
    qsizetype dropped = 0;
    qsizetype seams = 0;
    qint64 lines = 0;
    while (dropped < excess) {
        qsizetype lineLength = keep.length() - 1;
        qsizetype lineSeams = 0;
        // Lines that arrived together share a paragraph, parted by line separators: each is a
        // line the user loses, as the load's message counts them.
        qint64 groupLines = 1 + keep.text().count(QChar::LineSeparator);
        QTextBlock next = keep.next();
        while (next.isValid() && isContinuation(next)) {
            lineLength += next.length() - 1;
            groupLines += next.text().count(QChar::LineSeparator);
            ++lineSeams;
            next = next.next();
        }
        if (!next.isValid()) {
            break; // the last line
        }
        dropped += lineLength + 1;
        seams += lineSeams;
        lines += groupLines;
        keep = next;
    }
    const QTextBlock lastLineStart = keep;
    while (dropped < excess && keep.next().isValid()) {
        dropped += keep.length() - 1;
        keep = keep.next();
        ++seams; // within the last line every paragraph after the first is a continuation
    }
    if (keep == m_doc->firstBlock()) {
        return;
    }
    if (keep != lastLineStart) {
        m_typed.noteLineStartDropped(*m_doc, lastLineStart.position(), keep.position());
    }
    const OwnEdit edit(*this);
    QTextCursor cursor(m_doc);
    cursor.beginEditBlock();
    cursor.setPosition(keep.position(), QTextCursor::KeepAnchor);
    BlockColours::removeSelectedText(cursor);
    m_doc->firstBlock().setUserState(LineStartState);
    cursor.endEditBlock();
    m_seams -= seams;
    m_linesTrimmed += lines;
}
