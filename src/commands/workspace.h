#pragma once

#include <QtGlobal>

struct CommandContext;

// The terminal's contents as a rich-text file: load, save, and clear.
class Workspace
{
public:
    // The largest workspace file loaded; beyond it the terminal's own bound would drop most of
    // it anyway, and reading it would hold the window.
    static constexpr qint64 MaxWorkspaceBytes = 64 * 1024 * 1024;

    explicit Workspace(CommandContext &context);

    void load();
    void save();
    void clear();

private:
    CommandContext &m_context;
};
