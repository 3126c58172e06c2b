#pragma once

#include <QString>

class QTime;

// The most characters of the stored port name the line shows; a longer name (the settings file
// may hold anything) shows its beginning and "…", so the clock stays on the strip and the line
// costs the same to build and draw whatever is stored.
inline constexpr qsizetype statusPortNameLength = 16;

// The one line of the status strip, for example
// "COM1:9600,N,8,1  DTR:关  RTS:关  CD:关  CTS:关  DSR:关  时钟09:05:03".
QString statusLineText(const QString &portName, const QString &settings, bool dtr, bool rts,
                       bool cd, bool cts, bool dsr, const QTime &time);
