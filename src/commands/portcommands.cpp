#include "commands/portcommands.h"

#include "app/menus.h"
#include "commands/commandcontext.h"
#include "platform/commport.h"
#include "platform/dialogs.h"

using namespace Qt::StringLiterals;

PortCommands::PortCommands(CommandContext &context)
    : m_context(context)
{}

void PortCommands::openOrClose()
{
    // The mark, not the port, says which way to go: the user sees the mark.
    const bool open = !m_context.menus.checked(Menus::OpenPort);
    const Result result = m_context.port.setPortOpen(open);
    if (!result.ok()) {
        m_context.dialogs.message(result.message(), Dialogs::OkOnly);
    }
    showPortState();
}

void PortCommands::showPortState()
{
    for (int item : {Menus::Dtr, Menus::Rts, Menus::SendFile, Menus::Capture}) {
        m_context.menus.setEnabled(item, m_context.port.portOpen());
    }
    m_context.menus.setChecked(Menus::OpenPort, m_context.port.portOpen());
}

void PortCommands::switchDtr()
{
    CommPort &port = m_context.port;
    if (!port.portOpen()) {
        m_context.dialogs.message(u"端口未打开!"_s, Dialogs::Information);
        return;
    }
    port.setDtrEnable(!port.dtrEnable());
    m_context.menus.setChecked(Menus::Dtr, port.dtrEnable());
}

void PortCommands::switchRts()
{
    CommPort &port = m_context.port;
    if (!port.portOpen()) {
        m_context.dialogs.message(u"端口未打开!"_s, Dialogs::Information);
        return;
    }
    port.setRtsEnable(!port.rtsEnable());
    m_context.menus.setChecked(Menus::Rts, port.rtsEnable());
}

void PortCommands::invert(int item)
{
    m_context.menus.setChecked(item, !m_context.menus.checked(item));
}

void PortCommands::portLost(const QString &message)
{
    // Capture stays on, as when the user closes the port; it goes on after a reopen.
    showPortState();
    m_context.dialogs.message(message, Dialogs::Exclamation);
}
