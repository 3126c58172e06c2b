#include "commands/workspace.h"

#include "commands/commandcontext.h"
#include "platform/dialogs.h"
#include "platform/messages.h"
#include "platform/regularfile.h"
#include "platform/rtfreader.h"
#include "platform/rtfwriter.h"
#include "platform/terminalbox.h"

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
{}

void Workspace::load()
{
    const std::optional<QString> path = m_context.dialogs.openFile(workspaceFilter());
    if (!path) {
        return;
    }
    const QString shown = QFileInfo(*path).absoluteFilePath();
    const auto refuse = [&](const QString &why) {
        m_context.dialogs.message(Messages::workspaceLoadFailed(shown, why), Dialogs::Exclamation);
    };
    // The terminal is replaced only by a document read whole: a failed load keeps the session.
    Expected<std::unique_ptr<QFile>> file = openRegularFile(*path);
    if (!file.ok()) {
        m_context.dialogs.message(file.message(), Dialogs::Exclamation);
        return;
    }
    if ((*file)->size() > MaxWorkspaceBytes) {
        refuse(u"文件有 %1 字节，超过工作区的上限 %2 字节"_s.arg((*file)->size())
                       .arg(MaxWorkspaceBytes));
        return;
    }
    // At most the bound, even if the file grows while it is read.
    const QByteArray data = (*file)->read(MaxWorkspaceBytes + 1);
    if ((*file)->error() != QFileDevice::NoError) {
        refuse((*file)->errorString());
        return;
    }
    if (data.size() > MaxWorkspaceBytes) {
        refuse(u"文件超过工作区的上限 %1 字节"_s.arg(MaxWorkspaceBytes));
        return;
    }
    const Expected<TextRuns> runs = readRtf(data);
    if (!runs.ok()) {
        refuse(runs.message());
        return;
    }
    m_context.box.setRuns(*runs);
}

void Workspace::save()
{
    const std::optional<QString> path = m_context.dialogs.saveFile(workspaceFilter());
    if (!path) {
        return;
    }
    // A FIFO or device in the target's place would block the save or swallow it.
    if (isSpecialFile(*path)) {
        m_context.dialogs.message(Messages::workspaceSaveFailed(QFileInfo(*path).absoluteFilePath(),
                                                                Messages::notARegularFile(*path)),
                                  Dialogs::Exclamation);
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
                Dialogs::Exclamation);
    }
}

void Workspace::clear()
{
    m_context.main.Command1_Click();
}
