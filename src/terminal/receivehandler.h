#pragma once

#include "terminal/receivedecoder.h"

#include <QObject>

class CaptureFile;
class CommPort;
class Dialogs;
class Menus;
class TerminalBox;

// Where data from the line enters the program: each chunk goes to the capture file first,
// then into the terminal as text or as one hexadecimal dump line.
class ReceiveHandler : public QObject
{
    Q_OBJECT

public:
    ReceiveHandler(CommPort &port, TerminalBox &box, Menus &menus, CaptureFile &capture,
                   Dialogs &dialogs, QObject *parent = nullptr);

    void MSComm1_OnComm();

private:
    CommPort &m_port;
    TerminalBox &m_box;
    Menus &m_menus;
    CaptureFile &m_capture;
    Dialogs &m_dialogs;
    ReceiveDecoder m_decoder;
};
