#include "commands/zmodemwatch.h"

#include "commands/commandcontext.h"
#include "core/commport.h"
#include "core/jobrunner.h"

#include <QTimer>

ZmodemWatch::ZmodemWatch(CommandContext &context, Starter starter, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_starter(std::move(starter))
    , m_holdOff(QDeadlineTimer(0))
{
    if (m_context.line)
        m_context.line->setWatcher(this);
}

ZmodemWatch::~ZmodemWatch()
{
    if (m_context.line) {
        m_context.line->setWatcher(nullptr);
        m_context.line->release(this);
    }
}

void ZmodemWatch::setEnabled(bool on)
{
    m_enabled = on;
    m_detector.reset();
}

qsizetype ZmodemWatch::watch(QByteArrayView bytes)
{
    if (!m_enabled || m_context.jobs.busy() || !m_context.line) {
        m_detector.reset();
        return -1;
    }
    const ZmodemDetector::Hit hit = m_detector.feed(bytes);
    if (hit.found == ZmodemDetector::Found::Nothing)
        return -1;
    if (!m_holdOff.hasExpired()) {
        // Still beginning and failing: shown as the text it is, and the wait starts over.
        m_holdOff.setRemainingTime(HoldOffMs);
        return -1;
    }
    // The job starts once this chunk is through: its dialog must not run inside the receive
    // path. Until it takes the line, the line is ours.
    m_context.line->claim(this);
    const ZmodemDetector::Found found = hit.found;
    QTimer::singleShot(0, this, [this, found] { start(found); });
    return hit.at;
}

qsizetype ZmodemWatch::takeFromLine(QByteArrayView bytes)
{
    return bytes.size();
}

void ZmodemWatch::start(ZmodemDetector::Found found)
{
    m_job = m_starter ? m_starter(found) : nullptr;
    if (!m_job) {
        letGo();
        return;
    }
    connect(m_job, &LongJob::finished, this, &ZmodemWatch::jobEnded, Qt::UniqueConnection);
    // A job that ended at once (a dialog refused) never took the line.
    if (!m_job->running())
        letGo();
}

void ZmodemWatch::jobEnded(const JobResult &result)
{
    letGo();
    auto *receive = qobject_cast<ZmodemReceiveJob *>(sender());
    if (result.failed && receive && receive->filesReceived() == 0)
        m_holdOff.setRemainingTime(HoldOffMs);
}

void ZmodemWatch::letGo()
{
    m_detector.reset();
    if (m_context.line)
        m_context.line->release(this);
}
