// The keys, mouse, clipboard, input method and context menu of TerminalBox: how what the user
// does reaches the window's KeyHandler, and what the box itself then does with it.

#include "widgets/terminalbox.h"

#include "widgets/keymap.h"
#include "document/terminaldocument.h"

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
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

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
    takeArrivals();
    int keyCode = KeyMap::virtualKeyCode(*event);
    if (m_handler && keyCode != KeyMap::NoKey) {
        m_handler->keyDown(keyCode, KeyMap::shiftState(*event));
        if (keyCode == KeyMap::NoKey) {
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
    case KeyMap::TypedBackspace:
        deleteBeside(true);
        return;
    case KeyMap::TypedTab:
        insertTyped(u"\t"_s);
        return;
    case KeyMap::TypedEnter:
        insertTyped(u"\n"_s);
        return;
    default:
        break;
    }
    // Other control characters type nothing.
    if (keyAscii < u' ' || keyAscii == KeyMap::TypedDelete || keyAscii > 0x10ffff
        || (keyAscii >= 0xd800 && keyAscii <= 0xdfff)) {
        return;
    }
    const char32_t code = char32_t(keyAscii);
    insertTyped(QString::fromUcs4(&code, 1));
}

void TerminalBox::insertTyped(const QString &text)
{
    const QTextCursor cursor = textCursor();
    if (cursor.hasSelection()
        && m_document->holdsProtected(cursor.selectionStart(), cursor.selectionEnd())) {
        return; // typing never replaces received text
    }
    insertText(text);
}

// Backspace (before) or Delete (after): one character, never a line break or received text.
// A selection goes as a whole unless it holds received text.
void TerminalBox::deleteBeside(bool before)
{
    QTextCursor cursor = textCursor();
    bool deleted = false;
    {
        EditScope scope(*this);
        deleted = m_document->deleteBeside(cursor, before);
    }
    if (deleted) {
        syncCaret(cursor);
        m_followCaret = true;
    }
}

void TerminalBox::cutSelection()
{
    QTextCursor cursor = textCursor();
    if (!cursor.hasSelection()
        || m_document->holdsProtected(cursor.selectionStart(), cursor.selectionEnd())) {
        return;
    }
    copy();
    {
        EditScope scope(*this);
        m_document->removeSelection(cursor);
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
    takeArrivals();
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
    data->setText(m_document->textBetween(cursor.selectionStart(), cursor.selectionEnd(), u"\n"));
    return data;
}

void TerminalBox::inputMethodEvent(QInputMethodEvent *event)
{
    takeArrivals();
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
    {
        const TerminalDocument::Relayout relayout(*m_document);
        QPlainTextEdit::inputMethodEvent(&composition);
    }
    event->accept();
    showChanges();
}

void TerminalBox::mousePressEvent(QMouseEvent *event)
{
    takeArrivals();
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
    takeArrivals();
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
    takeArrivals();
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
