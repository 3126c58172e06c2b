#pragma once

#include "core/longjob.h"

#include <QByteArray>
#include <QTimer>

struct CommandContext;

// Sends one message over and over, with a pause, until the item is clicked again.
//
// The check mark of the loop-send item is the sign that a loop runs. The loop is a long job, so
// it cannot start while a file send, a view or a load runs, and they cannot start while it does;
// but it may run for hours beside the session, so its own item stops it and the clear button
// keeps clearing. The pause is a timer, so the window shows data and takes input throughout, and
// a second click ends the loop at once. A message goes out only when the line has taken the one
// before, so a held line holds the loop instead of piling messages up.
class LoopSend : public LongJob
{
    Q_OBJECT

public:
    explicit LoopSend(CommandContext &context, QObject *parent = nullptr);

    // A click on the loop-send item: starts a loop, or stops the running one.
    void clicked();
    bool stopsOnButton() const override { return false; }
    // The pause between two sendings, in milliseconds.
    int delay() const { return m_pause.interval(); }

protected:
    void begin() override;
    void cancel() override;

private:
    void sendNext();
    void end(const JobResult &result);

    CommandContext &m_context;
    QTimer m_pause;
    QByteArray m_message;
    // The pause is over but the line still holds the previous message.
    bool m_waitingForLine = false;
};
