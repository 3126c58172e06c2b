#include "widgets/receivehandler.h"

#include "core/commport.h"
#include "core/dialogs.h"
#include "widgets/terminalbox.h"

ReceiveHandler::ReceiveHandler(CommPort &port, TerminalBox &box, Switches &switches,
                               CaptureFile &capture, Dialogs &dialogs, QObject *parent)
    : QObject(parent)
    , m_box(box)
    , m_dialogs(dialogs)
    , m_pipeline(switches, capture)
{
    connect(&port, &CommPort::received, this, &ReceiveHandler::MSComm1_OnComm);
}

void ReceiveHandler::MSComm1_OnComm(const QByteArray &chunk)
{
    const ReceivePipeline::Output out = m_pipeline.feed(chunk);
    m_box.appendRuns(out.runs);
    if (!out.captureError.isEmpty()) {
        m_dialogs.message(out.captureError, Dialogs::Exclamation);
    }
}
