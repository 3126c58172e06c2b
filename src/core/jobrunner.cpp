#include "core/jobrunner.h"

JobRunner::JobRunner(JobView &view, QObject *parent)
    : QObject(parent)
    , m_view(view)
{}

bool JobRunner::run(LongJob *job)
{
    Q_ASSERT(job && !job->running());
    if (busy()) {
        return false;
    }
    m_job = job;
    connect(job, &LongJob::progress, this,
            [this](qint64 done, qint64 total) { m_view.showJobProgress(done, total); });
    connect(job, &LongJob::finished, this, &JobRunner::jobFinished);
    m_view.setJobRunning(true);
    Q_EMIT busyChanged(true);
    job->start();
    return true;
}

void JobRunner::stopRequested()
{
    if (m_job) {
        m_job->stop();
    }
}

void JobRunner::portClosed()
{
    if (m_job) {
        m_job->portClosed();
    }
}

void JobRunner::jobProgress(qint64 done, qint64 total)
{
    m_view.showJobProgress(done, total);
}

void JobRunner::jobFinished(const JobResult &result)
{
    LongJob *job = m_job.data();
    Q_ASSERT(job);
    disconnect(job, nullptr, this, nullptr);
    m_job.clear();
    m_view.showJobProgress(0, 0);
    m_view.setJobRunning(false);
    Q_EMIT busyChanged(false);
    m_view.showJobResult(result);
}
