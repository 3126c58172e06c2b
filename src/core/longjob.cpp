#include "core/longjob.h"

LongJob::LongJob(QObject *parent)
    : QObject(parent)
{}

void LongJob::start()
{
    Q_ASSERT(!m_running);
    m_running = true;
    begin();
}

void LongJob::stop()
{
    if (m_running) {
        cancel();
    }
}

void LongJob::portClosed()
{
    stop();
}

void LongJob::reportProgress(qint64 done, qint64 total)
{
    if (m_running) {
        Q_EMIT progress(done, total);
    }
}

void LongJob::finish(const JobResult &result)
{
    if (!m_running) {
        return;
    }
    m_running = false;
    Q_EMIT finished(result);
}
