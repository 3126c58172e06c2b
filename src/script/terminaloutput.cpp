#include "script/terminaloutput.h"

#include "core/colors.h"
#include "core/terminal.h"

using namespace Qt::StringLiterals;

void TerminalScriptOutput::sent(const QString &shown, int count)
{
    m_terminal.moveCaretToEnd();
    m_terminal.setSelReceived(false);
    m_terminal.setSelColor(TerminalColors::Typed);
    m_terminal.insertText(shown);
    m_terminal.setSelColor(TerminalColors::Count);
    m_terminal.insertText(u" : "_s + QString::number(count) + u" 字符 "_s);
    // The line is over, as after Enter, so that the answer starts on a line of its own.
    m_terminal.setSelColor(TerminalColors::Typed);
    m_terminal.insertText(u"\n"_s);
}

void TerminalScriptOutput::notice(const QString &text)
{
    appendNotice(m_terminal, text);
}
