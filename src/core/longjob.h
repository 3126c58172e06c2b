#pragma once

#include <QObject>
#include <QString>

// How a long job ended and what, if anything, the user is told about it.
struct JobResult
{
    enum class Report {
        Quiet,  // nothing to say: the job ran out or the user stopped it
        Box,    // a message box, for what the user must acknowledge
        Notice, // a notice line in the terminal, for a record that stays with the session
    };
    Report report = Report::Quiet;
    QString text;
    bool failed = false;

    static JobResult quiet() { return {}; }
    static JobResult box(const QString &text, bool failed = true)
    {
        return {Report::Box, text, failed};
    }
    static JobResult notice(const QString &text, bool failed = false)
    {
        return {Report::Notice, text, failed};
    }
};

// A piece of long work (sending a file, a view of a file, loading a workspace, a transfer) driven
// by the events it waits for: a timer, the line taking bytes, bytes arriving. It starts, reports
// progress, can be stopped at any moment and finishes exactly once with a result, so nothing ever
// polls a flag or waits on the window's thread to learn how it went.
class LongJob : public QObject
{
    Q_OBJECT

public:
    explicit LongJob(QObject *parent = nullptr);

    bool running() const { return m_running; }
    void start();
    // The user's stop. A job may take a moment to wind down (a transfer tells its peer first),
    // but it always ends with finished().
    void stop();
    // The port closed or was lost under the job; by default that stops it.
    virtual void portClosed();
    // Whether the clear button, reading "停止", stops the job. A job that runs for hours beside
    // the session (the loop send) is stopped by its own menu item, and the button keeps clearing.
    virtual bool stopsOnButton() const { return true; }
    // Whether the job puts a stream on the line that a typed line would break into (a file
    // going out, a transfer's protocol): while it runs, Enter sends nothing.
    virtual bool holdsLine() const { return false; }

Q_SIGNALS:
    // done of total units (bytes, lines); total 0 when the amount is not known.
    void progress(qint64 done, qint64 total);
    void finished(const JobResult &result);

protected:
    virtual void begin() = 0;
    virtual void cancel() = 0;

    void reportProgress(qint64 done, qint64 total);
    // Ends the job; later calls do nothing, so a stop that races the end is harmless.
    void finish(const JobResult &result);

private:
    bool m_running = false;
};
