#pragma once

#include "core/textrun.h"
#include "document/typedline.h"

#include <QObject>
#include <QString>
#include <QStringView>
#include <QTextCharFormat>

class QTextBlock;
class QTextCursor;
class QTextDocument;

// The terminal's text without a view: coloured text with a received mark, written at a cursor
// or appended at the end, read back as one text with CR LF line ends, kept within a bound of
// characters, and fast however long a line grows.
//
// Positions (text positions) count every line break as one character and the seams of long
// lines as none; cursors are the QTextDocument's own and use its positions (see
// terminalparagraphs.h). Edit through this class only: QTextDocument's own editing would break
// lines at other places and leave the seam count and the typed line behind. A view shows
// textDocument() and wraps each edit here in its own layout holding; nothing here waits for or
// knows about a view.
class TerminalDocument : public QObject
{
    Q_OBJECT

public:
    // While one exists, the changes the QTextDocument reports are taken as a view re-laying
    // out text that stays as it is (a layout installed, an input method's composition shown),
    // and the seam count and the typed line stay. Should the text's length change all the
    // same, both are taken afresh; so is any change from elsewhere.
    class Relayout
    {
    public:
        explicit Relayout(TerminalDocument &document);
        ~Relayout();
        Q_DISABLE_COPY_MOVE(Relayout)

    private:
        TerminalDocument &m_document;
        int m_characters;
    };

    explicit TerminalDocument(QObject *parent = nullptr);
    ~TerminalDocument() override;

    QTextDocument *textDocument() const { return m_doc; }

    // The whole contents, lines joined by CR LF.
    QString text() const;
    // Number of characters, a line break counting one; cheap, no copy of the text.
    qsizetype textLength() const;
    // Whole lines trimmed from the start so far to keep within the bound.
    qint64 linesTrimmed() const { return m_linesTrimmed; }
    // Text after the last line break (the whole text when there is none).
    QString lastLine() const;
    // The part of the last line that did not come from the line: what the user typed or pasted
    // there, in order, without a prompt or bytes that arrived meanwhile. Costs what that part
    // costs, not what the line does, after edits at the end.
    QString lastTypedLine() const;
    // Character at a text position (a line break reads as '\n'); QChar() outside the text.
    QChar charAt(qsizetype position) const;
    // The contents as coloured runs, neighbours of one colour and mark joined.
    TextRuns runs() const;

    qsizetype toTextPosition(int documentPosition) const;
    int toDocumentPosition(qsizetype position) const;
    // The document position behind the last character.
    int endPosition() const;
    // Text between two document positions, real line breaks written as lineBreak.
    QString textBetween(int from, int to, QStringView lineBreak) const;
    // Whether received text, or a received line break, lies between two document positions.
    bool holdsProtected(int from, int to) const;

    void clear();
    // Replaces the contents.
    void setRuns(const TextRuns &runs);
    // Writes at the cursor, replacing its selection, and leaves the cursor behind the text.
    // "\r\n", a lone "\r", a lone "\n", U+2028 and U+2029 each make one line break.
    void insert(QTextCursor &cursor, QStringView text, const QTextCharFormat &format);
    // Writes at the end whatever the cursors hold, and returns a cursor at the new end. The
    // anchor and position of `kept` stay on the characters they were on; an end of it at the
    // old end of the text stays there rather than moving on behind the new text. A run that
    // editsLine() redraws the received text at the end of the last line (TextRun::back).
    QTextCursor append(const TextRuns &runs, QTextCursor *kept = nullptr);
    // Removes the cursor's selection, protected or not.
    void removeSelection(QTextCursor &cursor);
    // Backspace (before) or Delete (after) at the cursor: one character (a surrogate pair is
    // one), never a line break or received text; a selection goes whole unless it holds
    // received text. False when nothing was deleted.
    bool deleteBeside(QTextCursor &cursor, bool before);

    // Keeps at most this many characters (0: no bound), dropping the oldest whole lines first.
    void setMaxCharacters(qsizetype count);

private:
    // Marks the document's changes as this class's own edits, which keep the seam count and the
    // typed line up to date themselves.
    class OwnEdit
    {
    public:
        explicit OwnEdit(TerminalDocument &document)
            : m_document(document)
        {
            ++m_document.m_knownChanges;
        }
        ~OwnEdit() { --m_document.m_knownChanges; }
        Q_DISABLE_COPY_MOVE(OwnEdit)

    private:
        TerminalDocument &m_document;
    };

    qsizetype seamCount() const;
    void forgetCounts();
    void insertAtCursor(QTextCursor &cursor, QStringView text, const QTextCharFormat &format,
                        bool joinLines);
    void insertLinePiece(QTextCursor &cursor, QStringView piece, const QTextCharFormat &format,
                         qsizetype blockLimit);
    void startContinuation(QTextCursor &cursor, const QTextCharFormat &format);
    void removeRange(QTextCursor &cursor);
    void joinEmptyBlock(QTextBlock block);
    void trimToMaxCharacters();
    // In terminalarrivals.cpp.
    void editReceivedTail(QTextCursor &cursor, const TextRun &run);

    QTextDocument *m_doc = nullptr;
    qsizetype m_maxCharacters = 0;
    qint64 m_linesTrimmed = 0;
    mutable qsizetype m_seams = 0;
    mutable bool m_seamsStale = false;
    TypedLine m_typed;
    int m_knownChanges = 0;
};
