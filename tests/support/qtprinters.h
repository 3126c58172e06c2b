#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <initializer_list>
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

// Bytes written as numbers, for tables of raw input.
inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}
