#pragma once

#include <QList>
#include <QRgb>
#include <QString>

// A stretch of terminal text in one colour. Line breaks inside text are '\n'.
// received marks text that came from the line, which the terminal protects against editing.
struct TextRun
{
    QString text;
    QRgb color = 0;
    bool received = false;

    friend bool operator==(const TextRun &, const TextRun &) = default;
};

using TextRuns = QList<TextRun>;
