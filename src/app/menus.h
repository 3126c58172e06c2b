#pragma once

#include "core/switches.h"
#include "core/textencoding.h"

class ProgramState;

#include <QList>
#include <QObject>

class QAction;
class QKeySequence;
class QMenu;
class QMenuBar;

// The tools, transfer, view and help menus. The check marks and enabled states of the tools items
// and the transfers show the program's state (port open, capture on, send CR, hex mode ...), so
// only that state changes them: a click reaches commandClicked with the item's index and nothing
// else.
class Menus : public QObject
{
    Q_OBJECT

public:
    // The help and transfer items in menu order; separators are not items.
    enum HelpItem { Help, About, HelpCount };
    // The transfer menu, between the tools and help menus.
    enum TransferItem {
        XmodemSend,
        YmodemSend,
        YmodemReceive,
        ZmodemReceive,
        ZmodemSend,
        ZmodemAuto,
        TransferCount
    };

    explicit Menus(QMenuBar *menuBar, QObject *parent = nullptr);

    // The tools items, numbered as Switches numbers them.
    using enum Switches::Item;

    // Shows the state now and whenever it changes.
    void follow(const ProgramState &state);
    void showState(const ProgramState &state);
    // What the items show.
    bool checked(int item) const;
    bool enabled(int item) const;

    // The two top-level menus, switched off while the main window loads.
    void setToolsMenuEnabled(bool on);
    void setHelpMenuEnabled(bool on);
    bool toolsMenuEnabled() const;
    bool helpMenuEnabled() const;

    QAction *commandAction(int item) const;
    QAction *helpAction(int item) const;
    QAction *transferAction(int item) const;
    // Every shortcut of the tools menu; the terminal box must not swallow them.
    QList<QKeySequence> shortcuts() const;

    // The view menu: the wave plot window, and the time before each received line. Neither is
    // one of the program's switches, so the time stamps item keeps its own mark.
    QAction *plotAction() const { return m_plotItem; }
    QAction *timeStampsAction() const { return m_timeStampsItem; }
    // The view menu's "编码" submenu: one item per encoding, one of them checked.
    QAction *encodingAction(TextEncoding encoding) const;
    // Checks the item without reporting a choice.
    void showEncoding(TextEncoding encoding);
    // Shows or hides the send panel; checked while it is shown.
    QAction *panelAction() const { return m_panelItem; }

Q_SIGNALS:
    void commandClicked(int index);
    void helpClicked(int index);
    void plotClicked();
    void timeStampsToggled(bool on);
    void encodingChosen(TextEncoding encoding);
    void transferClicked(int index);
    void zmodemAutoToggled(bool on);

private:
    // Enables the transfer items, all but the automatic start.
    void setTransfersEnabled(bool on);
    void onCommandTriggered(int index);
    void addViewMenu(QMenuBar *menuBar);

    QMenu *m_toolsMenu = nullptr;
    QMenu *m_helpMenu = nullptr;
    QMenu *m_transfer = nullptr;
    QList<QAction *> m_transferItems;
    QList<QAction *> m_toolsItems;
    QList<QAction *> m_helpItems;
    QMenu *m_view = nullptr;
    QAction *m_plotItem = nullptr;
    QAction *m_timeStampsItem = nullptr;
    QAction *m_gbkItem = nullptr;
    QAction *m_utf8Item = nullptr;
    QAction *m_panelItem = nullptr;
};
