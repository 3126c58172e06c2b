#include "core/terminal.h"

#include "core/colors.h"

using namespace Qt::StringLiterals;

void Terminal::visitRuns(const RunVisitor &visit)
{
    for (const TextRun &run : runs()) {
        visit(run.text, run.color, run.received);
    }
}

void appendNotice(Terminal &terminal, const QString &text)
{
    const qsizetype length = terminal.textLength();
    const bool lineStarted = length > 0 && terminal.charAt(length - 1) != u'\n';
    terminal.appendRuns({TextRun{(lineStarted ? u"\n"_s : QString()) + text + u'\n',
                                 TerminalColors::Notice, true}});
}
