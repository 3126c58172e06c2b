#pragma once

#include "plotdata/plotline.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <vector>

// The plotted samples of every channel, kept in memory up to a bound of lines: the oldest go
// first. A line is one sample of each channel; a channel that a line leaves out gets a gap
// (NaN). Samples are numbered from the first line ever kept, so a view can tell what is new
// since it last looked. Eight bytes a sample.
class PlotSamples
{
public:
    static constexpr qint64 MinBound = 100;
    static constexpr qint64 MaxBound = 1'000'000;

    explicit PlotSamples(qint64 bound = 100'000);

    qint64 bound() const { return m_bound; }
    // Drops the oldest samples beyond the new bound at once.
    void setBound(qint64 bound);

    void append(const QList<PlotField> &fields);
    // Forgets every sample and every channel; numbering carries on.
    void clear();

    int channelCount() const { return int(m_channels.size()); }
    // The name a device gave the channel, or empty.
    QString name(int channel) const { return m_channels[size_t(channel)].name; }
    // Numbers of the kept samples: first() up to, not including, end().
    qint64 first() const { return m_end - m_count; }
    qint64 end() const { return m_end; }
    double value(int channel, qint64 number) const;
    // Bumped by clear() and setBound(), after which a view must take the samples anew.
    int generation() const { return m_generation; }

private:
    struct Channel
    {
        QString name;
        std::vector<double> ring;
    };

    int channelFor(const PlotField &field, int position);
    size_t slot(qint64 number) const { return size_t(number % m_bound); }

    qint64 m_bound;
    qint64 m_count = 0;
    qint64 m_end = 0;
    int m_generation = 0;
    std::vector<Channel> m_channels;
};

// Received text on its way to the plot: cut into lines wherever the stream breaks them (a line
// split between arrivals is one line), each line read by parsePlotLine, and the plot lines
// kept in the samples. Named values go to their own channel whatever their place in the line.
class PlotFeed
{
public:
    // A line that never ends is no plot line; beyond this it is dropped, not kept growing.
    static constexpr qsizetype MaxLineLength = 4096;

    void feed(QStringView text);
    // Forgets the part of a line received so far.
    void resetLine();

    PlotSamples &samples() { return m_samples; }
    const PlotSamples &samples() const { return m_samples; }
    // Lines read as samples, and lines left out, since the start.
    qint64 plotLines() const { return m_plotLines; }
    qint64 skippedLines() const { return m_skippedLines; }
    // Values read as nan or inf, which the plot cannot place, since the start.
    qint64 nonFiniteValues() const { return m_nonFinite; }

private:
    void takeLine(QStringView line);

    PlotSamples m_samples;
    QString m_partial;
    bool m_overlong = false;
    qint64 m_plotLines = 0;
    qint64 m_skippedLines = 0;
    qint64 m_nonFinite = 0;
};
