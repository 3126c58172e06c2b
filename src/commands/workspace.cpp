#include "commands/workspace.h"

#include "commands/commandcontext.h"
#include "platform/dialogs.h"
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
    // The terminal is replaced only by a document read whole: a failed load keeps the session.
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_context.dialogs.message(u"Cannot load the workspace %1: %2"_s.arg(
                                          QFileInfo(*path).absoluteFilePath(), file.errorString()),
                                  Dialogs::Exclamation);
        return;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_context.dialogs.message(u"Cannot load the workspace %1: %2"_s.arg(
                                          QFileInfo(*path).absoluteFilePath(), file.errorString()),
                                  Dialogs::Exclamation);
        return;
    }
    const Expected<TextRuns> runs = readRtf(data);
    if (!runs.ok()) {
        m_context.dialogs.message(u"Cannot load the workspace %1: %2"_s.arg(
                                          QFileInfo(*path).absoluteFilePath(), runs.message()),
                                  Dialogs::Exclamation);
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
        m_context.dialogs.message(u"Cannot save the workspace %1: %2"_s.arg(
                                          QFileInfo(*path).absoluteFilePath(), error),
                                  Dialogs::Exclamation);
    }
}

void Workspace::clear()
{
    m_context.main.Command1_Click();
}
