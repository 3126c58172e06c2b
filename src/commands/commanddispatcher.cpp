#include "commands/commanddispatcher.h"

#include "commands/commandcontext.h"
#include "commands/filetransfer.h"
#include "commands/loopsend.h"
#include "commands/modemjobs.h"
#include "commands/portcommands.h"
#include "commands/workspace.h"
#include "commands/zmodemjobs.h"
#include "commands/zmodemwatch.h"
#include "core/commport.h"
#include "core/jobrunner.h"
#include "core/programstate.h"
#include "core/settingkeys.h"
#include "core/settingsstore.h"

using namespace Qt::StringLiterals;

CommandDispatcher::CommandDispatcher(CommandContext &context)
    : m_context(context)
    , m_port(std::make_unique<PortCommands>(context, [this] { portClosed(); }))
    , m_files(std::make_unique<FileTransfer>(context))
    , m_loop(std::make_unique<LoopSend>(context))
    , m_workspace(std::make_unique<Workspace>(context))
    , m_zmodemWatch(std::make_unique<ZmodemWatch>(context, [this](ZmodemDetector::Found found) {
        return startTransfer(found == ZmodemDetector::Found::Sender ? Transfer::ZmodemReceive
                                                                    : Transfer::ZmodemSend,
                             true);
    }))
{
    m_zmodemWatch->setEnabled(
            context.store.read(SettingKeys::zmodemAuto(), SettingKeys::defaultZmodemAuto())
            != u"0");
}

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

ModemJob *CommandDispatcher::startTransfer(Transfer transfer, bool byFarEnd)
{
    // The menu is locked as well; a shortcut or a queued click may still arrive.
    if (!m_context.switches.transfersEnabled() || !m_context.line
        || m_context.switches.checked(Switches::LoopSend))
        return nullptr;
    const ZmodemStart how = byFarEnd ? ZmodemStart::FarEnd : ZmodemStart::Menu;
    switch (transfer) {
    case Transfer::YmodemReceive:
        m_transfer = std::make_unique<ModemReceiveJob>(m_context);
        break;
    case Transfer::ZmodemReceive:
        m_transfer = std::make_unique<ZmodemReceiveJob>(m_context, how);
        break;
    case Transfer::ZmodemSend:
        m_transfer = std::make_unique<ZmodemSendJob>(m_context, how);
        break;
    default:
        m_transfer = std::make_unique<ModemSendJob>(
                m_context, transfer == Transfer::XmodemSend ? ModemSender::Protocol::Xmodem
                                                            : ModemSender::Protocol::Ymodem);
        break;
    }
    m_context.jobs.run(m_transfer.get());
    return m_transfer.get();
}

bool CommandDispatcher::zmodemAuto() const
{
    return m_zmodemWatch->enabled();
}

void CommandDispatcher::setZmodemAuto(bool on)
{
    m_zmodemWatch->setEnabled(on);
    m_context.store.save(SettingKeys::zmodemAuto(), on ? u"1"_s : u"0"_s);
}

void CommandDispatcher::portClosed()
{
    m_context.jobs.portClosed();
}
