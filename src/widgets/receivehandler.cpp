#include "widgets/receivehandler.h"

#include "core/colors.h"
#include "core/dialogs.h"
#include "core/switches.h"
#include "receive/lineowner.h"
#include "widgets/terminalbox.h"

ReceiveHandler::ReceiveHandler(LineOwner &line, TerminalBox &box, Switches &switches,
                               Dialogs &dialogs, QObject *parent)
    : QObject(parent)
    , m_box(box)
    , m_switches(switches)
    , m_dialogs(dialogs)
    , m_pipeline(switches)
{
    connect(&line, &LineOwner::forTerminal, this, &ReceiveHandler::onReceived);
    connect(&line, &LineOwner::captureFailed, this,
            [this](const QString &message) { m_dialogs.message(message, Dialogs::Warning); });
}

void ReceiveHandler::onReceived(const QByteArray &chunk)
{
    if (m_pipeline.timeStamps())
        m_pipeline.setTerminalAtLineStart(m_box.endsAtLineStart());
    const TextRuns runs = m_pipeline.feed(chunk);
    if (m_textTap && !m_switches.checked(Switches::HexMode)) {
        QString text;
        // A line the device redraws in place is not a reading: only text written forward counts.
        for (const TextRun &run : runs) {
            if (run.received && !run.editsLine() && run.color != TerminalColors::Stamp)
                text += run.text;
        }
        m_textTap(text);
    }
    m_box.appendRuns(runs);
}
