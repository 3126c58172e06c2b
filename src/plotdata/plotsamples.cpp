#include "plotdata/plotsamples.h"

#include <algorithm>
#include <cmath>

PlotSamples::PlotSamples(qint64 bound)
    : m_bound(std::clamp(bound, MinBound, MaxBound))
{}

void PlotSamples::setBound(qint64 bound)
{
    bound = std::clamp(bound, MinBound, MaxBound);
    if (bound == m_bound)
        return;
    // The ring is laid out by number modulo the bound, so it is rebuilt in the new layout.
    const qint64 keep = std::min(m_count, bound);
    const qint64 from = m_end - keep;
    for (Channel &channel : m_channels) {
        std::vector<double> ring;
        ring.resize(size_t(std::min(bound, m_end)), NAN);
        // A channel that came late has a short ring: its earlier samples are gaps.
        for (qint64 n = from; n < m_end; ++n)
            ring[size_t(n % bound)] = slot(n) < channel.ring.size() ? channel.ring[slot(n)] : NAN;
        channel.ring = std::move(ring);
    }
    m_bound = bound;
    m_count = keep;
    ++m_generation;
}

int PlotSamples::channelFor(const PlotField &field, int position)
{
    if (!field.name.isEmpty()) {
        for (size_t i = 0; i < m_channels.size(); ++i) {
            if (m_channels[i].name == field.name)
                return int(i);
        }
        // A new name takes the first channel that has none yet at or after its place, so that
        // "temp:1,rpm:2" gives channels 1 and 2 as an unnamed "1,2" would.
        for (size_t i = size_t(position); i < m_channels.size(); ++i) {
            if (m_channels[i].name.isEmpty()) {
                m_channels[i].name = field.name;
                return int(i);
            }
        }
        if (m_channels.size() >= size_t(MaxPlotChannels))
            return -1;
        m_channels.push_back(Channel{field.name, {}});
        return int(m_channels.size() - 1);
    }
    while (m_channels.size() <= size_t(position))
        m_channels.push_back(Channel{});
    return position;
}

void PlotSamples::append(const QList<PlotField> &fields)
{
    const qint64 number = m_end;
    const size_t at = slot(number);
    std::vector<bool> set(m_channels.size(), false);
    for (int i = 0; i < int(fields.size()); ++i) {
        const int channel = channelFor(fields[i], i);
        if (channel < 0)
            continue;
        set.resize(m_channels.size(), false);
        Channel &c = m_channels[size_t(channel)];
        // A ring grows with the samples up to the bound, so a short session costs little.
        if (c.ring.size() <= at) {
            const size_t grown = std::max(at + 1, std::min(size_t(m_bound), c.ring.size() * 2));
            c.ring.resize(grown, NAN);
        }
        c.ring[at] = fields[i].value;
        set[size_t(channel)] = true;
    }
    for (size_t i = 0; i < m_channels.size(); ++i) {
        Channel &c = m_channels[i];
        if (set[i])
            continue;
        if (c.ring.size() <= at)
            c.ring.resize(std::max(at + 1, std::min(size_t(m_bound), c.ring.size() * 2)), NAN);
        c.ring[at] = NAN;
    }
    ++m_end;
    m_count = std::min(m_count + 1, m_bound);
}

void PlotSamples::clear()
{
    m_channels.clear();
    m_count = 0;
    ++m_generation;
}

double PlotSamples::value(int channel, qint64 number) const
{
    Q_ASSERT(number >= first() && number < m_end);
    const std::vector<double> &ring = m_channels[size_t(channel)].ring;
    const size_t at = slot(number);
    return at < ring.size() ? ring[at] : NAN;
}

// --- PlotFeed --------------------------------------------------------------------------------

namespace {

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

} // namespace

void PlotFeed::feed(QStringView text)
{
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isLineBreak(text[i]))
            continue;
        if (m_partial.isEmpty()) {
            takeLine(text.sliced(from, i - from));
        } else {
            m_partial += text.sliced(from, i - from);
            takeLine(m_partial);
            m_partial.clear();
        }
        m_overlong = false;
        from = i + 1;
    }
    if (m_overlong)
        return;
    m_partial += text.sliced(from);
    if (m_partial.size() > MaxLineLength) {
        m_partial.clear();
        m_overlong = true;
        ++m_skippedLines;
    }
}

void PlotFeed::resetLine()
{
    m_partial.clear();
    m_overlong = false;
}

void PlotFeed::takeLine(QStringView line)
{
    if (m_overlong)
        return;
    // The empty "line" between the CR and LF of a line break is no line at all.
    if (line.isEmpty())
        return;
    if (const std::optional<QList<PlotField>> fields = parsePlotLine(line)) {
        m_samples.append(*fields);
        ++m_plotLines;
        for (const PlotField &field : *fields) {
            if (!std::isfinite(field.value))
                ++m_nonFinite;
        }
    } else {
        ++m_skippedLines;
    }
}
