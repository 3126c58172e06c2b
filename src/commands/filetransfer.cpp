#include "commands/filetransfer.h"

#include "commands/commandcontext.h"
#include "commands/filesend.h"
#include "commands/hexview.h"
#include "receive/capturefile.h"
#include "core/jobrunner.h"
#include "core/dialogs.h"
#include "core/messages.h"
#include "core/regularfile.h"
#include "core/switches.h"
#include "core/terminal.h"

#include <QFile>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString AllFilesFilter = u"所有文件|*.*"_s;
const QString CaptureFilter = u"全部文件|*.*"_s;

} // namespace

FileTransfer::FileTransfer(CommandContext &context)
    : m_context(context)
    , m_send(new FileSend(context))
    , m_view(new HexView(context))
{}

FileTransfer::~FileTransfer()
{
    delete m_send;
    delete m_view;
}

bool FileTransfer::sending() const
{
    return m_send->running();
}

void FileTransfer::sendFile()
{
    // The item is locked while another job runs, but its shortcut may come before the lock.
    if (m_context.jobs.busy()) {
        return;
    }
    const std::optional<QString> path = m_context.dialogs.openFile(AllFilesFilter);
    if (!path) {
        return;
    }
    const bool fast = m_context.dialogs.message(u"快速发送?"_s, Dialogs::YesNo) == Dialogs::Yes;

    Expected<std::unique_ptr<QFile>> file = openRegularFile(*path);
    if (!file.ok()) {
        m_context.dialogs.message(file.message(), Dialogs::Warning);
        return;
    }
    m_send->setFile(std::move(*file), fast);
    m_context.jobs.run(m_send);
}

void FileTransfer::captureToFile()
{
    Switches &switches = m_context.switches;
    if (switches.checked(Switches::Capture)) {
        switches.setChecked(Switches::Capture, false);
        m_context.capture.close();
        return;
    }

    // The mark goes on only once the file is open: the receive pipeline writes whenever it
    // sees the mark, and data may arrive while the dialog is up.
    const std::optional<QString> path = m_context.dialogs.saveFile(CaptureFilter);
    if (!path) {
        return;
    }
    const Result opened = m_context.capture.open(*path);
    if (!opened) {
        // Said aloud: a capture that silently records nothing loses the data it was meant for.
        m_context.dialogs.message(opened.message(), Dialogs::Warning);
        return;
    }
    switches.setChecked(Switches::Capture, true);
}

void FileTransfer::openFileAsHex()
{
    // The view asks for its file itself: the button reads "停止" from the question on.
    m_context.jobs.run(m_view);
}
