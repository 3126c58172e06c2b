#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// Numbers typed by people and stored in the settings are read the lenient way the program has
// always read them: blanks, tabs and line feeds are ignored, an optional sign, digits with an
// optional fraction and an exponent written with E or D, or an integer after &H (hexadecimal)
// or &O (octal). Halves round to the even neighbour. Callers check their own range.

// The number at the start of the text; blanks anywhere are skipped, reading stops at the first
// character that cannot continue it. No number gives 0. Far too large values give +-inf.
double leadingNumber(const QString &text);

// The whole text as one number (blanks allowed only around it), else nullopt.
std::optional<double> parseNumber(const QString &text);

// Nearest integer, an exact half to the even neighbour; nullopt for NaN, inf or beyond qint64.
std::optional<qint64> roundHalfEven(double value);

// The pause of loop send in milliseconds from the user's answer: a number rounded half to even
// within 0..2147483647, else nullopt.
std::optional<int> loopDelay(const QString &answer);
