#pragma once

#include <QtGlobal>

#include <memory>

class WorkspaceLoad;
struct CommandContext;

// The terminal's contents as a rich-text file: load, save, and clear. A load runs as a
// WorkspaceLoad on the window's events.
class Workspace
{
public:
    // The largest workspace file loaded; beyond it the terminal's own bound would drop most of
    // it anyway, and even reading a block at a time would take a long while.
    static constexpr qint64 MaxWorkspaceBytes = 64 * 1024 * 1024;

    explicit Workspace(CommandContext &context);
    ~Workspace();
    Workspace(const Workspace &) = delete;
    Workspace &operator=(const Workspace &) = delete;

    void load();
    void save();
    void clear();

private:
    CommandContext &m_context;
    std::unique_ptr<WorkspaceLoad> m_load;
};
