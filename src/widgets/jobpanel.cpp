#include "widgets/jobpanel.h"

#include "core/commport.h"
#include "core/dialogs.h"
#include "core/switches.h"
#include "core/terminal.h"
#include "widgets/progressbar.h"
#include "widgets/statusstrip.h"

using namespace Qt::StringLiterals;

JobPanel::JobPanel(Switches &switches, StatusStrip &strip, ProgressBar &bar, Terminal &terminal,
                   Dialogs &dialogs, CommPort &port)
    : m_switches(switches)
    , m_strip(strip)
    , m_bar(bar)
    , m_terminal(terminal)
    , m_dialogs(dialogs)
    , m_port(port)
{}

void JobPanel::setJobRunning(bool running, bool stopButton)
{
    // Sending a file needs the open port besides; opening the port while a job runs leaves the
    // item locked (PortCommands asks the runner).
    m_switches.setEnabled(Switches::SendFile, !running && m_port.portOpen());
    m_switches.setEnabled(Switches::HexView, !running);
    m_switches.setEnabled(Switches::LoadWorkspace, !running);
    m_strip.setButtonCaption(running && stopButton ? u"停止"_s : u"清除"_s);
    if (!running) {
        m_bar.clear();
    }
}

void JobPanel::showJobProgress(qint64 done, qint64 total)
{
    m_bar.setScaleWidth(double(total));
    m_bar.drawMark(double(done));
}

void JobPanel::showJobResult(const JobResult &result)
{
    switch (result.report) {
    case JobResult::Report::Quiet:
        break;
    case JobResult::Report::Box:
        m_dialogs.message(result.text, result.failed ? Dialogs::Warning : Dialogs::Information);
        break;
    case JobResult::Report::Notice:
        appendNotice(m_terminal, result.text);
        break;
    }
}
