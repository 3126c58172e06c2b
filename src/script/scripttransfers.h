#pragma once

#include "commands/commandcontext.h"
#include "core/dialogs.h"

#include <QString>

#include <memory>

class LongJob;

// The transfers a script starts (xmodem_send, ymodem_send, ymodem_receive): the same jobs as the
// transfer menu's, handed the script's file or folder in place of the dialog's answer.
class ScriptTransfers
{
public:
    enum class Kind { XmodemSend, YmodemSend, YmodemReceive };

    // Over the commands' context of the window, or of the run without one.
    explicit ScriptTransfers(const CommandContext &context);
    ~ScriptTransfers();

    // path: the file to send, or the folder to receive into.
    std::unique_ptr<LongJob> transfer(Kind kind, const QString &path);

private:
    // The user's dialogs, except that the file or folder asked for is the script's.
    class GivenPath : public Dialogs
    {
    public:
        explicit GivenPath(Dialogs &dialogs)
            : m_dialogs(dialogs)
        {}
        Answer message(const QString &text, Style style, const QString &title) override
        {
            return m_dialogs.message(text, style, title);
        }
        QString inputBox(const QString &prompt, const QString &defaultAnswer) override
        {
            return m_dialogs.inputBox(prompt, defaultAnswer);
        }
        std::optional<QString> openFile(const QString &) override { return path; }
        std::optional<QString> saveFile(const QString &) override { return std::nullopt; }
        std::optional<QString> chooseFolder() override { return path; }

        QString path;

    private:
        Dialogs &m_dialogs;
    };

    GivenPath m_dialogs;
    CommandContext m_context;
};
