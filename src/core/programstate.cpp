#include "core/programstate.h"

#include "core/jobrunner.h"

ProgramState::ProgramState(QObject *parent)
    : QObject(parent)
{
    // Sending a carriage return after each line is on until the user turns it off.
    m_marks[SendCr] = true;
}

void ProgramState::setPort(Port port)
{
    if (m_port == port)
        return;
    m_port = port;
    Q_EMIT changed();
}

void ProgramState::setJobRunning(bool running)
{
    if (m_jobRunning == running)
        return;
    m_jobRunning = running;
    Q_EMIT changed();
}

void ProgramState::followJobs(JobRunner &jobs)
{
    setJobRunning(jobs.busy());
    connect(&jobs, &JobRunner::busyChanged, this, &ProgramState::setJobRunning);
}

bool ProgramState::checked(int item) const
{
    if (item == OpenPort)
        return m_port == Port::Opening || m_port == Port::Open;
    return item >= 0 && item < CommandCount && m_marks[static_cast<size_t>(item)];
}

void ProgramState::setChecked(int item, bool on)
{
    // The open port's mark is the port's state, set through setPort.
    if (item < 0 || item >= CommandCount || item == OpenPort)
        return;
    bool &mark = m_marks[static_cast<size_t>(item)];
    if (mark == on)
        return;
    mark = on;
    Q_EMIT changed();
}

bool ProgramState::enabled(int item) const
{
    const bool open = m_port == Port::Open;
    switch (item) {
    case Dtr:
    case Rts:
    case Capture:
        return open;
    case SendFile:
        return open && !m_jobRunning;
    case LoadWorkspace:
    case HexView:
        return !m_jobRunning;
    default:
        return item >= 0 && item < CommandCount;
    }
}
