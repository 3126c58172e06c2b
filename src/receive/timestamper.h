#pragma once

#include "core/textrun.h"

#include <QTime>

// The stage after decoding that writes the local time before each received line that starts,
// "[HH:MM:SS.mmm] ", as a run of its own in the stamp colour. It remembers whether the text so
// far ended a line, so a line split between arrivals gets one stamp, taken when its first
// character arrived. It keeps count while switched off, so that switching it on in the middle
// of a line stamps the next line, not the middle.
class TimeStamper
{
public:
    void setEnabled(bool on) { m_enabled = on; }
    bool enabled() const { return m_enabled; }

    // Stamps the received runs that arrived at `arrival`. dumpLine: the runs are one hex dump
    // line, which gets one stamp wherever it starts, whatever line breaks its text shows.
    TextRuns stamp(const TextRuns &runs, const QTime &arrival, bool dumpLine = false);
    // Where the text shown so far ends, when more than received text is shown: a typed line or
    // a notice between two received lines ends the line the stamper saw last.
    void setAtLineStart(bool on)
    {
        m_atLineStart = on;
        m_afterCr = false;
    }

    static QString stampText(const QTime &time);

private:
    bool m_enabled = false;
    bool m_atLineStart = true;
    bool m_afterCr = false;
};
