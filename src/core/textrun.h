#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// 0xAARRGGBB, the layout of Qt's QRgb, kept here without Qt Gui so the logic needs Qt Core only.
using RgbColor = quint32;

constexpr RgbColor rgbColor(int red, int green, int blue)
{
    return 0xff000000u | (quint32(red & 0xff) << 16) | (quint32(green & 0xff) << 8)
           | quint32(blue & 0xff);
}
constexpr int rgbRed(RgbColor c)
{
    return int((c >> 16) & 0xff);
}
constexpr int rgbGreen(RgbColor c)
{
    return int((c >> 8) & 0xff);
}
constexpr int rgbBlue(RgbColor c)
{
    return int(c & 0xff);
}

// A stretch of terminal text in one colour. Line breaks inside text are '\n'.
// received marks text that came from the line, which the terminal protects against editing.
struct TextRun
{
    QString text;
    RgbColor color = 0;
    bool received = false;

    friend bool operator==(const TextRun &, const TextRun &) = default;
};

using TextRuns = QList<TextRun>;
