#include "script/terminaloutput.h"

#include "core/colors.h"
#include "core/terminal.h"

using namespace Qt::StringLiterals;

namespace {

// Pending notices beyond this go in at once, so a slice's output stays small in memory.
constexpr qsizetype PendingLimit = 64 * 1024;

} // namespace

void TerminalScriptOutput::sent(const QString &shown, int count)
{
    flush();
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
    if (!m_pending.isEmpty())
        m_pending += u'\n';
    m_pending += text;
    if (m_pending.size() > PendingLimit)
        flush();
}

void TerminalScriptOutput::flush()
{
    if (m_pending.isEmpty())
        return;
    appendNotice(m_terminal, m_pending);
    m_pending.clear();
}
