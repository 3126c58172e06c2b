#pragma once

#include "core/textencoding.h"

#include <QByteArray>
#include <QString>

// What a typed line becomes on the wire, and how many characters that is.
struct ConvertedLine
{
    QByteArray bytes;
    int count = 0;
};

// Drops carriage returns, expands the escapes <0> to <255> in one ascending pass per value (a
// byte produced early can complete an escape for a larger value), encodes typed text in the
// encoding (an escape's byte stays that byte) and appends CR when sendCr. count: typed
// characters, escaped bytes and the CR, one each, however many bytes a character takes.
ConvertedLine convertLine(const QString &line, bool sendCr,
                          TextEncoding encoding = TextEncoding::Gbk);
// Text as it goes on the line in the encoding, without escapes or line ending.
QByteArray encodeText(const QString &text, TextEncoding encoding);
