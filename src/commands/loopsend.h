#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

struct CommandContext;

// Sends one message over and over, with a pause, until the item is clicked again.
//
// The check mark of the loop-send item is the sign that a loop runs. The pause is a timer, so
// the window shows data and takes input throughout, and a second click ends the loop at once.
// A message goes out only when the line has taken the one before, so a held line holds the loop
// instead of piling messages up.
class LoopSend : public QObject
{
    Q_OBJECT

public:
    explicit LoopSend(CommandContext &context, QObject *parent = nullptr);

    // A click on the loop-send item: starts a loop, or stops the running one.
    void clicked();
    // The port closed or was lost: a running loop ends.
    void portClosed();
    bool running() const { return m_running; }
    // The pause between two sendings, in milliseconds.
    int delay() const { return m_pause.interval(); }

private:
    void sendNext();
    void stop();

    CommandContext &m_context;
    QTimer m_pause;
    QByteArray m_message;
    bool m_running = false;
    // The pause is over but the line still holds the previous message.
    bool m_waitingForLine = false;
};
