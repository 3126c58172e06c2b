#pragma once

#include <QByteArray>

#include <memory>

struct CommandContext;

// Sends one message over and over, with a pause, until the item is clicked again.
//
// The check mark of the loop-send item is both the sign that a loop runs and its stop signal:
// a second click, taken in while the loop lets events run, unchecks it.
class LoopSend
{
public:
    explicit LoopSend(CommandContext &context);
    ~LoopSend();
    LoopSend(const LoopSend &) = delete;
    LoopSend &operator=(const LoopSend &) = delete;

    // A click on the loop-send item: starts a loop, or asks the running one to stop.
    void clicked();

    // The program is ending: a running loop ends after its current pass, without further
    // events.
    void stopRunning();

private:
    // Returns when the mark goes off, the port closes, or this object goes away.
    void run(const QByteArray &message, int delay);

    CommandContext &m_context;
    std::shared_ptr<bool> m_alive;
    bool m_stopping = false;
};
