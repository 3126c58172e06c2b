#pragma once

#include "script/scripttransfers.h"
#include "script/terminaloutput.h"

#include <QList>
#include <QObject>

#include <memory>

class QAction;
class QMenu;
class QMenuBar;
class ScriptJob;
struct CommandContext;

// The menu "脚本(&S)", right of the view menu: run a script chosen with the program's file
// dialog, one of the five run last (kept in the settings), or stop the one that runs. A script
// is a long job like the others, so it waits while another job runs and they wait for it.
class ScriptMenu : public QObject
{
    Q_OBJECT

public:
    static constexpr int RecentCount = 5;

    ScriptMenu(QMenuBar *menuBar, CommandContext &context, QObject *parent = nullptr);
    ~ScriptMenu() override;

    // Runs the script at path with the terminal as its output; false when it could not start.
    bool run(const QString &path);
    ScriptJob *job() const { return m_job.get(); }
    QMenu *menu() const { return m_menu; }
    QStringList recent() const;

private:
    void chooseAndRun();
    void remember(const QString &path);
    void rebuildRecent();
    void updateItems();

    CommandContext &m_context;
    TerminalScriptOutput m_output;
    ScriptTransfers m_transfers;
    std::unique_ptr<ScriptJob> m_job;
    QMenu *m_menu = nullptr;
    QAction *m_runItem = nullptr;
    QAction *m_stopItem = nullptr;
    QAction *m_recentEnd = nullptr;
    QList<QAction *> m_recentItems;
};
