#pragma once

#include "port/reconnect.h"

#include <QObject>

#include <functional>

class QString;
struct CommandContext;

// Opening and closing the port, the DTR and RTS lines, and the two plain switches; and what
// follows when the port goes away by itself: a notice in the terminal, and a wait for it to come
// back.
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
    // Stops waiting for a lost port, as when the program ends.
    void stopWaiting();
    bool waiting() const { return m_reconnect.waiting(); }

private:
    void portOpened();
    void portOpenFailed(const QString &message);
    // The port closed itself: the menu must stop claiming it is open.
    void portLost(const QString &message);
    void portBack();
    void showPortState();
    void notice(const QString &text);

    CommandContext &m_context;
    std::function<void()> m_closed;
    Reconnect m_reconnect;
    // An opening the user asked for is under way.
    bool m_opening = false;
};
