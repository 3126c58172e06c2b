#pragma once

#include <QtGlobal>

#include <optional>

class CaptureFile;
class CommPort;
class Dialogs;
class Switches;
class ProgressBar;
class SettingsStore;
class StatusStrip;
class TerminalBox;

// What the main window does for the commands: the dialog it owns, its end, its clear button.
class MainActions
{
public:
    virtual ~MainActions() = default;
    virtual void showSettings() = 0;
    virtual void exitProgram() = 0;
    virtual void Command1_Click() = 0;
};

// Everything a tools command may touch, handed over by the main window that owns it.
struct CommandContext
{
    CommPort &port;
    Switches &switches;
    Dialogs &dialogs;
    SettingsStore &store;
    TerminalBox &box;
    CaptureFile &capture;
    ProgressBar &bar;
    StatusStrip &strip;
    // The request to stop a running view or send: empty until one first runs, 1 = stop.
    std::optional<int> &stopFlag;
    MainActions &main;
    // The most characters the terminal keeps (0: no bound); a loaded workspace is cut to it.
    qsizetype terminalCharacters = 0;
};
