#pragma once

#include <QString>

class QProcess;

// Starts an emulator (its program and arguments already set) whose serial line is a
// pseudo-terminal that it names on its output, and holds that line open and raw from then on:
// QEMU throws away what the guest prints while no one has the line open, so without the hold the
// first messages would be lost before the program opens its port, and a cooked line would echo
// the guest's own output back to it as typed keys. On success ptyPath names the line and hold is
// the descriptor the caller closes; otherwise error says why.
bool startEmulatorOnPty(QProcess &emulator, int timeoutMs, QString &ptyPath, int &hold,
                        QString &error);
