#pragma once

#include <QByteArray>

// Every byte value once, in order: what a line that must carry binary data is tried with.
inline QByteArray everyByteValue()
{
    QByteArray bytes(256, Qt::Uninitialized);
    for (int b = 0; b < 256; ++b)
        bytes[b] = char(b);
    return bytes;
}
