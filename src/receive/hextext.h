#pragma once

#include "core/textencoding.h"

#include <QByteArrayView>
#include <QChar>
#include <QString>

// The hexadecimal texts the terminal shows: byte codes are two uppercase digits and a blank.
// The hexadecimal view writes 24 codes and their characters to a line, the send echo breaks
// after every 16th code, and a received chunk in hex mode becomes one dump line.

// "0A ".
QString hexCode(quint8 byte);
QString hexCodes(QByteArrayView bytes);
// The byte itself from 33 to 126, else '.'.
QChar hexViewChar(quint8 byte);
// Codes, " :", the characters, CR LF.
QString hexViewLine(QByteArrayView upTo24Bytes);
// Codes with CR LF right after every 16th; column (0..15) carries on from the previous call.
QString sendEchoText(QByteArrayView bytes, int &column);
// One received chunk decoded on its own in the encoding: a code and a blank per character (all
// its bytes' digits together, four for a double-byte character in code page 936), ": ", the
// decoded text, CR LF. A byte that starts no character is its own code and a U+FFFD.
QString hexDumpLine(QByteArrayView chunk, TextEncoding encoding = TextEncoding::Gbk);
