#pragma once

#include "core/textrun.h"

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
} // namespace TerminalColors
