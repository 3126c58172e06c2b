#pragma once

#include <QByteArray>
#include <QRandomGenerator>

// Every byte value once, in order: what a line that must carry binary data is tried with.
inline QByteArray everyByteValue()
{
    QByteArray bytes(256, Qt::Uninitialized);
    for (int b = 0; b < 256; ++b)
        bytes[b] = char(b);
    return bytes;
}

// Bytes that look like a real binary image, the same for the same seed, so a failure repeats.
inline QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &b : bytes)
        b = char(generator.bounded(256));
    return bytes;
}
