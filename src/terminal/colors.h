#pragma once

#include <QRgb>

// The colours in which the terminal writes each kind of text.
namespace TerminalColors {
constexpr QRgb Received = qRgb(192, 192, 0);
constexpr QRgb Typed = qRgb(0, 192, 192);
constexpr QRgb Count = qRgb(0, 255, 255);
constexpr QRgb Notice = qRgb(255, 255, 255);
constexpr QRgb Echo = qRgb(0, 0, 0);
constexpr QRgb BoxBackground = qRgb(0, 128, 128);
constexpr QRgb WindowBackground = qRgb(0, 192, 192);
} // namespace TerminalColors
