#include "terminal/receivehandler.h"

#include "app/menus.h"
#include "commands/capturefile.h"
#include "platform/commport.h"
#include "platform/dialogs.h"
#include "platform/terminalbox.h"
#include "terminal/colors.h"
#include "terminal/hextext.h"

ReceiveHandler::ReceiveHandler(CommPort &port, TerminalBox &box, Menus &menus, CaptureFile &capture,
                               Dialogs &dialogs, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_box(box)
    , m_menus(menus)
    , m_capture(capture)
    , m_dialogs(dialogs)
{
    connect(&m_port, &CommPort::commEventRaised, this, &ReceiveHandler::MSComm1_OnComm);
}

void ReceiveHandler::MSComm1_OnComm()
{
    if (m_port.commEvent() != CommPort::EventReceive) {
        return;
    }
    m_box.setSelReceived(true);
    m_box.setSelColor(TerminalColors::Received);
    const QByteArray chunk = m_port.input();

    // The capture file is the lossless record, so it gets the chunk before anything is shown.
    QString captureError;
    if (m_menus.checked(Menus::Capture) && !chunk.isEmpty()) {
        const Result written = m_capture.write(chunk);
        if (!written.ok()) {
            // Data that can no longer be recorded must not look as if it were: capture stops.
            m_capture.close();
            m_menus.setChecked(Menus::Capture, false);
            captureError = written.message();
        }
    }

    if (!m_menus.checked(Menus::HexMode)) {
        const QString text = m_decoder.decode(chunk);
        if (!text.isEmpty()) {
            m_box.insertText(text);
        }
    } else {
        // Each dump line stands alone, so a character cut by a chunk boundary is not carried.
        m_decoder.reset();
        m_box.insertText(hexDumpLine(chunk));
    }
    m_box.moveCaretToEnd();
    m_box.setSelReceived(false);

    if (!captureError.isEmpty()) {
        m_dialogs.message(captureError, Dialogs::Exclamation);
    }
}
