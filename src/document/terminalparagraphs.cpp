#include "document/terminalparagraphs.h"

#include "document/blockcolours.h"

#include <QColor>
#include <QTextDocument>

#include <algorithm>

namespace TerminalParagraphs {

namespace {

// Character property of text that came from the line.
constexpr int ReceivedProperty = QTextFormat::UserProperty + 1;

// Seams before the end of the block, its own included: the document position of the block's
// start minus this is its text position.
qsizetype seamsUpTo(const QTextDocument &doc, const QTextBlock &block, qsizetype total)
{
    if (total == 0) {
        return 0;
    }
    // Walk from whichever end is nearer; callers mostly ask about the end.
    if (block.blockNumber() >= doc.blockCount() / 2) {
        qsizetype after = 0;
        for (QTextBlock b = doc.lastBlock(); b.isValid() && b != block; b = b.previous()) {
            after += isContinuation(b);
        }
        return total - after;
    }
    qsizetype before = 0;
    for (QTextBlock b = doc.firstBlock(); b.isValid(); b = b.next()) {
        before += isContinuation(b);
        if (b == block) {
            break;
        }
    }
    return before;
}

// Appends text with each U+2028, which separates lines sharing a paragraph, written as lineBreak.
void appendLines(QString &to, QStringView text, QStringView lineBreak)
{
    for (qsizetype at = text.indexOf(QChar::LineSeparator); at >= 0;
         at = text.indexOf(QChar::LineSeparator)) {
        to += text.first(at);
        to += lineBreak;
        text = text.sliced(at + 1);
    }
    to += text;
}

} // namespace

bool isContinuation(const QTextBlock &block)
{
    return block.userState() == ContinuationState;
}

QTextBlock lineStart(QTextBlock block)
{
    while (isContinuation(block) && block.previous().isValid()) {
        block = block.previous();
    }
    return block;
}

int lastLineStart(const QTextDocument &doc)
{
    // Received lines that shared a paragraph end up in the last one only when an edit removed
    // the break after them.
    const QTextBlock first = lineStart(doc.lastBlock());
    for (QTextBlock block = doc.lastBlock(); block.isValid(); block = block.previous()) {
        const qsizetype at = block.text().lastIndexOf(QChar::LineSeparator);
        if (at >= 0) {
            return block.position() + int(at) + 1;
        }
        if (block == first) {
            break;
        }
    }
    return first.position();
}

bool isReceived(const QTextFormat &format)
{
    return format.boolProperty(ReceivedProperty);
}

void setReceived(QTextCharFormat &format, bool received)
{
    if (received) {
        format.setProperty(ReceivedProperty, true);
    } else {
        format.clearProperty(ReceivedProperty);
    }
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

qsizetype countSeams(const QTextDocument &doc)
{
    qsizetype seams = 0;
    for (QTextBlock block = doc.firstBlock(); block.isValid(); block = block.next()) {
        seams += isContinuation(block);
    }
    return seams;
}

qsizetype toTextPosition(const QTextDocument &doc, int documentPosition, qsizetype seams)
{
    if (documentPosition >= doc.characterCount() - 1) {
        return doc.characterCount() - 1 - seams;
    }
    return documentPosition - seamsUpTo(doc, doc.findBlock(documentPosition), seams);
}

int toDocumentPosition(const QTextDocument &doc, qsizetype position, qsizetype seams)
{
    const qsizetype length = doc.characterCount() - 1 - seams;
    position = std::clamp<qsizetype>(position, 0, length);
    if (seams == 0) {
        return int(position);
    }
    if (position == length) {
        return doc.characterCount() - 1;
    }
    if (position >= length / 2) {
        qsizetype upTo = seams;
        QTextBlock block = doc.lastBlock();
        while (block.position() - upTo > position && block.previous().isValid()) {
            upTo -= isContinuation(block);
            block = block.previous();
        }
        return int(position + upTo);
    }
    qsizetype upTo = 0;
    for (QTextBlock next = doc.firstBlock().next(); next.isValid(); next = next.next()) {
        const qsizetype nextUpTo = upTo + isContinuation(next);
        if (next.position() - nextUpTo > position) {
            break;
        }
        upTo = nextUpTo;
    }
    return int(position + upTo);
}

void visitRuns(const QTextDocument &doc, const RunVisitor &visit)
{
    // Lines that share a paragraph are read with a line break for each U+2028.
    const auto hand = [&visit](QStringView text, QRgb color, bool received) {
        for (qsizetype at = text.indexOf(QChar::LineSeparator); at >= 0;
             at = text.indexOf(QChar::LineSeparator)) {
            visit(text.first(at), color, received);
            visit(u"\n", color, received);
            text = text.sliced(at + 1);
        }
        visit(text, color, received);
    };
    for (QTextBlock block = doc.firstBlock(); block.isValid(); block = block.next()) {
        if (block != doc.firstBlock() && !isContinuation(block)) {
            // The paragraph separator before the block carries the line break's format; its
            // colour is the last of the paragraph before.
            const QTextBlock before = block.previous();
            const QTextCharFormat format = block.charFormat();
            visit(u"\n", BlockColours::colourAt(before, before.length() - 1, format),
                  isReceived(format));
        }
        const BlockColours::Runs *runs = BlockColours::runsOf(block);
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            const bool received = isReceived(format);
            const QString text = fragment.text();
            const int offset = fragment.position() - block.position();
            if (!runs || format.hasProperty(QTextFormat::ForegroundBrush)) {
                hand(text, BlockColours::colourAt(block, offset, format), received);
                continue;
            }
            // The fragment in the pieces its runs colour.
            qsizetype at = 0;
            while (at < text.size()) {
                const auto next = std::upper_bound(runs->begin(), runs->end(), offset + int(at),
                                                   [](int position, const BlockColours::Run &run) {
                                                       return position < run.start;
                                                   });
                const qsizetype end
                        = next == runs->end()
                                  ? text.size()
                                  : std::min<qsizetype>(next->start - offset, text.size());
                hand(QStringView(text).sliced(at, end - at),
                     BlockColours::colourAt(block, offset + int(at), format), received);
                at = end;
            }
        }
    }
}

TextRuns readRuns(const QTextDocument &doc)
{
    TextRuns result;
    visitRuns(doc, [&result](QStringView text, QRgb color, bool received) {
        if (result.isEmpty() || result.last().color != color
            || result.last().received != received) {
            result.append(TextRun{QString(), color, received});
        }
        result.last().text += text;
    });
    return result;
}

QString textBetween(const QTextDocument &doc, int from, int to, QStringView lineBreak)
{
    QString result;
    if (to <= from) {
        return result;
    }
    result.reserve(to - from);
    for (QTextBlock block = doc.findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        const int start = block.position();
        if (start > from && !isContinuation(block)) {
            result += lineBreak;
        }
        const QString text = block.text();
        const qsizetype first = std::max(from - start, 0);
        const qsizetype last = std::min<qsizetype>(to - start, text.size());
        if (last > first) {
            appendLines(result, QStringView(text).sliced(first, last - first), lineBreak);
        }
    }
    return result;
}

QString typedBetween(const QTextDocument &doc, int from, int to)
{
    QString typed;
    for (QTextBlock block = doc.findBlock(from); block.isValid() && block.position() < to;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int first = std::max(fragment.position(), from);
            const int last = std::min(fragment.position() + fragment.length(), to);
            if (last > first && !isReceived(fragment.charFormat())) {
                typed += QStringView(fragment.text())
                                 .sliced(first - fragment.position(), last - first);
            }
        }
    }
    return typed;
}

