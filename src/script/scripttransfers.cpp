#include "script/scripttransfers.h"

#include "commands/modemjobs.h"

ScriptTransfers::ScriptTransfers(const CommandContext &context)
    : m_dialogs(context.dialogs)
    , m_context{context.port,  context.switches, m_dialogs,
                context.store, context.box,      context.capture,
                context.jobs,  context.main,     context.terminalCharacters,
                context.line}
{}

ScriptTransfers::~ScriptTransfers() = default;

std::unique_ptr<LongJob> ScriptTransfers::transfer(Kind kind, const QString &path)
{
    m_dialogs.path = path;
    switch (kind) {
    case Kind::XmodemSend:
        return std::make_unique<ModemSendJob>(m_context, ModemSender::Protocol::Xmodem);
    case Kind::YmodemSend:
        return std::make_unique<ModemSendJob>(m_context, ModemSender::Protocol::Ymodem);
    case Kind::YmodemReceive:
        return std::make_unique<ModemReceiveJob>(m_context);
    }
    return nullptr;
}
