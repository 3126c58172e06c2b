#pragma once

#include <vector>

class QKeyEvent;

// How a key event reads in the desktop's terms, for the terminal's KeyDown and KeyPress events:
// the virtual-key number, the shift bits and the characters the key types.
namespace KeyMap {

// Virtual-key number (A 65, F1 112, Home 36, Delete 46, ...); 0 for a key that has none.
int virtualKeyCode(const QKeyEvent &event);
// 1 Shift, 2 Ctrl, 4 Alt.
int shiftState(const QKeyEvent &event);
// The characters the key types as KeyPress codes: 13 Enter, 8 Backspace, 1-26 Ctrl+letter, else
// the character's code; empty for a key that types nothing. Taken from the key and its
// modifiers, not from the event's text, which differs between platforms for control keys (X11
// gives "\x03" for Ctrl+C, test tools give "c").
std::vector<int> typedCharacters(const QKeyEvent &event);

} // namespace KeyMap