bool holdsProtected(const QTextDocument &doc, int from, int to)
{
    for (QTextBlock block = doc.findBlock(from); block.isValid() && block.position() <= to;
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

std::optional<std::pair<int, int>> characterBeside(const QTextDocument &doc, int position,
                                                   bool before)
{
    const QTextBlock block = doc.findBlock(position);
    int at = position;
    if (before) {
        if (at == block.position()) {
            if (!isContinuation(block) || block.previous().length() <= 1) {
                return std::nullopt; // a line break, or the start of the text
            }
            at = block.position() - 1; // the character before the seam
        }
        int from = at - 1;
        if (doc.characterAt(from) == QChar::LineSeparator) {
            return std::nullopt; // a line break within the paragraph
        }
        if (from > doc.findBlock(from).position() && doc.characterAt(from).isLowSurrogate()
            && doc.characterAt(from - 1).isHighSurrogate()) {
            --from;
        }
        return std::pair(from, at);
    }
    if (at == block.position() + block.length() - 1) {
        const QTextBlock next = block.next();
        if (!next.isValid() || !isContinuation(next) || next.length() <= 1) {
            return std::nullopt; // a line break, or the end of the text
        }
        at = next.position(); // the character after the seam
    }
    if (doc.characterAt(at) == QChar::LineSeparator) {
        return std::nullopt; // a line break within the paragraph
    }
    int to = at + 1;
    if (doc.characterAt(at).isHighSurrogate() && doc.characterAt(to).isLowSurrogate()) {
        ++to;
    }
    return std::pair(at, to);
}

bool holdsLineBreak(const QTextDocument &doc, int from, int to)
{
    for (QTextBlock block = doc.findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (block.position() > from && !isContinuation(block)) {
            return true;
        }
        const int start = block.position();
        const qsizetype first = std::max(from - start, 0);
        const qsizetype last = std::min<qsizetype>(to - start, block.length() - 1);
        if (last > first
            && QStringView(block.text())
                       .sliced(first, last - first)
                       .contains(QChar::LineSeparator)) {
            return true;
        }
    }
    return false;
}

} // namespace TerminalParagraphs
