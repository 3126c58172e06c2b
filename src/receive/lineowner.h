#pragma once

#include "core/lineclaim.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class CaptureFile;
class CommPort;
class Switches;

// The one owner of what the line brings. Every chunk the port hands on goes to the capture file
// first, when capture is on, and then to exactly one reader: the job that has claimed the line
// (a transfer, a script), which takes what it understands, or the terminal, which gets the rest.
// A job claims and releases the line through the LineClaim it is handed.
class LineOwner : public QObject, public LineClaim
{
    Q_OBJECT

public:
    LineOwner(CommPort &port, Switches &switches, CaptureFile &capture, QObject *parent = nullptr);

    // What the port received, as it would hand it on; public so that tests can play the line.
    void receive(const QByteArray &chunk);

Q_SIGNALS:
    // The bytes no claimant took, for the terminal.
    void forTerminal(const QByteArray &bytes);
    // A capture write failed; capture is off and the file closed. Said after the chunk was handed
    // on, so the terminal shows it before anyone asks the user.
    void captureFailed(const QString &message);

private:
    Switches &m_switches;
    CaptureFile &m_capture;
};
