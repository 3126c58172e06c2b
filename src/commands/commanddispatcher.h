#pragma once

#include <memory>

class FileTransfer;
class LoopSend;
class PortCommands;
class Workspace;
struct CommandContext;

// The tools menu's one click handler: every item index goes to the command that serves it.
//
// The commands keep their state in the menu items themselves (check marks and enabled states),
// read through Menus; each family lives in its own file: port, file transfer, loop send,
// workspace. Long commands let events run between their steps, so a click may arrive while an
// earlier one is still running; each command says what that means for it.
class CommandDispatcher
{
public:
    explicit CommandDispatcher(CommandContext &context);
    ~CommandDispatcher();

    void MyCommand_Click(int index);
    // The program is ending: loops still running inside a command stop at their next step.
    void stopRunning();

    PortCommands &portCommands() { return *m_port; }

private:
    CommandContext &m_context;
    std::unique_ptr<PortCommands> m_port;
    std::unique_ptr<FileTransfer> m_files;
    std::unique_ptr<LoopSend> m_loop;
    std::unique_ptr<Workspace> m_workspace;
};
