#include "commands/commanddispatcher.h"

#include "app/menus.h"
#include "commands/commandcontext.h"
#include "commands/filetransfer.h"
#include "commands/loopsend.h"
#include "commands/portcommands.h"
#include "commands/workspace.h"

CommandDispatcher::CommandDispatcher(CommandContext &context)
    : m_context(context)
    , m_port(std::make_unique<PortCommands>(context))
    , m_files(std::make_unique<FileTransfer>(context))
    , m_loop(std::make_unique<LoopSend>(context))
    , m_workspace(std::make_unique<Workspace>(context))
{}

CommandDispatcher::~CommandDispatcher() = default;

void CommandDispatcher::MyCommand_Click(int index)
{
    switch (index) {
    case Menus::Settings:
        m_context.main.showSettings();
        break;
    case Menus::OpenPort:
        m_port->openOrClose();
        break;
    case Menus::Dtr:
        m_port->switchDtr();
        break;
    case Menus::Rts:
        m_port->switchRts();
        break;
    case Menus::SendFile:
        m_files->sendFile();
        break;
    case Menus::Capture:
        m_files->captureToFile();
        break;
    case Menus::SendCr:
    case Menus::HexMode:
        m_port->invert(index);
        break;
    case Menus::LoopSend:
        m_loop->clicked();
        break;
    case Menus::LoadWorkspace:
        m_workspace->load();
        break;
    case Menus::SaveWorkspace:
        m_workspace->save();
        break;
    case Menus::ClearWorkspace:
        m_workspace->clear();
        break;
    case Menus::HexView:
        m_files->openFileAsHex();
        break;
    case Menus::Exit:
        m_context.main.exitProgram();
        break;
    default:
        // Separators and unknown indexes do nothing.
        break;
    }
}

void CommandDispatcher::stopRunning()
{
    m_files->stopRunning();
    m_loop->stopRunning();
}
