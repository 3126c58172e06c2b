#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// One value of a plotted line, with the name the device gave it ("temp" in "temp:21.5"), if any.
struct PlotField
{
    QString name;
    double value = 0;

    friend bool operator==(const PlotField &, const PlotField &) = default;
};

// The most channels a line gives; further values on a line are left out.
constexpr int MaxPlotChannels = 16;

// The numbers of one received text line, when it is nothing but numbers separated by commas,
// blanks, tabs or semicolons, each optionally named as "name:value" or "name=value". Numbers
// are read as C's printf writes them in decimal (%d, %f, %e, %g, with a sign, "1." and ".5");
// inf and nan are kept as such for the plot to leave a gap. Anything else in the line, an empty
// line included, makes it no plot line at all.
std::optional<QList<PlotField>> parsePlotLine(QStringView line);
