#pragma once

struct CommandContext;

// Sends one message over and over, with a pause, until the item is clicked again.
class LoopSend
{
public:
    explicit LoopSend(CommandContext &context);

    // A click on the loop-send item: starts a loop, or asks the running one to stop.
    void clicked();

private:
    CommandContext &m_context;
};
