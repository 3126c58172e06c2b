#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The command line, read before the window system is touched, so that --help and --version
// answer on a machine without a display and a mistyped option ends the program at once.
struct CommandLine
{
    // Absolute path of the settings file given with --settings; empty for the default one.
    QString settingsFile;
    // "COMn" given with --port, as the settings dialog lists it; empty when not given.
    QString port;
    bool open = false;
    // --script FILE: run it without a window; --junit REPORT.xml; the arguments after "--".
    QString scriptFile;
    QString junitFile;
    QStringList scriptArguments;
};

// What to run with, or the exit status when the program must end now: 0 after help or version
// was printed on standard output, 2 after a refusal printed on standard error.
struct ParsedCommandLine
{
    std::optional<CommandLine> run;
    int exitStatus = 0;
};

// argv as main receives it. Creates and destroys a QCoreApplication of its own, so it must run
// before the program's application object exists.
ParsedCommandLine parseCommandLine(int argc, char *argv[]);
