#include "app/mainwindow.h"

#include "app/appicon.h"
#include "app/menus.h"
#include "app/paneldock.h"
#include "app/scriptmenu.h"
#include "app/viewcommands.h"
#include "commands/commanddispatcher.h"
#include "commands/portcommands.h"
#include "core/appinfo.h"
#include "core/commport.h"
#include "core/jobrunner.h"
#include "core/messages.h"
#include "core/dialogs.h"
#include "core/settingsstore.h"
#include "core/portsettings.h"
#include "widgets/settingsdialog.h"
#include "widgets/helpmenu.h"
#include "widgets/jobpanel.h"
#include "widgets/progressbar.h"
#include "widgets/statusstrip.h"
#include "widgets/receivehandler.h"
#include "widgets/terminalwindow.h"

#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QWindowStateChangeEvent>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

// Gives the main window its normal size again, centred with its title bar on screen, when the
// user restores it from maximized. It was laid over the whole screen before being maximized,
// and a window manager restores the size a window had then.
class NormalSizeOnRestore : public QObject
{
public:
    NormalSizeOnRestore(QSize normalSize, QObject *parent)
        : QObject(parent)
        , m_normalSize(normalSize)
    {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::WindowStateChange)
            return false;
        auto *window = static_cast<QWidget *>(watched);
        const auto *change = static_cast<QWindowStateChangeEvent *>(event);
        if (!(change->oldState() & Qt::WindowMaximized)
            || window->windowState() != Qt::WindowNoState || !window->screen())
            return false;
        const QSize decoration = window->frameGeometry().size() - window->geometry().size();
        QRect frame(QPoint(), m_normalSize + decoration);
        frame.moveCenter(window->screen()->availableGeometry().center());
        window->resize(m_normalSize);
        window->move(frame.topLeft());
        return false;
    }

private:
    QSize m_normalSize;
};

} // namespace

MainWindow::MainWindow(CommPort &port, SettingsStore &store, Dialogs &dialogs, QWidget *parent)
    : QMainWindow(parent)
    , m_port(port)
    , m_store(store)
    , m_dialogs(dialogs)
{
    setObjectName(u"MainWindow"_s);
    setWindowTitle(AppInfo::mainCaption());
    setProperty(HelpMenu::sectionProperty(), u"主窗口"_s);
    setWindowIcon(AppIcon::icon());
    // The normal client area.
    resize(479, 382);

    m_menus = new Menus(menuBar(), this);

    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_mdiArea = new QMdiArea(central);
    m_mdiArea->setBackground(QColor(64, 64, 64));
    m_progress = new ProgressBar(central);
    m_strip = new StatusStrip(m_port, m_store, central);
    layout->addWidget(m_mdiArea, 1);
    layout->addWidget(m_progress);
    layout->addWidget(m_strip);
    setCentralWidget(central);

    m_terminal = new TerminalWindow(m_port, m_state);
    m_terminal->setWindowIcon(AppIcon::icon());
    // The program expects its one terminal for the whole run, so it has no close button.
    m_terminalFrame = m_mdiArea->addSubWindow(m_terminal, Qt::SubWindow | Qt::CustomizeWindowHint
                                                                  | Qt::WindowTitleHint
                                                                  | Qt::WindowMinMaxButtonsHint);
    m_terminal->box().setReservedShortcuts(m_menus->shortcuts());
    // A long session at full line rate would otherwise run out of memory; the capture file,
    // not the screen, is the lossless record.
    m_terminal->box().setMaxCharacters(MaxTerminalCharacters);

    m_jobPanel = std::make_unique<JobPanel>(*m_strip, *m_progress, m_terminal->box(), m_dialogs);
    m_jobs = std::make_unique<JobRunner>(*m_jobPanel);
    m_terminal->setTypedLineRefusal([this] {
        const LongJob *job = m_jobs->current();
        return job && job->holdsLine() ? Messages::typedLineRefused() : QString();
    });
    m_state.followJobs(*m_jobs);
    m_menus->follow(m_state);
    m_context = std::unique_ptr<CommandContext>(
            new CommandContext{m_port, m_state, m_dialogs, m_store, m_terminal->box(), m_capture,
                               *m_jobs, *this, MaxTerminalCharacters, &m_line});
    m_dispatcher = std::make_unique<CommandDispatcher>(*m_context);
    m_help = std::make_unique<HelpMenu>(m_dialogs, this);
    m_receive = new ReceiveHandler(m_line, m_terminal->box(), m_state, m_dialogs, this);
    m_view = new ViewCommands(*m_menus, *m_receive, m_store, m_dialogs, this);
    connect(m_view, &ViewCommands::encodingChanged, this, [this](TextEncoding encoding) {
        m_context->encoding = encoding;
        m_terminal->setEncoding(encoding);
        m_strip->setEncodingName(TextEncodings::name(encoding));
    });
    m_panelDock = std::make_unique<PanelDock>(*this, *m_menus, *m_context, *m_terminal);
    m_scripts = std::make_unique<ScriptMenu>(menuBar(), *m_context);

    connect(m_menus, &Menus::commandClicked, this, &MainWindow::runCommand);
    connect(m_menus, &Menus::helpClicked, this, [this](int index) {
        if (index == Menus::Help)
            m_help->showUserGuide();
        else
            m_help->showAbout();
    });
    connect(m_strip, &StatusStrip::buttonClicked, this, &MainWindow::clearOrStop);

    connect(m_menus, &Menus::transferClicked, this, [this](int index) {
        using Transfer = CommandDispatcher::Transfer;
        const Transfer transfer = index == Menus::XmodemSend      ? Transfer::XmodemSend
                                  : index == Menus::YmodemSend    ? Transfer::YmodemSend
                                  : index == Menus::ZmodemReceive ? Transfer::ZmodemReceive
                                  : index == Menus::ZmodemSend    ? Transfer::ZmodemSend
                                                                  : Transfer::YmodemReceive;
        m_dispatcher->startTransfer(transfer);
    });
    m_menus->transferAction(Menus::ZmodemAuto)->setChecked(m_dispatcher->zmodemAuto());
    connect(m_menus, &Menus::zmodemAutoToggled, this,
            [this](bool on) { m_dispatcher->setZmodemAuto(on); });
}

