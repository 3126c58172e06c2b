#include "commands/workspace.h"

#include "commands/commandcontext.h"

Workspace::Workspace(CommandContext &context)
    : m_context(context)
{}

void Workspace::load() {}

void Workspace::save() {}

void Workspace::clear()
{
    m_context.main.Command1_Click();
}
