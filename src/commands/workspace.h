#pragma once

struct CommandContext;

// The terminal's contents as a rich-text file: load, save, and clear.
class Workspace
{
public:
    explicit Workspace(CommandContext &context);

    void load();
    void save();
    void clear();

private:
    CommandContext &m_context;
};
