#pragma once

#include "script/scriptjob.h"

class Terminal;

// A script's words in the window's terminal: what it sends reads like a typed line (the typed
// colour and the count of characters), print() and the checks like the program's notices. The
// notices of one stretch of the script go in together, so a script that prints a million lines
// costs the terminal a few appends, not a million.
class TerminalScriptOutput : public ScriptOutput
{
public:
    explicit TerminalScriptOutput(Terminal &terminal)
        : m_terminal(terminal)
    {}

    void sent(const QString &shown, int count) override;
    void notice(const QString &text) override;
    void flush() override;

private:
    Terminal &m_terminal;
    QString m_pending;
};
