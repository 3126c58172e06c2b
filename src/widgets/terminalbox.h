#pragma once

#include "core/terminal.h"
#include "core/textrun.h"

#include <QElapsedTimer>
#include <QKeySequence>
#include <QList>
#include <QPlainTextEdit>
#include <QTextCharFormat>

class HeldLayout;
class TerminalDocument;
class QTimer;

// The terminal's rich text box: a thin view over a TerminalDocument (terminaldocument.h), which
// holds the text, its positions, the received mark and the character bound. The box adds the
// caret, the keys, the clipboard, input methods and the context menu, and shows the document
// at most once a frame (100 ms) rather than after each insertion. Write through insertText,
// appendRuns and setRuns, not through QPlainTextEdit's own editing functions.
//
// Positions (selStart, textLength) count every line break as one character. Text inserted while
// setSelReceived(true) is protected: the keyboard and cut never delete it. Key events reach the
// window that owns the box through KeyHandler, in the order a key takes: keyDown before the key
// acts (setting keyCode to KeyMap::NoKey cancels it), then keyPress for a typed character before
// the box inserts it. Pasted and dropped text never goes in by itself; it goes to
// KeyHandler::pasteText.
class TerminalBox : public QPlainTextEdit, public Terminal
{
    Q_OBJECT

public:
    class KeyHandler
    {
    public:
        virtual ~KeyHandler() = default;
        // keyCode is a desktop virtual-key number (KeyMap::VirtualKey).
        virtual void keyDown(int &keyCode, int shift) = 0;
        // keyAscii: a KeyMap::TypedCode, 1-26 for Ctrl+letter, else the character's code.
        virtual void keyPress(int &keyAscii) = 0;
        // Pasted or dropped text, which the window places as if it had been typed.
        virtual void pasteText(const QString &text) = 0;
    };

    explicit TerminalBox(QWidget *parent = nullptr);
    ~TerminalBox() override;

    void setKeyHandler(KeyHandler *handler);
    // Shortcuts the window's menu owns; the box gives them up even where it would copy or paste.
    void setReservedShortcuts(const QList<QKeySequence> &shortcuts);

    // The whole contents, lines joined by CR LF.
    QString text();
    // Number of characters, a line break counting one; cheap, no copy of the text.
    qsizetype textLength() override;
    // Empties the box.
    void clearText() override;
    // Text after the last line break (the whole text when there is none).
    QString lastLine();
    // The part of the last line that did not come from the line: what the user typed or
    // pasted there, in order, without a prompt or bytes that arrived meanwhile.
    QString lastTypedLine();
    // Whether text appended now would start a line: the box is empty or ends with a line
    // break. Cheap, and it leaves gathered arrivals where they are.
    bool endsAtLineStart() const;
    // Character at a position (a line break reads as '\n'); QChar() outside the text.
    QChar charAt(qsizetype position) override;

    qsizetype selStart();
    // Moves the caret; nothing stays selected.
    void setSelStart(qsizetype position) override;
    void moveCaretToEnd() override;
    // Colour and received mark of text inserted from now on at the caret.
    void setSelColor(QRgb color) override;
    void setSelReceived(bool received) override;
    // Inserts at the caret, replacing any selection, and leaves the caret behind it.
    // "\r\n", a lone "\r" and a lone "\n" each make one line break.
    void insertText(const QString &text) override;

    // The contents as coloured runs, and the replacement of the contents by runs, which leaves
    // the caret at the start as loading a document does.
    TextRuns runs() override;
    void setRuns(const TextRuns &runs) override;

    // Appends at the end of the text, whatever the caret or selection holds; the view follows
    // only while it shows the end. The text reaches the document with the next frame, or
    // sooner when anything reads or edits the box.
    void appendRuns(const TextRuns &runs) override;
    bool setArrivalsHeld(bool held) override;
    qint64 linesTrimmed() override;
    void appendLoaded(const TextRuns &runs) override;

    // Keeps at most this many characters, dropping the oldest whole lines first.
    void setMaxCharacters(qsizetype count);
    void setInputEnabled(bool enabled) override { setEnabled(enabled); }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    QMimeData *createMimeDataFromSelection() const override;

private:
    // Holds the view's layout while the document is edited, and schedules a frame when the
    // outermost edit ends. Every edit of the document from the box goes inside one.
    class EditScope
    {
    public:
        explicit EditScope(TerminalBox &box);
        ~EditScope();
        Q_DISABLE_COPY_MOVE(EditScope)

    private:
        TerminalBox &m_box;
    };

    // Writes what appendRuns gathered into the document. Every reading and editing of the box
    // starts with it, so that arrivals are in the text whenever anyone looks.
    void takeArrivals();
    void placeCaret(int documentPosition);
    void syncCaret(const QTextCursor &cursor);

    // What the box itself does with a key once the window has seen it (terminalboxinput.cpp).
    void applyEditingShortcut(const QKeyEvent &event);
    void typeCharacter(int keyAscii);
    void insertTyped(const QString &text);
    void deleteBeside(bool before);
    void cutSelection();
    void pasteClipboard();
    void deliverPaste(const QString &text);
    bool isReserved(const QKeyEvent *event) const;

    // The view catches up with the document at most once a frame.
    void scheduleFrame();
    void showChanges();
    // The scroll bar catches up less often still while a stream runs.
    void holdScrollBar();
    void releaseScrollBar();

    TerminalDocument *m_document = nullptr;
    KeyHandler *m_handler = nullptr;
    QList<QKeySequence> m_reservedShortcuts;
    QTextCharFormat m_format;
    int m_editDepth = 0;
    bool m_followCaret = false;
    bool m_followEnd = false;
    HeldLayout *m_layout = nullptr;
    // Arrivals not yet in the document, neighbours of one colour and mark joined.
    TextRuns m_arrived;
    bool m_arrivalsHeld = false;
    TextRuns m_heldArrivals;
    QTimer *m_frameTimer = nullptr;
    QElapsedTimer m_lastFrame;
    QTimer *m_scrollBarTimer = nullptr;
    QElapsedTimer m_scrollBarShown;
};
