#pragma once

#include "app/mainwindow.h"
#include "port/serialport.h"
#include "support/memorysettingsstore.h"
#include "support/ptypair.h"
#include "support/scripteddialogs.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

class TerminalBox;

// The real main window over a real pseudo-terminal: the port is the object users get, reached
// through a ports/COM7 link, and the test plays the far end of the line.
class MainWindowFixture : public ::testing::Test
{
protected:
    static constexpr int PortNumber = 7;

    void SetUp() override;
    void TearDown() override;

    // Builds and starts the window; tests that need other stored settings call it themselves.
    void startWindow();
    void openPort();

    TerminalBox &box();
    void click(int item);
    // Types text into the terminal as key presses (characters beyond Latin-1 included).
    void type(const QString &text);
    void pressKey(int qtKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Runs events until the condition holds or timeoutMs passes.
    bool waitFor(const std::function<bool()> &condition, int timeoutMs = 3000);
    // Lets the peer's bytes reach the terminal.
    void peerSends(const QByteArray &bytes);
    // The program's own lines in the terminal, in the notice colour, in order.
    QStringList noticeLines();
    // CPU seconds this process spends while the window's clock turns this many times: an idle
    // stretch of at least ticks - 1 seconds, measured by the window's own tick.
    double cpuSecondsOverClockTicks(int ticks);

    TempConfigHome m_config;
    PtyPair m_pty;
    MemorySettingsStore m_store;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<MainWindow> m_window;
};
