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

    QByteArray shown = chunk;
    QByteArray before;
    if (!taker() && watcher()) {
        // A transfer the far end begins: what came before it is still the terminal's.
        const qsizetype at = watcher()->watch(chunk);
        if (at >= 0) {
            before = chunk.left(at);
            shown = chunk.mid(at);
        }
    }
    bool toTerminal = true;
    // A claimant may hand the line to another within the chunk (a script's transfer ends and the
    // script watches again): the rest of the chunk is offered to the new one.
    while (LineTaker *claimant = taker()) {
        const qsizetype taken = claimant->takeFromLine(shown);
        if (taken >= shown.size()) {
            shown.clear();
            toTerminal = !before.isEmpty();
            break;
        }
        shown = shown.mid(taken);
        if (taker() == claimant)
            break;
    }
    if (toTerminal)
        Q_EMIT forTerminal(before + shown);
    if (!captureError.isEmpty())
        Q_EMIT captureFailed(captureError);
}
