#include "commands/commanddispatcher.h"

#include "commands/commandcontext.h"
#include "commands/filetransfer.h"
#include "commands/loopsend.h"
#include "commands/modemjobs.h"
#include "commands/portcommands.h"
#include "commands/workspace.h"
#include "core/commport.h"
#include "core/jobrunner.h"
#include "core/switches.h"

CommandDispatcher::CommandDispatcher(CommandContext &context)
    : m_context(context)
    , m_port(std::make_unique<PortCommands>(context, [this] { portClosed(); }))
    , m_files(std::make_unique<FileTransfer>(context))
    , m_loop(std::make_unique<LoopSend>(context))
    , m_workspace(std::make_unique<Workspace>(context))
{}

CommandDispatcher::~CommandDispatcher() = default;

void CommandDispatcher::runCommand(int index)
{
    switch (index) {
    case Switches::Settings:
        m_context.main.showSettings();
        break;
    case Switches::OpenPort:
        m_port->openOrClose();
        break;
    case Switches::Dtr:
        m_port->switchDtr();
        break;
    case Switches::Rts:
        m_port->switchRts();
        break;
    case Switches::SendFile:
        m_files->sendFile();
        break;
    case Switches::Capture:
        m_files->captureToFile();
        break;
    case Switches::SendCr:
    case Switches::HexMode:
        m_port->invert(index);
        break;
    case Switches::LoopSend:
        m_loop->clicked();
        break;
    case Switches::LoadWorkspace:
        m_workspace->load();
        break;
    case Switches::SaveWorkspace:
        m_workspace->save();
        break;
    case Switches::ClearWorkspace:
        m_workspace->clear();
        break;
    case Switches::HexView:
        m_files->openFileAsHex();
        break;
    case Switches::Exit:
        m_context.main.exitProgram();
        break;
    default:
        // Separators and unknown indexes do nothing.
        break;
    }
}

void CommandDispatcher::startTransfer(Transfer transfer)
{
    // The menu is locked as well; a shortcut or a queued click may still arrive.
    if (m_context.jobs.busy() || !m_context.port.portOpen() || !m_context.line
        || m_context.switches.checked(Switches::LoopSend))
        return;
    if (transfer == Transfer::YmodemReceive) {
        m_transfer = std::make_unique<ModemReceiveJob>(m_context);
    } else {
        m_transfer = std::make_unique<ModemSendJob>(
                m_context, transfer == Transfer::XmodemSend ? ModemSender::Protocol::Xmodem
                                                            : ModemSender::Protocol::Ymodem);
    }
    m_context.jobs.run(m_transfer.get());
}

void CommandDispatcher::portClosed()
{
    m_context.jobs.portClosed();
}
