#include "commands/workspace.h"

#include "commands/commandcontext.h"
#include "commands/workspaceload.h"
#include "core/dialogs.h"
#include "core/jobrunner.h"
#include "core/messages.h"
#include "core/regularfile.h"
#include "rtf/rtfwriter.h"
#include "core/switches.h"
#include "core/terminal.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace {

QString workspaceFilter()
{
    return u"富文本文件|*.RTF"_s;
}

} // namespace

Workspace::Workspace(CommandContext &context)
    : m_context(context)
    , m_load(std::make_unique<WorkspaceLoad>(context))
{}

Workspace::~Workspace() = default;

void Workspace::load()
{
    // One long job at a time; the item is locked meanwhile, but its shortcut may come first.
    if (m_context.jobs.busy()) {
        return;
    }
    const std::optional<QString> path = m_context.dialogs.openFile(workspaceFilter());
    if (!path) {
        return;
    }
    // A FIFO or device is refused before anything waits on it, and a file over the bound before
    // any of it is read.
    Expected<std::unique_ptr<QFile>> file = openRegularFile(*path);
    if (!file.ok()) {
        m_context.dialogs.message(file.message(), Dialogs::Warning);
        return;
    }
    const QString shown = QFileInfo(*path).absoluteFilePath();
    if (const qint64 size = (*file)->size(); size > MaxWorkspaceBytes) {
        m_context.dialogs.message(
                Messages::workspaceLoadFailed(shown,
                                              Messages::workspaceTooLarge(size, MaxWorkspaceBytes)),
                Dialogs::Warning);
        return;
    }
    m_load->setFile(std::move(*file), shown, MaxWorkspaceBytes);
    m_context.jobs.run(m_load.get());
}

void Workspace::save()
{
    // Half a replaced terminal is no session worth keeping.
    if (m_load->running()) {
        return;
    }
    const std::optional<QString> path = m_context.dialogs.saveFile(workspaceFilter());
    if (!path) {
        return;
    }
    // A FIFO or device in the target's place would block the save or swallow it.
    if (isSpecialFile(*path)) {
        m_context.dialogs.message(Messages::workspaceSaveFailed(QFileInfo(*path).absoluteFilePath(),
                                                                Messages::notARegularFile(*path)),
                                  Dialogs::Warning);
        return;
    }
    // Written beside the target and renamed into place, so a failed save leaves the old file.
    QSaveFile file(*path);
    const QByteArray document = writeRtf(m_context.box.runs());
    bool ok = file.open(QIODevice::WriteOnly) && file.write(document) == document.size();
    QString error;
    if (ok) {
        ok = file.commit();
        error = file.errorString();
    } else {
        error = file.errorString();
        file.cancelWriting();
    }
    if (!ok) {
        m_context.dialogs.message(
                Messages::workspaceSaveFailed(QFileInfo(*path).absoluteFilePath(), error),
                Dialogs::Warning);
    }
}

void Workspace::clear()
{
    m_context.main.clearOrStop();
}
