#include "app/viewcommands.h"

#include "app/menus.h"
#include "core/dialogs.h"
#include "core/settingkeys.h"
#include "core/settingsstore.h"
#include "plot/plotwindow.h"
#include "widgets/receivehandler.h"

#include <QAction>

using namespace Qt::StringLiterals;

ViewCommands::ViewCommands(Menus &menus, ReceiveHandler &receive, SettingsStore &store,
                           Dialogs &dialogs, QWidget *mainWindow)
    : QObject(mainWindow)
    , m_menus(menus)
    , m_receive(receive)
    , m_store(store)
    , m_dialogs(dialogs)
    , m_mainWindow(mainWindow)
{
    connect(&m_menus, &Menus::plotClicked, this, &ViewCommands::showPlot);
    connect(&m_menus, &Menus::timeStampsToggled, this, &ViewCommands::setTimeStamps);
    connect(&m_menus, &Menus::encodingChosen, this, &ViewCommands::setEncoding);
}

ViewCommands::~ViewCommands() = default;

PlotWindow *ViewCommands::plotWindow() const
{
    return m_plot;
}

void ViewCommands::load()
{
    const bool on
            = m_store.read(SettingKeys::timeStamps(), SettingKeys::defaultTimeStamps()) == u"1"_s;
    const QSignalBlocker block(m_menus.timeStampsAction());
    m_menus.timeStampsAction()->setChecked(on);
    m_receive.setTimeStamps(on);

    m_encoding = TextEncodings::fromName(
            m_store.read(SettingKeys::encoding(), SettingKeys::defaultEncoding()));
    m_menus.showEncoding(m_encoding);
    m_receive.setEncoding(m_encoding);
    Q_EMIT encodingChanged(m_encoding);
}

void ViewCommands::showPlot()
{
    if (!m_plot) {
        // A window of its own beside the main window, so it can sit on another screen; it is
        // deleted when closed, and with it the feed, so a closed plot costs nothing.
        m_plot = new PlotWindow(m_dialogs, m_mainWindow);
        // The main window takes its children down in the order they came, the receive handler
        // before the plot, so neither may count on the other outliving it.
        const QPointer<PlotWindow> plot = m_plot;
        m_receive.setTextTap([plot](const QString &text) {
            if (plot)
                plot->feedText(text);
        });
        ReceiveHandler *receive = &m_receive;
        connect(m_plot, &QObject::destroyed, receive, [receive] { receive->setTextTap({}); });
    }
    m_plot->show();
    m_plot->raise();
    m_plot->activateWindow();
}

void ViewCommands::setTimeStamps(bool on)
{
    m_receive.setTimeStamps(on);
    if (m_menus.timeStampsAction()->isChecked() != on) {
        const QSignalBlocker block(m_menus.timeStampsAction());
        m_menus.timeStampsAction()->setChecked(on);
    }
    m_store.save(SettingKeys::timeStamps(), on ? u"1"_s : u"0"_s);
    const QString error = m_store.saveError();
    if (!error.isEmpty())
        m_dialogs.message(error, Dialogs::Warning);
}

void ViewCommands::setEncoding(TextEncoding encoding)
{
    m_encoding = encoding;
    m_menus.showEncoding(encoding);
    m_receive.setEncoding(encoding);
    Q_EMIT encodingChanged(encoding);
    m_store.save(SettingKeys::encoding(), TextEncodings::name(encoding));
    const QString error = m_store.saveError();
    if (!error.isEmpty())
        m_dialogs.message(error, Dialogs::Warning);
}
