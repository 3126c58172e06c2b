#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Bytes typed as hexadecimal, the way serial assistants accept them: "01 03 00 0A",
// "0103000A" and "0x01,0x03" all mean the same bytes. Blanks, commas, semicolons and line
// breaks separate; a "0x" prefix marks one byte of one or two digits; an unprefixed group is
// read two digits at a time and must hold an even number of them.
struct HexInput
{
    QByteArray bytes;
    // Where the first fault is, counted in characters from 1; 0 when there is none.
    qsizetype errorPosition = 0;
    // Why, in the interface's language, naming the position; empty when there is no fault.
    QString error;

    bool ok() const { return errorPosition == 0; }
};

HexInput parseHexInput(QStringView text);
