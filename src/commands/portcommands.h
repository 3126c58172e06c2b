#pragma once

class QString;
struct CommandContext;

// Opening and closing the port, the DTR and RTS lines, and the two plain switches.
class PortCommands
{
public:
    explicit PortCommands(CommandContext &context);

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
};
