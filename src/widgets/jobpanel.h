#pragma once

#include "core/jobrunner.h"

class CommPort;
class Dialogs;
class ProgressBar;
class StatusStrip;
class Switches;
class Terminal;

// What the main window shows of a long job: the clear button that reads "停止" while it stops
// the job, the tools items that start long work, locked while one runs, the thin bar and the
// job's last word, a box or a notice line in the terminal.
class JobPanel : public JobView
{
public:
    JobPanel(Switches &switches, StatusStrip &strip, ProgressBar &bar, Terminal &terminal,
             Dialogs &dialogs, CommPort &port);

    void setJobRunning(bool running, bool stopButton) override;
    void showJobProgress(qint64 done, qint64 total) override;
    void showJobResult(const JobResult &result) override;

private:
    Switches &m_switches;
    StatusStrip &m_strip;
    ProgressBar &m_bar;
    Terminal &m_terminal;
    Dialogs &m_dialogs;
    CommPort &m_port;
};
