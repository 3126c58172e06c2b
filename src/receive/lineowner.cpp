#include "receive/lineowner.h"

#include "core/commport.h"
#include "core/switches.h"
#include "receive/capturefile.h"

LineOwner::LineOwner(CommPort &port, Switches &switches, CaptureFile &capture, QObject *parent)
    : QObject(parent)
    , m_switches(switches)
    , m_capture(capture)
{
    connect(&port, &CommPort::received, this, &LineOwner::receive);
}

void LineOwner::receive(const QByteArray &chunk)
{
    QString captureError;
    if (m_switches.checked(Switches::Capture) && !chunk.isEmpty()) {
        const Result written = m_capture.write(chunk);
        if (!written.ok()) {
            // Data that can no longer be recorded must not look as if it were: capture stops.
            m_capture.close();
            m_switches.setChecked(Switches::Capture, false);
            captureError = written.message();
        }
    }

    QByteArray rest = chunk;
    bool toTerminal = true;
    if (LineTaker *claimant = taker()) {
        const qsizetype taken = claimant->takeFromLine(chunk);
        if (taken >= chunk.size())
            toTerminal = false;
        else
            rest = chunk.mid(taken);
    }
    if (toTerminal)
        Q_EMIT forTerminal(rest);
    if (!captureError.isEmpty())
        Q_EMIT captureFailed(captureError);
}
