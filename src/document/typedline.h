#pragma once

#include <QString>
#include <QStringView>

#include <optional>

class QTextDocument;

// The typed part of the terminal's last line (what Enter sends), followed as the text changes so
// that reading it costs what it holds rather than what the line holds: a line of megabytes that
// arrived without a break would otherwise be walked on every Enter.
//
// Edits at the end of the text (arrivals, typing, Backspace) and trimming at its start keep it
// up to date; any other edit forgets it, and the next reading walks the last line once. Each
// note is called with the document as it is before the edit, except noteInsertion, after it.
class TypedLine
{
public:
    // The typed part of doc's last line.
    QString read(const QTextDocument &doc) const;

    // The document was emptied.
    void clear() { m_typed = QString(); }
    // An edit this class does not follow.
    void forget() { m_typed.reset(); }
    // Text was written, at the end of the text or elsewhere.
    void noteInsertion(bool atEnd, QStringView text, bool received);
    // The document range [from, to) is about to go.
    void noteRemoval(const QTextDocument &doc, int from, int to);
    // The last line is about to lose its start, up to the document position `to`.
    void noteLineStartDropped(const QTextDocument &doc, int lineStart, int to);

private:
    mutable std::optional<QString> m_typed = QString();
};
