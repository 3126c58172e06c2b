#include "platform/keymap.h"

#include <QKeyEvent>
#include <QString>

namespace KeyMap {

// A modifier key counts as held while it goes down, which platforms report differently.
int shiftState(const QKeyEvent &event)
{
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    const int key = event.key();
    return (modifiers & Qt::ShiftModifier || key == Qt::Key_Shift ? 1 : 0)
           | (modifiers & Qt::ControlModifier || key == Qt::Key_Control ? 2 : 0)
           | (modifiers & Qt::AltModifier || key == Qt::Key_Alt ? 4 : 0);
}

int virtualKeyCode(const QKeyEvent &event)
{
    const int key = event.key();
    const bool keypad = event.modifiers() & Qt::KeypadModifier;
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return key; // 65 to 90, as in ASCII
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return keypad ? 96 + (key - Qt::Key_0) : key;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        return 112 + (key - Qt::Key_F1);
    }
    switch (key) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 9;
    case Qt::Key_Clear:
        return 12;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        return 18;
    case Qt::Key_Pause:
        return 19;
    case Qt::Key_CapsLock:
        return 20;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Select:
        return 41;
    case Qt::Key_Printer:
        return 42;
    case Qt::Key_Execute:
        return 43;
    case Qt::Key_Print:
    case Qt::Key_SysReq:
        return 44;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    case Qt::Key_Help:
        return 47;
    case Qt::Key_Super_L:
    case Qt::Key_Meta:
        return 91;
    case Qt::Key_Super_R:
        return 92;
    case Qt::Key_Menu:
        return 93;
    case Qt::Key_NumLock:
        return 144;
    case Qt::Key_ScrollLock:
        return 145;
    // Punctuation, by where it sits on a US keyboard.
    case Qt::Key_Exclam:
        return 49;
    case Qt::Key_At:
        return 50;
    case Qt::Key_NumberSign:
        return 51;
    case Qt::Key_Dollar:
        return 52;
    case Qt::Key_Percent:
        return 53;
    case Qt::Key_AsciiCircum:
        return 54;
    case Qt::Key_Ampersand:
        return 55;
    case Qt::Key_Asterisk:
        return keypad ? 106 : 56;
    case Qt::Key_ParenLeft:
        return 57;
    case Qt::Key_ParenRight:
        return 48;
    case Qt::Key_Plus:
        return keypad ? 107 : 187;
    case Qt::Key_Minus:
        return keypad ? 109 : 189;
    case Qt::Key_Period:
        return keypad ? 110 : 190;
    case Qt::Key_Slash:
        return keypad ? 111 : 191;
    case Qt::Key_Semicolon:
    case Qt::Key_Colon:
        return 186;
    case Qt::Key_Equal:
        return 187;
    case Qt::Key_Comma:
    case Qt::Key_Less:
        return 188;
    case Qt::Key_Underscore:
        return 189;
    case Qt::Key_Greater:
        return 190;
    case Qt::Key_Question:
        return 191;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde:
        return 192;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
        return 219;
    case Qt::Key_Backslash:
    case Qt::Key_Bar:
        return 220;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
        return 221;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl:
        return 222;
    default:
        return 0;
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
        return alt || meta ? std::vector<int>{} : std::vector<int>{13};
    case Qt::Key_Backspace:
        return alt || meta ? std::vector<int>{} : std::vector<int>{control ? 127 : 8};
    case Qt::Key_Escape:
        return {27};
    case Qt::Key_Tab:
        return control || alt || meta ? std::vector<int>{} : std::vector<int>{9};
    default:
        break;
    }
    if (control && !alt) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z) {
            return {key - Qt::Key_A + 1};
        }
        switch (key) {
        case Qt::Key_BracketLeft:
            return {27};
        case Qt::Key_Backslash:
            return {28};
        case Qt::Key_BracketRight:
            return {29};
        default:
            return {};
        }
    }
    // Alt alone belongs to the menus; Ctrl+Alt is AltGr on some keyboards and types.
    if ((alt && !control) || meta) {
        return {};
    }
    const QString text = event.text();
    if (!text.isEmpty()) {
        std::vector<int> codes;
        for (const char32_t code : text.toUcs4()) {
            if (code >= 0x20 && code != 0x7f && !(code >= 0x80 && code < 0xa0)) {
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
