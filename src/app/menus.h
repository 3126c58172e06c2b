#pragma once

#include "core/switches.h"
#include "core/textencoding.h"

#include <QList>
#include <QObject>

class QAction;
class QKeySequence;
class QMenu;
class QMenuBar;

// The tools, transfer, view and help menus. The check marks and enabled states of the tools items
// are the program's switches (port open, capture on, send CR, hex mode ...), so only program code
// may change them: a click reaches commandClicked with the item's index and nothing else.
class Menus : public QObject, public Switches
{
    Q_OBJECT

public:
    // The help and transfer items in menu order; separators are not items.
    enum HelpItem { Help, About, HelpCount };
    // The transfer menu, between the tools and help menus.
    enum TransferItem { XmodemSend, YmodemSend, YmodemReceive, TransferCount };

    explicit Menus(QMenuBar *menuBar, QObject *parent = nullptr);

    bool checked(int item) const override;
    void setChecked(int item, bool on) override;
    bool enabled(int item) const override;
    void setEnabled(int item, bool on) override;

    // The two top-level menus, switched off while the main window loads.
    void setToolsMenuEnabled(bool on);
    void setHelpMenuEnabled(bool on);
    bool toolsMenuEnabled() const;
    bool helpMenuEnabled() const;

    QAction *commandAction(int item) const;
    QAction *helpAction(int item) const;
    QAction *transferAction(int item) const;
    // The transfers need an open port and no other long job.
    void setTransfersEnabled(bool on);
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

Q_SIGNALS:
    void commandClicked(int index);
    void helpClicked(int index);
    void plotClicked();
    void timeStampsToggled(bool on);
    void encodingChosen(TextEncoding encoding);
    void transferClicked(int index);

private:
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
};
