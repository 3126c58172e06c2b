#pragma once

#include "core/longjob.h"

#include <QObject>
#include <QPointer>

// What the window shows of the running job, kept small so that jobs and their runner are tested
// without a widget.
class JobView
{
public:
    virtual ~JobView() = default;
    // While a job runs the clear button reads "停止" and the items that start long work are
    // locked; all of it returns when the job ends.
    virtual void setJobRunning(bool running) = 0;
    // The thin progress bar; total 0 clears it.
    virtual void showJobProgress(qint64 done, qint64 total) = 0;
    // The job's last word, when it has one.
    virtual void showJobResult(const JobResult &result) = 0;
};

// Runs one long job at a time. Every job gets the same treatment from here: the others are locked
// out, the stop button reaches it, its progress goes to the bar and its result to the user, so a
// new kind of job only has to be a LongJob.
class JobRunner : public QObject
{
    Q_OBJECT

public:
    explicit JobRunner(JobView &view, QObject *parent = nullptr);

    bool busy() const { return !m_job.isNull(); }
    LongJob *current() const { return m_job.data(); }
    // Starts the job unless another runs; the caller keeps ownership.
    bool run(LongJob *job);
    // The stop button.
    void stopRequested();
    void portClosed();

Q_SIGNALS:
    void busyChanged(bool busy);

private:
    void jobProgress(qint64 done, qint64 total);
    void jobFinished(const JobResult &result);

    JobView &m_view;
    QPointer<LongJob> m_job;
};
