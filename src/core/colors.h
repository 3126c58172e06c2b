#pragma once

#include "core/textrun.h"

#include <array>

// The colours in which the terminal writes each kind of text.
namespace TerminalColors {
constexpr RgbColor Received = rgbColor(192, 192, 0);
constexpr RgbColor Typed = rgbColor(0, 192, 192);
constexpr RgbColor Count = rgbColor(0, 255, 255);
constexpr RgbColor Notice = rgbColor(255, 255, 255);
// The time before a received line: pale magenta, apart from every other kind on the box.
constexpr RgbColor Stamp = rgbColor(255, 176, 255);
constexpr RgbColor Echo = rgbColor(0, 0, 0);
constexpr RgbColor BoxBackground = rgbColor(0, 128, 128);
constexpr RgbColor WindowBackground = rgbColor(0, 192, 192);

// The 16 colours a device selects with SGR, in ANSI order (black, red, green, yellow, blue,
// magenta, cyan, white, then the bright eight). The box's teal leaves room only for very dark or
// very light colours, so the dark hues of the first eight are dark and the rest are pale; each
// stays at least 3:1 against BoxBackground and apart from the colours above, so a reader still
// tells the device's text from the user's and the program's.
constexpr std::array<RgbColor, 16> Console
        = {rgbColor(0, 0, 0),       rgbColor(84, 0, 8),      rgbColor(168, 255, 128),
           rgbColor(255, 224, 128), rgbColor(0, 0, 112),     rgbColor(64, 0, 84),
           rgbColor(160, 232, 255), rgbColor(216, 216, 216), rgbColor(36, 36, 36),
           rgbColor(255, 196, 184), rgbColor(96, 255, 96),   rgbColor(255, 255, 96),
           rgbColor(200, 212, 255), rgbColor(255, 192, 255), rgbColor(176, 255, 232),
           rgbColor(255, 255, 232)};
} // namespace TerminalColors
