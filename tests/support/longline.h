#pragma once

#include <QChar>
#include <QString>

// A line of the given length without breaks, varied so that a character out of place shows.
inline QString longLine(qsizetype length, char16_t first = u'a')
{
    QString line;
    line.reserve(length);
    for (qsizetype i = 0; i < length; ++i) {
        line += QChar(char16_t(first + i % 23));
    }
    return line;
}
