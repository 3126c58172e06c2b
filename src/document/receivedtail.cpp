// How a device redraws its own line: the received text at the end of the last line, and nothing
// before it, is written over or cut (TextRun::back).

#include "document/terminaldocument.h"

#include "document/terminalparagraphs.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <vector>

using namespace TerminalParagraphs;

namespace {

// Text a redraw may reach. A stage that puts marks of its own on received lines (a time stamp)
// keeps them out of reach here.
bool isRedrawable(const QTextFormat &format)
{
    return isReceived(format);
}

// Where the received text at the end of the last line starts, at most `wanted` characters
// before the end: a document position and the characters from there to the end.
std::pair<int, qsizetype> receivedTail(const QTextDocument &doc, qsizetype wanted)
{
    int from = doc.characterCount() - 1;
    qsizetype found = 0;
    std::vector<QTextFragment> fragments;
    for (QTextBlock block = doc.lastBlock(); block.isValid() && found < wanted;
         block = block.previous()) {
        fragments.clear();
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            fragments.push_back(it.fragment());
        }
        for (auto it = fragments.rbegin(); it != fragments.rend() && found < wanted; ++it) {
            if (!isRedrawable(it->charFormat())) {
                return {from, found};
            }
            const QString text = it->text();
            const qsizetype take = std::min<qsizetype>(wanted - found, text.size());
            for (qsizetype k = text.size() - 1; k >= text.size() - take; --k) {
                if (text[k] == QChar::LineSeparator) {
                    return {from, found};
                }
                from = it->position() + int(k);
                ++found;
            }
        }
        if (!isContinuation(block)) {
            break; // the line's first paragraph
        }
    }
    return {from, found};
}

// The document position `count` characters after `from`, stepping over seams.
int charactersAfter(const QTextDocument &doc, int from, qsizetype count)
{
    QTextBlock block = doc.findBlock(from);
    int position = from;
    while (count > 0 && block.isValid()) {
        const int blockEnd = block.position() + block.length() - 1;
        const qsizetype take = std::min<qsizetype>(count, blockEnd - position);
        position += int(take);
        count -= take;
        if (count > 0) {
            block = block.next();
            position = block.position();
        }
    }
    return position;
}

} // namespace

// Called from append with the edit block open; the cursor is at the end and stays there.
void TerminalDocument::editReceivedTail(QTextCursor &cursor, const TextRun &run)
{
    const auto [from, found] = receivedTail(*m_doc, run.back);
    const qsizetype replaced = run.cut ? found : std::min(found, run.text.size());
    if (replaced > 0) {
        cursor.setPosition(from);
        cursor.setPosition(charactersAfter(*m_doc, from, replaced), QTextCursor::KeepAnchor);
        removeRange(cursor);
    } else {
        cursor.setPosition(from);
    }
    if (!run.cut && !run.text.isEmpty()) {
        insertAtCursor(cursor, run.text, runFormat(run.color, run.received), false);
        // Received text without a line break leaves the typed part of the line as it was.
        m_typed.noteInsertion(true, run.text, true);
    }
    cursor.setPosition(endPosition());
}
