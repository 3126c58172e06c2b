#include "document/typedline.h"

#include "document/terminalparagraphs.h"

#include <QTextDocument>

using namespace TerminalParagraphs;

QString TypedLine::read(const QTextDocument &doc) const
{
    if (!m_typed) {
        m_typed = typedBetween(doc, lastLineStart(doc), doc.characterCount() - 1);
    }
    return *m_typed;
}

void TypedLine::noteInsertion(bool atEnd, QStringView text, bool received)
{
    if (!atEnd) {
        forget();
        return;
    }
    qsizetype lineFrom = text.size();
    while (lineFrom > 0) {
        const QChar c = text[lineFrom - 1];
        if (c == u'\r' || c == u'\n' || c == QChar::ParagraphSeparator
            || c == QChar::LineSeparator) {
            m_typed = QString(); // a new last line
            break;
        }
        --lineFrom;
    }
    if (!m_typed || received) {
        return;
    }
    const qsizetype start = m_typed->size();
    m_typed->append(text.sliced(lineFrom));
    // The document stores these two as U+FFFD (TerminalDocument::insertAtCursor).
    for (auto it = m_typed->begin() + start; it != m_typed->end(); ++it) {
        if (it->unicode() == 0xFDD0 || it->unicode() == 0xFDD1) {
            *it = QChar::ReplacementCharacter;
        }
    }
}

// Taking the end of the last line away takes the typed characters in it off the end of the
// typed line; without a line break in the range, the range lies within the last line.
void TypedLine::noteRemoval(const QTextDocument &doc, int from, int to)
{
    if (!m_typed) {
        return;
    }
    if (to == doc.characterCount() - 1 && !holdsLineBreak(doc, from, to)) {
        m_typed->chop(typedBetween(doc, from, to).size());
    } else {
        forget();
    }
}

void TypedLine::noteLineStartDropped(const QTextDocument &doc, int lineStart, int to)
{
    if (m_typed) {
        m_typed->remove(0, typedBetween(doc, lineStart, to).size());
    }
}
