#pragma once

#include "app/menus.h"
#include "widgets/progressbar.h"
#include "receive/capturefile.h"
#include "commands/commandcontext.h"
#include "core/jobrunner.h"
#include "widgets/jobpanel.h"
#include "port/serialport.h"
#include "widgets/terminalbox.h"
#include "widgets/statusstrip.h"
#include "support/memorysettingsstore.h"
#include "support/ptypair.h"
#include "support/qtprinters.h"
#include "support/scripteddialogs.h"
#include "support/testapp.h"

#include <QByteArray>
#include <QMenuBar>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

// The main window's own actions as the commands see them; the clear button does what the real
// one does, so a test can stop a hexadecimal view the way a user would.
class TestMainActions : public MainActions
{
public:
    TestMainActions(TerminalBox &box, JobRunner &jobs);

    void showSettings() override { ++settingsShown; }
    void exitProgram() override { ++exitRequests; }
    void clearOrStop() override;

    int settingsShown = 0;
    int exitRequests = 0;

private:
    TerminalBox &m_box;
    JobRunner &m_jobs;
};

// Everything a tools command is handed, without the main window: the real serial port over a
// pseudo-terminal (through a ports/COMn link), the real menus, terminal box, bar and strip, and
// dialogs answered from a script. The test plays the far end of the line.
class CommandFixture : public ::testing::Test
{
protected:
    static constexpr int PortNumber = 9;

    void SetUp() override;

    // Opens or closes the port as tools item 1 does, menu states included.
    void openPort();
    void closePort();
    // Writes a file in the test's own folder and gives its path.
    QString writeFile(const QString &name, const QByteArray &bytes);
    // A path in the test's folder where nothing exists.
    QString missingPath() const;
    // Runs events until the condition holds or timeoutMs passes.
    bool waitForCondition(const std::function<bool()> &condition, int timeoutMs = 3000);

    // Widgets need the application before any member is built.
    QApplication &m_app = ensureApp();
    TempConfigHome m_config;
    PtyPair m_pty;
    QTemporaryDir m_dir;
    MemorySettingsStore m_store;
    ScriptedDialogs m_dialogs;
    SerialPort m_port;
    QMenuBar m_menuBar;
    Menus m_menus{&m_menuBar};
    TerminalBox m_box;
    CaptureFile m_capture;
    ProgressBar m_bar;
    StatusStrip m_strip{m_port, m_store};
    // The window's own view of the jobs, on the widgets above.
    JobPanel m_jobPanel{m_menus, m_strip, m_bar, m_box, m_dialogs, m_port};
    JobRunner m_jobs{m_jobPanel};
    TestMainActions m_main{m_box, m_jobs};
    CommandContext m_context{m_port, m_menus, m_dialogs, m_store, m_box, m_capture, m_jobs, m_main};
};
