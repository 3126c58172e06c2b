#pragma once

#include "core/textrun.h"

#include <QRgb>
#include <QString>
#include <QStringView>
#include <QTextBlock>
#include <QTextCharFormat>

#include <optional>
#include <utility>

class QTextDocument;

// How the terminal's text sits in a QTextDocument, and how to read it back.
//
// A line is one paragraph, or, when it grows long, a line-start paragraph followed by
// continuation paragraphs, marked in the block's user state. Complete lines that arrived
// together may share a paragraph, separated by U+2028 (QChar::LineSeparator), which every
// reading turns into a line break; the last line never shares one. Laying out one huge paragraph
// costs far more than the line delivers, so the pieces stay short; every reading joins them back.
// Text positions count every line break as one character and the seams between the pieces as
// none; document positions, which QTextCursor uses, count both. Text that came from the line
// carries a received mark in its character format.
namespace TerminalParagraphs {

// Longest paragraph written at the end of the text. A paragraph is laid out whole whenever it
// changes, so this bounds the work of one insertion however long the line grows.
constexpr qsizetype BlockLength = 1024;
// A paragraph changed in the middle may grow to twice that before it is cut, so that typing into
// a full paragraph does not chop it into one-character pieces.
constexpr qsizetype MiddleBlockLength = 2 * BlockLength;
// Complete lines that arrive together, which no insertion at the end changes again, fill a
// paragraph up to this: it is laid out once, when it is first shown.
constexpr qsizetype JoinedBlockLength = 4 * BlockLength;

// User state of a paragraph that goes on with the line of the paragraph before it; every other
// value (QTextBlock's default is -1) starts a line.
constexpr int ContinuationState = 1;
constexpr int LineStartState = -1;

bool isContinuation(const QTextBlock &block);
// The paragraph that starts the block's line.
QTextBlock lineStart(QTextBlock block);

// Document position where the last line starts.
int lastLineStart(const QTextDocument &doc);

bool isReceived(const QTextFormat &format);
void setReceived(QTextCharFormat &format, bool received);
QTextCharFormat runFormat(QRgb color, bool received);

// Continuation paragraphs in the whole document, counted one by one.
qsizetype countSeams(const QTextDocument &doc);
// The mapping between document and text positions, given the document's number of seams. A
// text position at a seam maps to the start of the continuation paragraph, where its character
// is. Each walks the paragraphs from the nearer end of the document.
qsizetype toTextPosition(const QTextDocument &doc, int documentPosition, qsizetype seams);
int toDocumentPosition(const QTextDocument &doc, qsizetype position, qsizetype seams);

// The whole document as coloured runs, neighbours of one colour and mark joined.
TextRuns readRuns(const QTextDocument &doc);
// The same piece by piece, a piece for each change of colour or mark, or of paragraph.
void visitRuns(const QTextDocument &doc, const RunVisitor &visit);
// Text between two document positions, real line breaks written as lineBreak.
QString textBetween(const QTextDocument &doc, int from, int to, QStringView lineBreak);
// The characters between two document positions that carry no received mark, in order.
QString typedBetween(const QTextDocument &doc, int from, int to);
// Whether received text, or a received line break, lies between two document positions.
bool holdsProtected(const QTextDocument &doc, int from, int to);
// The document range of the character before (or after) a caret at a document position, a
// surrogate pair as one and reaching across a seam; none for a line break or the text's end.
std::optional<std::pair<int, int>> characterBeside(const QTextDocument &doc, int position,
                                                   bool before);
// Whether a real line break (not a seam) lies between two document positions.
bool holdsLineBreak(const QTextDocument &doc, int from, int to);

} // namespace TerminalParagraphs
