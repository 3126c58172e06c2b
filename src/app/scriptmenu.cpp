#include "app/scriptmenu.h"

#include "commands/commandcontext.h"
#include "core/dialogs.h"
#include "core/jobrunner.h"
#include "core/messages.h"
#include "core/programstate.h"
#include "core/settingsstore.h"
#include "script/scriptjob.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>

using namespace Qt::StringLiterals;

namespace {

QString recentKey(int i)
{
    return u"RecentScript%1"_s.arg(i + 1);
}

} // namespace

ScriptMenu::ScriptMenu(QMenuBar *menuBar, CommandContext &context, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_output(context.box)
    , m_transfers(context)
{
    m_menu = new QMenu(u"脚本(&S)"_s, menuBar);
    m_menu->setObjectName(u"ScriptMenu"_s);
    // Right of the view menu.
    const QList<QAction *> menus = menuBar->actions();
    const auto *view = menuBar->findChild<QMenu *>(u"ViewMenu"_s);
    const qsizetype at = view ? menus.indexOf(view->menuAction()) : -1;
    if (at >= 0 && at + 1 < menus.size())
        menuBar->insertMenu(menus[at + 1], m_menu);
    else
        menuBar->addMenu(m_menu);
    m_runItem = m_menu->addAction(u"运行脚本(&R)..."_s);
    m_runItem->setObjectName(u"RunScriptItem"_s);
    m_recentEnd = m_menu->addSeparator();
    m_stopItem = m_menu->addAction(u"停止脚本"_s);
    m_stopItem->setObjectName(u"StopScriptItem"_s);
    connect(m_runItem, &QAction::triggered, this, &ScriptMenu::chooseAndRun);
    connect(m_stopItem, &QAction::triggered, this, [this] {
        if (m_job && m_job->running())
            m_job->stop();
    });
    connect(&m_context.jobs, &JobRunner::busyChanged, this, &ScriptMenu::updateItems);
    rebuildRecent();
    updateItems();
}

ScriptMenu::~ScriptMenu() = default;

QStringList ScriptMenu::recent() const
{
    QStringList paths;
    for (int i = 0; i < RecentCount; ++i) {
        const QString path = m_context.store.read(recentKey(i), QString());
        if (!path.isEmpty())
            paths.append(path);
    }
    return paths;
}

void ScriptMenu::chooseAndRun()
{
    const std::optional<QString> path = m_context.dialogs.openFile(Messages::scriptFileFilter());
    if (path)
        run(*path);
}

bool ScriptMenu::run(const QString &path)
{
    if (m_context.jobs.busy() || !m_context.line) {
        m_context.dialogs.message(Messages::scriptBusy(), Dialogs::Warning);
        return false;
    }
    // The previous script has ended; its object goes now, outside any of its own signals.
    m_job = std::make_unique<ScriptJob>(m_context.port, *m_context.line, m_context.switches,
                                        m_output, QFileInfo(path).absoluteFilePath(),
                                        QStringList());
    m_job->setTransfers(&m_transfers);
    m_job->setEncoding(m_context.encoding);
    remember(QFileInfo(path).absoluteFilePath());
    return m_context.jobs.run(m_job.get());
}

void ScriptMenu::remember(const QString &path)
{
    QStringList paths = recent();
    paths.removeAll(path);
    paths.prepend(path);
    for (int i = 0; i < RecentCount; ++i)
        m_context.store.save(recentKey(i), i < paths.size() ? paths[i] : QString());
    rebuildRecent();
}

void ScriptMenu::rebuildRecent()
{
    qDeleteAll(m_recentItems);
    m_recentItems.clear();
    const QStringList paths = recent();
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString path = paths[i];
        auto *item
                = new QAction(u"&%1 %2"_s.arg(i + 1).arg(QDir::toNativeSeparators(path)), m_menu);
        item->setObjectName(u"RecentScript_%1"_s.arg(i));
        connect(item, &QAction::triggered, this, [this, path] { run(path); });
        m_menu->insertAction(m_recentEnd, item);
        m_recentItems.append(item);
    }
    updateItems();
}

void ScriptMenu::updateItems()
{
    const bool busy = m_context.jobs.busy();
    m_runItem->setEnabled(!busy);
    for (QAction *item : std::as_const(m_recentItems))
        item->setEnabled(!busy);
    m_stopItem->setEnabled(m_job && m_job->running());
}
