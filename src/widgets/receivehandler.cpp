#include "widgets/receivehandler.h"

#include "core/colors.h"
#include "core/commport.h"
#include "core/dialogs.h"
#include "core/switches.h"
#include "widgets/terminalbox.h"

ReceiveHandler::ReceiveHandler(CommPort &port, TerminalBox &box, Switches &switches,
                               CaptureFile &capture, Dialogs &dialogs, QObject *parent)
    : QObject(parent)
    , m_box(box)
    , m_switches(switches)
    , m_dialogs(dialogs)
    , m_pipeline(switches, capture)
{
    connect(&port, &CommPort::received, this, &ReceiveHandler::onReceived);
}

void ReceiveHandler::onReceived(const QByteArray &chunk)
{
    if (m_pipeline.timeStamps())
        m_pipeline.setTerminalAtLineStart(m_box.endsAtLineStart());
    const ReceivePipeline::Output out = m_pipeline.feed(chunk);
    if (m_textTap && !m_switches.checked(Switches::HexMode)) {
        QString text;
        // A line the device redraws in place is not a reading: only text written forward counts.
        for (const TextRun &run : out.runs) {
            if (run.received && !run.editsLine() && run.color != TerminalColors::Stamp)
                text += run.text;
        }
        m_textTap(text);
    }
    m_box.appendRuns(out.runs);
    if (!out.captureError.isEmpty()) {
        m_dialogs.message(out.captureError, Dialogs::Warning);
    }
}
