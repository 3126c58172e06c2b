#include "commands/portcommands.h"

#include "commands/commandcontext.h"
#include "core/commport.h"
#include "core/dialogs.h"
#include "core/messages.h"
#include "core/switches.h"
#include "core/terminal.h"
#include "core/jobrunner.h"

#include <utility>

using namespace Qt::StringLiterals;

PortCommands::PortCommands(CommandContext &context, std::function<void()> closed, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_closed(std::move(closed))
    , m_reconnect(context.port)
{
    connect(&context.port, &CommPort::opened, this, &PortCommands::portOpened);
    connect(&context.port, &CommPort::openFailed, this, &PortCommands::portOpenFailed);
    connect(&context.port, &CommPort::lost, this, &PortCommands::portLost);
    connect(&context.port, &CommPort::notice, this, &PortCommands::notice);
    connect(&m_reconnect, &Reconnect::back, this, &PortCommands::portBack);
}

void PortCommands::openOrClose()
{
    // Item 1 ends a wait for a lost port, and then does what it always does.
    m_reconnect.stop();
    // The mark, not the port, says which way to go: the user sees the mark.
    const bool open = !m_context.switches.checked(Switches::OpenPort);
    const Result result = m_context.port.setPortOpen(open);
    if (!result.ok()) {
        m_context.dialogs.message(result.message(), Dialogs::Plain);
    }
    m_opening = m_context.port.portOpening();
    showPortState();
    if (!m_context.port.portOpen()) {
        m_closed();
    }
}

void PortCommands::portOpened()
{
    if (!std::exchange(m_opening, false))
        return;
    showPortState();
}

void PortCommands::portOpenFailed(const QString &message)
{
    if (!std::exchange(m_opening, false))
        return;
    showPortState();
    m_context.dialogs.message(message, Dialogs::Plain);
}

void PortCommands::showPortState()
{
    for (int item : {Switches::Dtr, Switches::Rts, Switches::SendFile, Switches::Capture}) {
        m_context.switches.setEnabled(item, m_context.port.portOpen());
    }
    // Sending a file is a long job, locked while another runs.
    if (m_context.jobs.busy()) {
        m_context.switches.setEnabled(Switches::SendFile, false);
    }
    m_context.switches.setChecked(Switches::OpenPort,
                                  m_context.port.portOpen() || m_context.port.portOpening());
}

void PortCommands::switchDtr()
{
    CommPort &port = m_context.port;
    if (!port.portOpen()) {
        m_context.dialogs.message(u"端口未打开!"_s, Dialogs::Information);
        return;
    }
    port.setDtrEnable(!port.dtrEnable());
    m_context.switches.setChecked(Switches::Dtr, port.dtrEnable());
}

void PortCommands::switchRts()
{
    CommPort &port = m_context.port;
    if (!port.portOpen()) {
        m_context.dialogs.message(u"端口未打开!"_s, Dialogs::Information);
        return;
    }
    port.setRtsEnable(!port.rtsEnable());
    m_context.switches.setChecked(Switches::Rts, port.rtsEnable());
}

void PortCommands::invert(int item)
{
    m_context.switches.setChecked(item, !m_context.switches.checked(item));
}

void PortCommands::stopWaiting()
{
    m_reconnect.stop();
}

void PortCommands::portLost(const QString &message)
{
    // Capture stays on, as when the user closes the port; it goes on after the port is back.
    showPortState();
    m_closed();
    // A line in the terminal rather than a box: nothing needs an answer, and the wait begins
    // at once.
    notice(Messages::waitingForPort(message));
    m_reconnect.start();
}

void PortCommands::portBack()
{
    showPortState();
    notice(Messages::portBack(u"COM"_s + QString::number(m_context.port.commPort())));
}

void PortCommands::notice(const QString &text)
{
    // At the end, where the line's own text arrives.
    appendNotice(m_context.box, text);
}
