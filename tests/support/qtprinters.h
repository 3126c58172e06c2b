#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <ostream>

// Readable GoogleTest failure messages for Qt strings: text as UTF-8 with control characters
// escaped, byte arrays as hexadecimal.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"';
    for (const char32_t c : text.toUcs4()) {
        if (c < 0x20 || c == 0x7F || c == 0xFFFD)
            *os << "\\x{" << std::hex << unsigned(c) << std::dec << '}';
        else
            *os << QString::fromUcs4(&c, 1).toStdString();
    }
    *os << '"';
}

inline void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    *os << '[' << bytes.toHex(' ').toStdString() << ']';
}
