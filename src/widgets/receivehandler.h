#pragma once

#include "receive/receivepipeline.h"

#include <QObject>

#include <functional>

class Dialogs;
class LineOwner;
class Switches;
class TerminalBox;

// Where the terminal's share of the line enters the window: each chunk the line owner hands the
// terminal goes through the receive pipeline, and what comes out is appended at its end.
class ReceiveHandler : public QObject
{
    Q_OBJECT

public:
    ReceiveHandler(LineOwner &line, TerminalBox &box, Switches &switches, Dialogs &dialogs,
                   QObject *parent = nullptr);

    void onReceived(const QByteArray &chunk);

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
