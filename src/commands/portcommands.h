#pragma once

#include <QObject>

#include <functional>

class QString;
struct CommandContext;

// Opening and closing the port, the DTR and RTS lines, and the two plain switches.
//
// Item 1's mark follows the user's wish: it goes on when an opening starts, and comes off again
// if that opening fails. Items 2 to 5 are enabled only while the port is open.
class PortCommands : public QObject
{
    Q_OBJECT

public:
    // closed is called whenever the port has just closed, by the user or by a loss.
    PortCommands(CommandContext &context, std::function<void()> closed, QObject *parent = nullptr);

    void openOrClose();
    void switchDtr();
    void switchRts();
    // Inverts an item's check mark; its readers see the change at their next look.
    void invert(int item);
    // The port closed itself: the menu must stop claiming it is open.
    void portLost(const QString &message);

private:
    void portOpened();
    void portOpenFailed(const QString &message);
    void showPortState();

    CommandContext &m_context;
    std::function<void()> m_closed;
    // An opening the user asked for is under way.
    bool m_opening = false;
};
