// What arrives from the line, written at the end: runs of text, most of them short when a
// device colours its output word by word, and the redraws of its own line, where the received
// text at the end of the last line, and nothing before it, is written over or cut
// (TextRun::back).

#include "document/terminaldocument.h"

#include "document/terminalparagraphs.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <optional>
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

// The formats of one append, made once per colour: a device that colours every word would
// otherwise have one built, and hashed by the document, per word.
class FormatCache
{
public:
    const BlockColours::Format &format(RgbColor color, bool received)
    {
        for (const Entry &entry : m_entries) {
            if (entry.color == color && entry.received == received) {
                return entry.format;
            }
        }
        m_entries.push_back({color, received, BlockColours::split(runFormat(color, received))});
        return m_entries.back().format;
    }

private:
    struct Entry
    {
        RgbColor color;
        bool received;
        BlockColours::Format format;
    };
    std::vector<Entry> m_entries;
};

} // namespace

QTextCursor TerminalDocument::append(const TextRuns &runs, QTextCursor *kept)
{
    QTextCursor cursor(m_doc);
    {
        const OwnEdit edit(*this);
        // Inside the edit block a cursor that moves does not lay out its paragraph.
        cursor.beginEditBlock();
        // Marks that stay before text inserted where they are, as a cursor's anchor does not.
        std::optional<QTextCursor> anchor;
        std::optional<QTextCursor> position;
        if (kept) {
            anchor.emplace(m_doc);
            anchor->setPosition(kept->anchor());
            anchor->setKeepPositionOnInsert(true);
            position.emplace(m_doc);
            position->setPosition(kept->position());
            position->setKeepPositionOnInsert(true);
        }
        cursor.setPosition(endPosition()); // moving to the end would lay out the first paragraph
        FormatCache formats;
        // Runs that follow each other go in as one text, their colours beside it: the document
        // costs far more per insertion than per character, and complete lines that go in
        // together share a paragraph. Received text and other text go in apart.
        QString batch;
        BlockColours::Runs pieces;
        BlockColours::Format batchFormat;
        bool batchReceived = false;
        const auto flush = [&] {
            if (!batch.isEmpty()) {
                insertAtCursor(cursor, batch, batchFormat, true, &pieces);
                batch.clear();
                pieces.clear();
            }
        };
        for (const TextRun &run : runs) {
            if (run.editsLine()) {
                flush();
                editReceivedTail(cursor, run);
                continue;
            }
            // A CR that ends one run and an LF that starts the next were two line ends.
            const BlockColours::Format &format = formats.format(run.color, run.received);
            if (!batch.isEmpty()
                && (batchReceived != run.received || format.stored != batchFormat.stored
                    || (batch.endsWith(u'\r') && run.text.startsWith(u'\n')))) {
                flush();
            }
            if (batch.isEmpty()) {
                batchFormat = format;
                batchReceived = run.received;
            }
            if (!run.text.isEmpty()) {
                BlockColours::addRun(pieces, int(batch.size()), format.colour);
                batch += run.text;
            }
            m_typed.noteInsertion(true, run.text, run.received);
        }
        flush();
        if (kept) {
            kept->setPosition(anchor->position());
            kept->setPosition(position->position(), QTextCursor::KeepAnchor);
        }
        cursor.endEditBlock();
    }
    trimToMaxCharacters();
    return cursor;
}

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
        insertAtCursor(cursor, run.text, BlockColours::split(runFormat(run.color, run.received)),
                       false);
        // Received text without a line break leaves the typed part of the line as it was.
        m_typed.noteInsertion(true, run.text, true);
    }
    cursor.setPosition(endPosition());
}
