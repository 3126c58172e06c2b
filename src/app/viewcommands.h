#pragma once

#include <QObject>
#include <QPointer>

class Dialogs;
class Menus;
class PlotWindow;
class ReceiveHandler;
class SettingsStore;
class QWidget;

// The view menu's commands: opens or raises the wave plot window and feeds it received text
// while it is open, and switches the time stamps of received lines, kept with the settings.
class ViewCommands : public QObject
{
    Q_OBJECT

public:
    ViewCommands(Menus &menus, ReceiveHandler &receive, SettingsStore &store, Dialogs &dialogs,
                 QWidget *mainWindow);
    ~ViewCommands() override;

    // Takes the stored time stamps choice into the menu and the receive path.
    void load();
    void showPlot();
    void setTimeStamps(bool on);
    // The open plot window, or null.
    PlotWindow *plotWindow() const;

private:
    Menus &m_menus;
    ReceiveHandler &m_receive;
    SettingsStore &m_store;
    Dialogs &m_dialogs;
    QWidget *m_mainWindow;
    QPointer<PlotWindow> m_plot;
};
