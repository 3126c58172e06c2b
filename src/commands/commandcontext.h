#pragma once

#include "core/textencoding.h"

#include <QtGlobal>

class CaptureFile;
class CommPort;
class Dialogs;
class JobRunner;
class LineClaim;
class SettingsStore;
class Switches;
class Terminal;

// What the main window does for the commands: the dialog it owns, its end, its clear button.
class MainActions
{
public:
    virtual ~MainActions() = default;
    virtual void showSettings() = 0;
    virtual void exitProgram() = 0;
    virtual void clearOrStop() = 0;
};

// Everything a tools command may touch, handed over by the main window that owns it.
struct CommandContext
{
    CommPort &port;
    Switches &switches;
    Dialogs &dialogs;
    SettingsStore &store;
    Terminal &box;
    CaptureFile &capture;
    // Runs the long jobs one at a time.
    JobRunner &jobs;
    MainActions &main;
    // The most characters the terminal keeps (0: no bound); a loaded workspace is cut to it.
    qsizetype terminalCharacters = 0;
    // Who takes received bytes from the terminal while a transfer runs; without one (tests of
    // other commands) the transfers cannot start.
    LineClaim *line = nullptr;
    // What typed text becomes on the line; the view menu changes it.
    TextEncoding encoding = TextEncoding::Gbk;
};
