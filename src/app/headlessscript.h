#pragma once

struct CommandLine;

// "--script FILE": the script runs over the port and the receive pipeline without a window or a
// display. What arrives goes to standard output, the script's notices and its result too; the
// exit status is 0 when every check passed, 1 when one failed, 2 for a script error, a port that
// would not open or a lost port, 128 plus the signal for Ctrl+C and SIGTERM.
int runHeadlessScript(int argc, char *argv[], const CommandLine &line);
