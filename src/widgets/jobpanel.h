#pragma once

#include "core/jobrunner.h"

class Dialogs;
class ProgressBar;
class StatusStrip;
class Terminal;

// What the main window shows of a long job: the clear button that reads "停止" while it stops
// the job, the thin bar and the job's last word, a box or a notice line in the terminal. The items
// that start long work follow ProgramState, which the runner keeps told.
class JobPanel : public JobView
{
public:
    JobPanel(StatusStrip &strip, ProgressBar &bar, Terminal &terminal, Dialogs &dialogs);

    void setJobRunning(bool running, bool stopButton) override;
    void showJobProgress(qint64 done, qint64 total) override;
    void showJobResult(const JobResult &result) override;

private:
    StatusStrip &m_strip;
    ProgressBar &m_bar;
    Terminal &m_terminal;
    Dialogs &m_dialogs;
};
