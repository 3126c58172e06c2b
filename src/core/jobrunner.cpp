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
    connect(job, &QObject::destroyed, this, &JobRunner::jobDestroyed);
    m_view.setJobRunning(true, job->stopsOnButton());
    Q_EMIT busyChanged(true);
    job->start();
    return true;
}

void JobRunner::stopRequested()
{
    if (stoppable()) {
        m_job->stop();
    }
}

void JobRunner::portClosed()
{
    if (m_job) {
        m_job->portClosed();
    }
}

void JobRunner::jobFinished(const JobResult &result)
{
    Q_ASSERT(m_job);
    release();
    m_view.showJobResult(result);
}

void JobRunner::jobDestroyed()
{
    // The QPointer is already null here; only the view is left to put back.
    m_job.clear();
    m_view.setJobRunning(false, false);
    Q_EMIT busyChanged(false);
}

void JobRunner::release()
{
    disconnect(m_job.data(), nullptr, this, nullptr);
    m_job.clear();
    m_view.setJobRunning(false, false);
    Q_EMIT busyChanged(false);
}
