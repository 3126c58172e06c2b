#pragma once

#include "core/textencoding.h"

#include <QObject>
#include <QPointer>

class Dialogs;
class Menus;
class PlotWindow;
class ReceiveHandler;
class SettingsStore;
class QWidget;

// The view menu's commands: opens or raises the wave plot window and feeds it received text
// while it is open, and switches the time stamps of received lines and the encoding of the line,
// both kept with the settings.
class ViewCommands : public QObject
{
    Q_OBJECT

public:
    ViewCommands(Menus &menus, ReceiveHandler &receive, SettingsStore &store, Dialogs &dialogs,
                 QWidget *mainWindow);
    ~ViewCommands() override;

    // Takes the stored time stamps and encoding choices into the menu and the receive path.
    void load();
    void showPlot();
    void setTimeStamps(bool on);
    // Switches the encoding of the line and keeps the choice with the settings.
    void setEncoding(TextEncoding encoding);
    TextEncoding encoding() const { return m_encoding; }
    // The open plot window, or null.
    PlotWindow *plotWindow() const;

Q_SIGNALS:
    // The receive path follows at once; the rest of the window listens here.
    void encodingChanged(TextEncoding encoding);

private:
    Menus &m_menus;
    ReceiveHandler &m_receive;
    SettingsStore &m_store;
    Dialogs &m_dialogs;
    QWidget *m_mainWindow;
    QPointer<PlotWindow> m_plot;
    TextEncoding m_encoding = TextEncoding::Gbk;
};