MainWindow::~MainWindow()
{
    shutDown();
}

void MainWindow::applyStoredSettings()
{
    m_menus->setToolsMenuEnabled(false);
    m_menus->setHelpMenuEnabled(false);

    const PortSettings settings = PortSettings::load(m_store);
    // The port number goes first and on its own: a refused line setting must never leave the
    // port pointing at another device than the status strip names. After that, the first value
    // the port refuses is reported and the rest is skipped, so the user can correct the settings
    // in the dialog and restart.
    const Expected<int> number = portNumber(settings.comport);
    Result applied = number.ok() ? m_port.setCommPort(*number) : Result::failure(number.message());
    if (applied.ok()) {
        applied = m_port.setSettings(lineSettingsText(settings));
    }
    if (applied.ok()) {
        if (const std::optional<int> code = handshakingCode(settings.flow)) {
            applied = m_port.setHandshaking(*code);
        }
    }
    if (!applied.ok()) {
        m_dialogs.message(applied.message(), Dialogs::Warning);
    }

    showPortSwitches();
    m_view->load();
    m_panelDock->load();
    m_menus->setToolsMenuEnabled(true);
    m_menus->setHelpMenuEnabled(true);
}

void MainWindow::start()
{
    // Creating the terminal window loads the main window first, then the terminal; then both
    // are shown.
    applyStoredSettings();
    m_terminal->setTextMargin();
    // Without a window manager (a bare X server) maximizing does nothing; fill the screen
    // ourselves so the window opens at the size a maximized window would have.
    installEventFilter(new NormalSizeOnRestore(size(), this));
    if (const QScreen *screen = this->screen()) {
        setGeometry(screen->availableGeometry());
    }
    showMaximized();
    m_terminalFrame->showMaximized();
    m_terminal->box().setFocus();
}

void MainWindow::showPortSwitches()
{
    m_state.setPort(m_port.portOpen() ? ProgramState::Port::Open : ProgramState::Port::Closed);
    m_state.setChecked(Switches::Dtr, m_port.dtrEnable());
    m_state.setChecked(Switches::Rts, m_port.rtsEnable());
}

bool MainWindow::waitingForPort() const
{
    return m_state.port() == ProgramState::Port::WaitingToReopen;
}

void MainWindow::runCommand(int index)
{
    m_dispatcher->runCommand(index);
}

void MainWindow::showSettings()
{
    SettingsDialog dialog(m_store, m_dialogs, this);
    // The strip names the stored port, not the one in use: it shows the choice at once.
    connect(&dialog, &SettingsDialog::stored, m_strip, &StatusStrip::redraw);
    dialog.exec();
}

void MainWindow::exitProgram()
{
    close();
}

void MainWindow::clearOrStop()
{
    // "停止" stops the running job; "清除", also beside a loop send, empties the terminal.
    if (m_jobs->stoppable()) {
        m_jobs->stopRequested();
    } else {
        m_terminal->box().clearText();
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    shutDown();
    QMainWindow::closeEvent(event);
}

void MainWindow::shutDown()
{
    m_dispatcher->portCommands().stopWaiting();
    m_capture.close();
    if (m_port.portOpen() || m_port.portOpening()) {
        // The window is going away, so there is nobody left to show a message to.
        if (const Result closed = m_port.setPortOpen(false); !closed.ok()) {
            qWarning("%s", qPrintable(closed.message()));
        }
    }
}
