#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <functional>

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
//
// A device that redraws its line (backspace, a lone carriage return, erase in line) writes
// before the end: back counts the characters between where the run goes and the end of the
// last line's received text, and the run replaces as many of them as it holds, without a line
// break. With cut, the run is empty and those characters go. Either way the edit stops at
// anything on the line that did not come from the line (typed text, counts), and at its start.
struct TextRun
{
    QString text;
    RgbColor color = 0;
    bool received = false;
    qsizetype back = 0;
    bool cut = false;

    bool editsLine() const { return back > 0 || cut; }

    friend bool operator==(const TextRun &, const TextRun &) = default;
};

using TextRuns = QList<TextRun>;

// Terminal text handed over piece by piece, in order, without a copy of the whole: a piece is in
// one colour, and neighbours may share theirs. A walk hands every piece to the visitor it is
// given, and may be taken more than once.
using RunVisitor = std::function<void(QStringView text, RgbColor color, bool received)>;
using RunWalk = std::function<void(const RunVisitor &visit)>;
