#include "receive/receivepipeline.h"

#include "receive/capturefile.h"
#include "core/switches.h"
#include "core/colors.h"
#include "receive/hextext.h"
#include "core/lineclaim.h"

ReceivePipeline::ReceivePipeline(Switches &switches, CaptureFile &capture)
    : m_switches(switches)
    , m_capture(capture)
{}

ReceivePipeline::Output ReceivePipeline::feed(const QByteArray &chunk)
{
    Output out;
    if (m_switches.checked(Switches::Capture) && !chunk.isEmpty()) {
        const Result written = m_capture.write(chunk);
        if (!written.ok()) {
            // Data that can no longer be recorded must not look as if it were: capture stops.
            m_capture.close();
            m_switches.setChecked(Switches::Capture, false);
            out.captureError = written.message();
        }
    }

    QByteArray shown = chunk;
    // A taker may hand the line to another within the chunk (a script's transfer ends and the
    // script watches again): the rest of the chunk is offered to the new one.
    while (LineTaker *taker = m_claim ? m_claim->taker() : nullptr) {
        const qsizetype taken = taker->takeFromLine(shown);
        if (taken >= shown.size())
            return out;
        shown = shown.mid(taken);
        if (m_claim->taker() == taker)
            break;
    }

    if (!m_switches.checked(Switches::HexMode)) {
        m_console.feed(m_decoder.decode(shown), out.runs);
    } else {
        // Each dump line stands alone, so a character cut by a chunk boundary is not carried;
        // every chunk gives its line, even an empty one. The dump shows every byte, escape
        // sequences included, so the console's state stays as it was.
        m_decoder.reset();
        const QString text = hexDumpLine(shown, m_decoder.encoding());
        if (!text.isEmpty()) {
            out.runs.append(TextRun{text, TerminalColors::Received, true});
        }
    }
    // The stamp goes last, on what is shown: each '\n' ends a line, and a run that editsLine()
    // redraws the line being written after its stamp, which it never reaches.
    out.runs = m_stamper.stamp(out.runs, QTime::currentTime(),
                               m_switches.checked(Switches::HexMode));
    return out;
}
