#pragma once

#include "core/sendentry.h"

#include <QDockWidget>
#include <QObject>
#include <QPointer>
#include <QTimer>

class Dialogs;
class JobRunner;
class Menus;
class PanelSender;
class QMainWindow;
class SendPanel;
class SequenceSend;
class SettingsStore;
class TerminalWindow;
struct CommandContext;

// The send panel's dock beside the terminal and its wiring: the view menu's item shows it, its
// place and width are kept with the settings, its entries and history in files beside the
// settings file, its sends go through the PanelSender, its sequence is a long job, and
// Alt+1..Alt+9 send the first nine entries.
class PanelDock : public QObject
{
    Q_OBJECT

public:
    // Owned by the window, which deletes it before the commands it uses; the dock itself is the
    // window's child.
    PanelDock(QMainWindow &window, Menus &menus, CommandContext &context, TerminalWindow &terminal);
    ~PanelDock() override;

    // Reads the stored entries, history and dock place; says what it refused.
    void load();
    // Saves what changed now instead of a moment later.
    void saveNow();

    SendPanel &panel() { return *m_panel; }
    QDockWidget &dock() { return *m_dock; }
    QString entriesPath() const { return m_entriesPath; }
    QString historyPath() const { return m_historyPath; }

protected:
    // Follows the dock's width, kept when the window goes.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setShown(bool shown);
    void importEntries();
    void exportEntries();
    void startSequence(const QList<SendEntry> &entries, int rounds);
    void saveEntries();
    void saveHistory();
    // Loads one of the panel's files; a refused one is kept aside under ".bad" and said.
    QList<SendEntry> loadKept(const QString &path);
    void saveDockPlace();
    void updateJobState();
    void storeSetting(const QString &key, const QString &value);

    QMainWindow &m_window;
    Menus &m_menus;
    CommandContext &m_context;
    SettingsStore &m_store;
    Dialogs &m_dialogs;
    JobRunner &m_jobs;
    QPointer<QDockWidget> m_dock;
    SendPanel *m_panel = nullptr;
    PanelSender *m_sender = nullptr;
    SequenceSend *m_sequence = nullptr;
    QString m_entriesPath;
    QString m_historyPath;
    QTimer m_entriesSave;
    QTimer m_historySave;
    int m_width = 0;
    // A failed save is said once, not on every key typed into an entry.
    bool m_saveErrorShown = false;
    bool m_loaded = false;
};
