#pragma once

#include <QChar>
#include <QtGlobal>

// Code page 936 as Windows has it, the code page of received bytes: a byte below 0x80 is
// itself, 0x80 the euro sign, 0x81 to 0xFE a lead byte that takes a trail byte 0x40 to 0x7E or
// 0x80 to 0xFE. The pairs come from the system's converter once, into a table, so that decoding
// never hands the converter a lead byte without its trail.
namespace CodePage936 {
inline bool isLeadByte(quint8 byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}
inline bool isTrailByte(quint8 byte)
{
    return byte >= 0x40 && byte <= 0xFE && byte != 0x7F;
}

// The character of a lead byte followed by this byte; QChar() when the two form none.
QChar pairChar(quint8 lead, quint8 trail);
// The character of a byte read on its own; U+FFFD for a lead byte without its trail.
QChar singleChar(quint8 byte);
} // namespace CodePage936
