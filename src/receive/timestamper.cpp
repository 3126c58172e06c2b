#include "receive/timestamper.h"

#include "core/colors.h"

using namespace Qt::StringLiterals;

namespace {

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

} // namespace

QString TimeStamper::stampText(const QTime &time)
{
    return u'[' + time.toString(u"HH:mm:ss.zzz"_s) + u"] "_s;
}

TextRuns TimeStamper::stamp(const TextRuns &runs, const QTime &arrival, bool dumpLine)
{
    if (dumpLine && m_enabled && !runs.isEmpty()) {
        // One stamp a dump line: the line breaks its decoded characters may hold are part of it.
        TextRuns out{TextRun{stampText(arrival), TerminalColors::Stamp, true}};
        out.append(runs);
        m_atLineStart = true;
        m_afterCr = false;
        return out;
    }
    if (!m_enabled) {
        // Only where the text ends matters for the next line.
        for (const TextRun &run : runs) {
            if (!run.received || run.text.isEmpty())
                continue;
            const QChar last = run.text.back();
            m_atLineStart = isLineBreak(last);
            m_afterCr = last == u'\r';
        }
        return runs;
    }
    const QString stampText = TimeStamper::stampText(arrival);
    TextRuns out;
    for (const TextRun &run : runs) {
        if (!run.received) {
            out.append(run);
            continue;
        }
        qsizetype from = 0;
        for (qsizetype i = 0; i < run.text.size(); ++i) {
            const QChar c = run.text[i];
            // The LF of a CR LF belongs to the line break the CR started.
            const bool breakEnd = m_afterCr && c == u'\n';
            if (m_atLineStart && !breakEnd) {
                if (i > from)
                    out.append(TextRun{run.text.sliced(from, i - from), run.color, true});
                out.append(TextRun{stampText, TerminalColors::Stamp, true});
                from = i;
                m_atLineStart = false;
            }
            m_afterCr = c == u'\r';
            if (isLineBreak(c))
                m_atLineStart = true;
        }
        if (from == 0)
            out.append(run);
        else if (from < run.text.size())
            out.append(TextRun{run.text.sliced(from), run.color, true});
    }
    return out;
}
