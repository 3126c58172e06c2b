#pragma once

#include <vector>

class QKeyEvent;

// How a key event reads in the desktop's terms, for the terminal's KeyDown and KeyPress events:
// the virtual-key number, the shift bits and the characters the key types. The numbers are the
// desktop's own, so the names below are what both the translation and the handlers compare.
namespace KeyMap {

// Virtual-key numbers, as KeyDown reports them. Letters and digits are their ASCII capitals and
// digits (LetterA to LetterZ, Digit0 to Digit9); the punctuation keys are named by what they
// type on a US keyboard.
enum VirtualKey : int {
    NoKey = 0, // a key without a number; KeyDown sets it to cancel the key
    Backspace = 8,
    Tab = 9,
    Clear = 12,
    Return = 13,
    Shift = 16,
    Control = 17,
    Alt = 18,
    Pause = 19,
    CapsLock = 20,
    Escape = 27,
    Space = 32,
    PageUp = 33,
    PageDown = 34,
    End = 35,
    Home = 36,
    Left = 37,
    Up = 38,
    Right = 39,
    Down = 40,
    Select = 41,
    Print = 42,
    Execute = 43,
    PrintScreen = 44,
    Insert = 45,
    Delete = 46,
    Help = 47,
    Digit0 = 48,
    LetterA = 65,
    LeftMeta = 91,
    RightMeta = 92,
    Menu = 93,
    Numpad0 = 96,
    NumpadMultiply = 106,
    NumpadAdd = 107,
    NumpadSubtract = 109,
    NumpadDecimal = 110,
    NumpadDivide = 111,
    F1 = 112,
    F2 = 113,
    F12 = 123,
    NumLock = 144,
    ScrollLock = 145,
    Semicolon = 186,
    Equals = 187,
    Comma = 188,
    Minus = 189,
    Period = 190,
    Slash = 191,
    Backquote = 192,
    BracketLeft = 219,
    Backslash = 220,
    BracketRight = 221,
    Quote = 222,
};

// The shift bits KeyDown reports.
enum ShiftBit : int {
    ShiftDown = 1,
    ControlDown = 2,
    AltDown = 4,
};

// KeyPress codes of the control characters the keys type; other codes are the characters'.
enum TypedCode : int {
    TypedBackspace = 8,
    TypedTab = 9,
    TypedEnter = 13,
    TypedEscape = 27,
    TypedDelete = 127, // Ctrl+Backspace
};

// Virtual-key number of the key; NoKey for a key that has none.
int virtualKeyCode(const QKeyEvent &event);
// ShiftBit values, or'ed.
int shiftState(const QKeyEvent &event);
// The characters the key types as KeyPress codes: TypedEnter, TypedBackspace, 1-29 for Ctrl with
// a letter or [ \ ], else the character's code; empty for a key that types nothing. Taken from
// the key and its modifiers, not from the event's text, which differs between platforms for
// control keys (X11 gives "\x03" for Ctrl+C, test tools give "c").
std::vector<int> typedCharacters(const QKeyEvent &event);

} // namespace KeyMap
