#pragma once

#include <functional>

class QString;
struct CommandContext;

// Opening and closing the port, the DTR and RTS lines, and the two plain switches.
class PortCommands
{
public:
    // closed is called whenever the port has just closed, by the user or by a loss.
    PortCommands(CommandContext &context, std::function<void()> closed);

    void openOrClose();
    void switchDtr();
    void switchRts();
    // Inverts an item's check mark; its readers see the change at their next look.
    void invert(int item);
    // The port closed itself: the menu must stop claiming it is open.
    void portLost(const QString &message);

private:
    void showPortState();

    CommandContext &m_context;
    std::function<void()> m_closed;
};
