#include "commands/loopsend.h"

#include "commands/commandcontext.h"

LoopSend::LoopSend(CommandContext &context)
    : m_context(context)
{}

void LoopSend::clicked() {}
