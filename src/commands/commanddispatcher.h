#pragma once

#include <memory>

class FileTransfer;
class LoopSend;
class ModemJob;
class PortCommands;
class Workspace;
struct CommandContext;

// The tools menu's one click handler: every item index goes to the command that serves it.
//
// The commands keep their state in the menu items themselves (check marks and enabled states),
// read through Switches; each family lives in its own file: port, file transfer, loop send,
// workspace. Long work (a file send, the hexadecimal view, a loop send, a workspace load) runs as
// LongJob objects driven by the port's progress and by timers, one at a time through the
// context's JobRunner, so any click may arrive while one runs.
class CommandDispatcher
{
public:
    explicit CommandDispatcher(CommandContext &context);
    ~CommandDispatcher();

    void runCommand(int index);

    PortCommands &portCommands() { return *m_port; }

    // The transfer menu: XMODEM or YMODEM send, YMODEM receive, each a long job.
    enum class Transfer { XmodemSend, YmodemSend, YmodemReceive };
    void startTransfer(Transfer transfer);

private:
    // Long work that needs the port ends when it closes, whoever closed it.
    void portClosed();

    CommandContext &m_context;
    std::unique_ptr<PortCommands> m_port;
    std::unique_ptr<FileTransfer> m_files;
    std::unique_ptr<LoopSend> m_loop;
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<ModemJob> m_transfer;
};
