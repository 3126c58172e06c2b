#include "receive/receivepipeline.h"

#include "core/switches.h"
#include "core/colors.h"
#include "receive/hextext.h"

ReceivePipeline::ReceivePipeline(Switches &switches)
    : m_switches(switches)
{}

TextRuns ReceivePipeline::feed(const QByteArray &shown)
{
    TextRuns runs;
    if (!m_switches.checked(Switches::HexMode)) {
        m_console.feed(m_decoder.decode(shown), runs);
    } else {
        // Each dump line stands alone, so a character cut by a chunk boundary is not carried;
        // every chunk gives its line, even an empty one. The dump shows every byte, escape
        // sequences included, so the console's state stays as it was.
        m_decoder.reset();
        const QString text = hexDumpLine(shown, m_decoder.encoding());
        if (!text.isEmpty()) {
            runs.append(TextRun{text, TerminalColors::Received, true});
        }
    }
    // The stamp goes last, on what is shown: each '\n' ends a line, and a run that editsLine()
    // redraws the line being written after its stamp, which it never reaches.
    return m_stamper.stamp(runs, QTime::currentTime(), m_switches.checked(Switches::HexMode));
}
