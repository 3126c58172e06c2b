#pragma once

#include "core/switches.h"

#include <QObject>

#include <array>

class JobRunner;

// What is true now: the port, the marks of the tools items (DTR, RTS, capture, send CR, hex mode,
// loop send) and whether a long job runs. It alone decides which items are enabled and whether a
// transfer may start; the menus show it and the commands ask it, with or without a window.
class ProgramState : public QObject, public Switches
{
    Q_OBJECT

public:
    enum class Port { Closed, Opening, Open, WaitingToReopen };

    explicit ProgramState(QObject *parent = nullptr);

    Port port() const { return m_port; }
    void setPort(Port port);
    bool jobRunning() const { return m_jobRunning; }
    void setJobRunning(bool running);
    // Keeps jobRunning() equal to the runner's busy().
    void followJobs(JobRunner &jobs);

    // The open port's mark follows the port: on while it opens or is open.
    bool checked(int item) const override;
    void setChecked(int item, bool on) override;
    // The line's items need the open port; the items that start long work need no job running.
    bool enabled(int item) const override;
    // A transfer needs the open port and the line to itself.
    bool transfersEnabled() const { return m_port == Port::Open && !m_jobRunning; }

Q_SIGNALS:
    void changed();

private:
    Port m_port = Port::Closed;
    bool m_jobRunning = false;
    std::array<bool, CommandCount> m_marks{};
};
