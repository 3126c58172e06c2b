#pragma once

#include "receive/capturefile.h"
#include "commands/commandcontext.h"
#include "receive/lineowner.h"
#include "core/programstate.h"

#include <QMainWindow>

#include <memory>

class CommandDispatcher;
class CommPort;
class Dialogs;
class HelpMenu;
class JobPanel;
class JobRunner;
class Menus;
class PanelDock;
class ProgressBar;
class QMdiArea;
class QMdiSubWindow;
class ReceiveHandler;
class ScriptMenu;
class SettingsStore;
class StatusStrip;
class TerminalWindow;
class ViewCommands;

// The main window: owns the port, the menus, the status strip, the progress bar and the
// terminal child window, and wires the commands to them.
class MainWindow : public QMainWindow, public MainActions
{
    Q_OBJECT

public:
    // The most the terminal holds; the oldest whole lines go first.
    static constexpr qsizetype MaxTerminalCharacters = 32'000'000;

    MainWindow(CommPort &port, SettingsStore &store, Dialogs &dialogs, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Loads both windows in their order and shows them.
    void start();
    // Configures the still closed port from the stored settings and brings the menu in line.
    void applyStoredSettings();
    void showPortSwitches();
    void runCommand(int index);

    void showSettings() override;
    void exitProgram() override;
    void clearOrStop() override;

    Menus &menus() { return *m_menus; }
    ProgramState &state() { return m_state; }
    TerminalWindow &terminal() { return *m_terminal; }
    StatusStrip &statusStrip() { return *m_strip; }
    ProgressBar &progressBar() { return *m_progress; }
    CaptureFile &captureFile() { return m_capture; }
    JobRunner &jobs() { return *m_jobs; }
    // A lost port is being waited for.
    bool waitingForPort() const;
    ViewCommands &viewCommands() { return *m_view; }
    PanelDock &panelDock() { return *m_panelDock; }
    ScriptMenu &scripts() { return *m_scripts; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Closes what is open, so the device and the capture file are left clean.
    void shutDown();

    CommPort &m_port;
    SettingsStore &m_store;
    Dialogs &m_dialogs;

    // What is true now; the menus show it, the commands ask it.
    ProgramState m_state;
    Menus *m_menus = nullptr;
    QMdiArea *m_mdiArea = nullptr;
    QMdiSubWindow *m_terminalFrame = nullptr;
    TerminalWindow *m_terminal = nullptr;
    ProgressBar *m_progress = nullptr;
    StatusStrip *m_strip = nullptr;
    CaptureFile m_capture;
    // Hands each chunk to the capture and then to the terminal or the job that claimed the line.
    // Outlives the commands, whose transfers hold it.
    LineOwner m_line{m_port, m_state, m_capture};

    std::unique_ptr<JobPanel> m_jobPanel;
    std::unique_ptr<CommandContext> m_context;
    std::unique_ptr<CommandDispatcher> m_dispatcher;
    // Goes after the runner and before the line its script watches.
    std::unique_ptr<ScriptMenu> m_scripts;
    // Declared after the commands, so it goes first: a job that ends with them finds no runner
    // left to show its end on a window that is going away.
    std::unique_ptr<JobRunner> m_jobs;
    std::unique_ptr<HelpMenu> m_help;
    ReceiveHandler *m_receive = nullptr;
    ViewCommands *m_view = nullptr;
    // Declared last, so it goes before the commands and jobs it uses.
    std::unique_ptr<PanelDock> m_panelDock;
};
