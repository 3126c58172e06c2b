#include "widgets/jobpanel.h"

#include "core/dialogs.h"
#include "core/terminal.h"
#include "widgets/progressbar.h"
#include "widgets/statusstrip.h"

using namespace Qt::StringLiterals;

JobPanel::JobPanel(StatusStrip &strip, ProgressBar &bar, Terminal &terminal, Dialogs &dialogs)
    : m_strip(strip)
    , m_bar(bar)
    , m_terminal(terminal)
    , m_dialogs(dialogs)
{}

void JobPanel::setJobRunning(bool running, bool stopButton)
{
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
