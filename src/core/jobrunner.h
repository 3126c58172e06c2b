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
    // While a job runs the items that start long work are locked and, when the job is one the
    // clear button stops, the button reads "停止"; all of it returns when the job ends.
    virtual void setJobRunning(bool running, bool stopButton) = 0;
    // The thin progress bar: its scale is total, its mark reaches done; total 0 shows no mark.
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
    // A job runs that the clear button stops (every job but the loop send, which its own menu
    // item stops).
    bool stoppable() const { return busy() && m_job->stopsOnButton(); }
    LongJob *current() const { return m_job.data(); }
    // Starts the job unless another runs; the caller keeps ownership. The job may finish within
    // this call (a cancelled dialog, an empty file).
    bool run(LongJob *job);
    // The stop button.
    void stopRequested();
    void portClosed();

Q_SIGNALS:
    void busyChanged(bool busy);

private:
    void jobFinished(const JobResult &result);
    // The job's owner deleted it while it ran (the window is closing): it ends without a word.
    void jobDestroyed();
    void release();

    JobView &m_view;
    QPointer<LongJob> m_job;
};
