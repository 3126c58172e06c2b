#pragma once

#include "receive/receivepipeline.h"

#include <QObject>

#include <functional>

class CaptureFile;
class CommPort;
class Dialogs;
class LineClaim;
class Switches;
class TerminalBox;

// Where data from the line enters the window: each chunk the port hands on goes through the
// receive pipeline, and what comes out is appended at the end of the terminal.
class ReceiveHandler : public QObject
{
    Q_OBJECT

public:
    ReceiveHandler(CommPort &port, TerminalBox &box, Switches &switches, CaptureFile &capture,
                   Dialogs &dialogs, QObject *parent = nullptr);

    void onReceived(const QByteArray &chunk);
    // While a transfer has the line, the chunk goes to it after the capture.
    void setLineClaim(LineClaim *claim) { m_pipeline.setLineClaim(claim); }

    void setTimeStamps(bool on) { m_pipeline.setTimeStamps(on); }
    bool timeStamps() const { return m_pipeline.timeStamps(); }
    void setEncoding(TextEncoding encoding) { m_pipeline.setEncoding(encoding); }
    // Gets the received text of each chunk in text mode, as the terminal shows it but without
    // time stamps; none while empty, so that nobody listening costs nothing.
    using TextTap = std::function<void(const QString &)>;
    void setTextTap(TextTap tap) { m_textTap = std::move(tap); }

private:
    TerminalBox &m_box;
    Switches &m_switches;
    TextTap m_textTap;
    Dialogs &m_dialogs;
    ReceivePipeline m_pipeline;
};
