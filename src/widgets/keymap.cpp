#include "widgets/keymap.h"

#include <QKeyEvent>
#include <QString>

namespace KeyMap {

// A modifier key counts as held while it goes down, which platforms report differently.
int shiftState(const QKeyEvent &event)
{
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    const int key = event.key();
    return (modifiers & Qt::ShiftModifier || key == Qt::Key_Shift ? ShiftDown : 0)
           | (modifiers & Qt::ControlModifier || key == Qt::Key_Control ? ControlDown : 0)
           | (modifiers & Qt::AltModifier || key == Qt::Key_Alt ? AltDown : 0);
}

int virtualKeyCode(const QKeyEvent &event)
{
    const int key = event.key();
    const bool keypad = event.modifiers() & Qt::KeypadModifier;
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return LetterA + (key - Qt::Key_A);
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return (keypad ? Numpad0 : Digit0) + (key - Qt::Key_0);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        return F1 + (key - Qt::Key_F1);
    }
    switch (key) {
    case Qt::Key_Backspace:
        return Backspace;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return Tab;
    case Qt::Key_Clear:
        return Clear;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return Return;
    case Qt::Key_Shift:
        return Shift;
    case Qt::Key_Control:
        return Control;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        return Alt;
    case Qt::Key_Pause:
        return Pause;
    case Qt::Key_CapsLock:
        return CapsLock;
    case Qt::Key_Escape:
        return Escape;
    case Qt::Key_Space:
        return Space;
    case Qt::Key_PageUp:
        return PageUp;
    case Qt::Key_PageDown:
        return PageDown;
    case Qt::Key_End:
        return End;
    case Qt::Key_Home:
        return Home;
    case Qt::Key_Left:
        return Left;
    case Qt::Key_Up:
        return Up;
    case Qt::Key_Right:
        return Right;
    case Qt::Key_Down:
        return Down;
    case Qt::Key_Select:
        return Select;
    case Qt::Key_Printer:
        return Print;
    case Qt::Key_Execute:
        return Execute;
    case Qt::Key_Print:
    case Qt::Key_SysReq:
        return PrintScreen;
    case Qt::Key_Insert:
        return Insert;
    case Qt::Key_Delete:
        return Delete;
    case Qt::Key_Help:
        return Help;
    case Qt::Key_Super_L:
    case Qt::Key_Meta:
        return LeftMeta;
    case Qt::Key_Super_R:
        return RightMeta;
    case Qt::Key_Menu:
        return Menu;
    case Qt::Key_NumLock:
        return NumLock;
    case Qt::Key_ScrollLock:
        return ScrollLock;
    // Punctuation, by where it sits on a US keyboard.
    case Qt::Key_Exclam:
        return Digit0 + 1;
    case Qt::Key_At:
        return Digit0 + 2;
    case Qt::Key_NumberSign:
        return Digit0 + 3;
    case Qt::Key_Dollar:
        return Digit0 + 4;
    case Qt::Key_Percent:
        return Digit0 + 5;
    case Qt::Key_AsciiCircum:
        return Digit0 + 6;
    case Qt::Key_Ampersand:
        return Digit0 + 7;
    case Qt::Key_Asterisk:
        return keypad ? NumpadMultiply : Digit0 + 8;
    case Qt::Key_ParenLeft:
        return Digit0 + 9;
    case Qt::Key_ParenRight:
        return Digit0;
    case Qt::Key_Plus:
        return keypad ? NumpadAdd : Equals;
    case Qt::Key_Minus:
        return keypad ? NumpadSubtract : Minus;
    case Qt::Key_Period:
        return keypad ? NumpadDecimal : Period;
    case Qt::Key_Slash:
        return keypad ? NumpadDivide : Slash;
    case Qt::Key_Semicolon:
    case Qt::Key_Colon:
        return Semicolon;
    case Qt::Key_Equal:
        return Equals;
    case Qt::Key_Comma:
    case Qt::Key_Less:
        return Comma;
    case Qt::Key_Underscore:
        return Minus;
    case Qt::Key_Greater:
        return Period;
    case Qt::Key_Question:
        return Slash;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde:
        return Backquote;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
        return BracketLeft;
    case Qt::Key_Backslash:
    case Qt::Key_Bar:
        return Backslash;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
        return BracketRight;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl:
        return Quote;
    default:
        return NoKey;
    }
}

std::vector<int> typedCharacters(const QKeyEvent &event)
{
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    const bool control = modifiers & Qt::ControlModifier;
    const bool alt = modifiers & Qt::AltModifier;
    const bool meta = modifiers & Qt::MetaModifier;
    const int key = event.key();
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return alt || meta ? std::vector<int>{} : std::vector<int>{TypedEnter};
    case Qt::Key_Backspace:
        return alt || meta ? std::vector<int>{}
                           : std::vector<int>{control ? TypedDelete : TypedBackspace};
    case Qt::Key_Escape:
        return {TypedEscape};
    case Qt::Key_Tab:
        return control || alt || meta ? std::vector<int>{} : std::vector<int>{TypedTab};
    default:
        break;
    }
    if (control && !alt) {
        // The control character of the key's ASCII character, as terminals have always made it
        // (Ctrl+A 1, Ctrl+[ Escape, Ctrl+\ 28).
        if ((key >= Qt::Key_A && key <= Qt::Key_Z) || key == Qt::Key_BracketLeft
            || key == Qt::Key_Backslash || key == Qt::Key_BracketRight) {
            return {key & 0x1f};
        }
        return {};
    }
    // Alt alone belongs to the menus; Ctrl+Alt is AltGr on some keyboards and types.
    if ((alt && !control) || meta) {
        return {};
    }
    const QString text = event.text();
    if (!text.isEmpty()) {
        std::vector<int> codes;
        for (const char32_t code : text.toUcs4()) {
            if (code >= u' ' && code != TypedDelete && !(code >= 0x80 && code < 0xa0)) {
                codes.push_back(int(code));
            }
        }
        return codes;
    }
    // Synthesised events may carry no text; a printable ASCII key still types its character.
    if (key >= 0x20 && key <= 0x7e) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z && !(modifiers & Qt::ShiftModifier)) {
            return {key - Qt::Key_A + 'a'};
        }
        return {key};
    }
    return {};
}

} // namespace KeyMap
