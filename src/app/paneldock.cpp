#include "app/paneldock.h"

#include "app/menus.h"
#include "commands/commandcontext.h"
#include "commands/panelsend.h"
#include "core/configpaths.h"
#include "core/dialogs.h"
#include "core/jobrunner.h"
#include "core/messages.h"
#include "core/regularfile.h"
#include "core/sendpanelfile.h"
#include "core/settingkeys.h"
#include "core/settingsstore.h"
#include "widgets/sendpanel.h"
#include "widgets/sendpaneltable.h"
#include "widgets/terminalwindow.h"

#include <QAction>
#include <QDockWidget>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>

using namespace Qt::StringLiterals;

namespace {

// Edits are saved this long after the last one, so typing into an entry writes once.
constexpr int SaveDelayMs = 500;
constexpr int DefaultBreakMs = 250;

QString panelFilter()
{
    return u"发送面板文件 (*.json)|*.json"_s;
}

} // namespace

PanelDock::PanelDock(QMainWindow &window, Menus &menus, CommandContext &context,
                     TerminalWindow &terminal)
    : QObject(nullptr)
    , m_window(window)
    , m_menus(menus)
    , m_context(context)
    , m_store(context.store)
    , m_dialogs(context.dialogs)
    , m_jobs(context.jobs)
{
    // A window started with --settings has a panel of its own, beside its own settings file.
    const QString settings
            = m_store.filePath().isEmpty() ? ConfigPaths::settingsFile() : m_store.filePath();
    m_entriesPath = SendPanelFile::panelPath(settings);
    m_historyPath = SendPanelFile::historyPath(settings);

    m_sender = new PanelSender(m_context, this);
    m_sequence = new SequenceSend(m_context, *m_sender, this);

    m_dock = new QDockWidget(u"发送面板"_s, &m_window);
    m_dock->setObjectName(u"SendPanelDock"_s);
    m_dock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    m_dock->setFocusPolicy(Qt::NoFocus);
    m_panel = new SendPanel(m_dock);
    m_dock->setWidget(m_panel);
    m_window.addDockWidget(Qt::RightDockWidgetArea, m_dock);
    m_dock->hide();
    m_dock->installEventFilter(this);

    m_entriesSave.setSingleShot(true);
    m_entriesSave.setInterval(SaveDelayMs);
    m_historySave.setSingleShot(true);
    m_historySave.setInterval(SaveDelayMs);
    connect(&m_entriesSave, &QTimer::timeout, this, &PanelDock::saveEntries);
    connect(&m_historySave, &QTimer::timeout, this, &PanelDock::saveHistory);

    connect(m_menus.panelAction(), &QAction::toggled, this, &PanelDock::setShown);
    // Its own close button hides it too.
    connect(m_dock->toggleViewAction(), &QAction::toggled, this, [this](bool shown) {
        if (m_menus.panelAction()->isChecked() != shown) {
            const QSignalBlocker block(m_menus.panelAction());
            m_menus.panelAction()->setChecked(shown);
        }
        storeSetting(SettingKeys::panelShown(), shown ? u"1"_s : u"0"_s);
    });
    connect(m_dock, &QDockWidget::dockLocationChanged, this, &PanelDock::saveDockPlace);

    connect(m_panel, &SendPanel::sendRequested, m_sender,
            [this](const SendEntry &entry) { m_sender->send(entry); });
    connect(m_sender, &PanelSender::sent, m_panel, &SendPanel::addHistory);
    connect(&terminal, &TerminalWindow::lineSent, m_panel, [this](const QString &line, bool cr) {
        SendEntry entry;
        entry.content = line;
        entry.ending = cr ? SendEntry::Ending::Cr : SendEntry::Ending::None;
        m_panel->addHistory(entry);
    });
    connect(m_panel, &SendPanel::sequenceRequested, this, &PanelDock::startSequence);
    connect(m_panel, &SendPanel::stopRequested, m_sequence, &LongJob::stop);
    connect(m_panel, &SendPanel::breakRequested, m_sender, &PanelSender::sendBreak);
    connect(m_panel, &SendPanel::breakMsChanged, this,
            [this](int ms) { storeSetting(SettingKeys::breakMs(), QString::number(ms)); });
    connect(m_panel, &SendPanel::importRequested, this, &PanelDock::importEntries);
    connect(m_panel, &SendPanel::exportRequested, this, &PanelDock::exportEntries);
    connect(m_panel, &SendPanel::entriesChanged, &m_entriesSave, qOverload<>(&QTimer::start));
    connect(m_panel, &SendPanel::historyChanged, &m_historySave, qOverload<>(&QTimer::start));
    connect(&m_jobs, &JobRunner::busyChanged, this, &PanelDock::updateJobState);

    // Alt+1..Alt+9 belong to the whole window, the terminal included, as the tools' keys do.
    for (int i = 0; i < 9; ++i) {
        auto *send = new QAction(&m_window);
        send->setObjectName(u"PanelSend_%1"_s.arg(i + 1));
        send->setShortcut(QKeySequence(Qt::ALT | Qt::Key(Qt::Key_1 + i)));
        send->setShortcutContext(Qt::WindowShortcut);
        connect(send, &QAction::triggered, m_panel, [this, i] { m_panel->sendRow(i); });
        m_window.addAction(send);
    }
}

PanelDock::~PanelDock()
{
    // A sequence still running ends before the sender it uses.
    m_sequence->stop();
    saveNow();
    if (m_width > 0)
        storeSetting(SettingKeys::panelWidth(), QString::number(m_width));
}

void PanelDock::load()
{
    const QList<SendEntry> entries = loadKept(m_entriesPath);
    const QList<SendEntry> history = loadKept(m_historyPath);
    {
        // What was just read needs no saving.
        const QSignalBlocker blockPanel(m_panel);
        m_panel->setEntries(entries);
        m_panel->setHistory(history);
    }
    bool ok = false;
    const int ms = m_store.read(SettingKeys::breakMs(), QString::number(DefaultBreakMs)).toInt(&ok);
    m_panel->setBreakMs(ok ? qBound(100, ms, 2000) : DefaultBreakMs);

    const bool left = m_store.read(SettingKeys::panelSide(), u"right"_s) == u"left"_s;
    m_window.addDockWidget(left ? Qt::LeftDockWidgetArea : Qt::RightDockWidgetArea, m_dock);
    const int width = m_store.read(SettingKeys::panelWidth(), u"0"_s).toInt(&ok);
    if (ok && width > 0) {
        m_width = width;
        m_window.resizeDocks({m_dock.data()}, {width}, Qt::Horizontal);
    }
    m_loaded = true;
    const bool shown = m_store.read(SettingKeys::panelShown(), u"0"_s) == u"1"_s;
    m_menus.panelAction()->setChecked(shown);
    setShown(shown);
    updateJobState();
}

QList<SendEntry> PanelDock::loadKept(const QString &path)
{
    if (!QFileInfo::exists(path))
        return {};
    const Expected<QList<SendEntry>> loaded = SendPanelFile::load(path);
    if (loaded)
        return *loaded;
    // The next save would overwrite the file; a copy keeps what the user had.
    QString text = loaded.message();
    const QString kept = path + u".bad"_s;
    if (!isSpecialFile(path)) {
        QFile::remove(kept);
        if (QFile::copy(path, kept))
            text += u"\n"_s + Messages::panelFileKeptAside(kept);
    }
    m_dialogs.message(text, Dialogs::Warning);
    return {};
}

bool PanelDock::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_dock && event->type() == QEvent::Resize && m_dock->isVisible())
        m_width = m_dock->width();
    return false;
}

void PanelDock::setShown(bool shown)
{
    if (!m_dock)
        return;
    m_dock->setVisible(shown);
    if (shown && m_width > 0)
        m_window.resizeDocks({m_dock.data()}, {m_width}, Qt::Horizontal);
}

void PanelDock::saveNow()
{
    if (m_entriesSave.isActive())
        saveEntries();
    if (m_historySave.isActive())
        saveHistory();
}

void PanelDock::saveEntries()
{
    m_entriesSave.stop();
    const Result saved = SendPanelFile::save(m_entriesPath, m_panel->entries());
    if (!saved.ok() && !m_saveErrorShown) {
        m_saveErrorShown = true;
        m_dialogs.message(saved.message(), Dialogs::Warning);
    } else if (saved.ok()) {
        m_saveErrorShown = false;
    }
}

void PanelDock::saveHistory()
{
    m_historySave.stop();
    // The history is a convenience: a failure to keep it is not worth a box.
    if (const Result saved = SendPanelFile::save(m_historyPath, m_panel->history()); !saved.ok())
        qWarning("%s", qUtf8Printable(saved.message()));
}

void PanelDock::importEntries()
{
    const std::optional<QString> path = m_dialogs.openFile(panelFilter());
    if (!path)
        return;
    const Expected<QList<SendEntry>> loaded = SendPanelFile::load(*path);
    if (!loaded) {
        m_dialogs.message(loaded.message(), Dialogs::Warning);
        return;
    }
    // Added after the entries there are, so an import never loses one.
    const qsizetype total = m_panel->entries().size() + (*loaded).size();
    if (total > SendPanelFile::MaxEntries) {
        m_dialogs.message(Messages::panelFileRefused(
                                  QFileInfo(*path).absoluteFilePath(),
                                  Messages::panelTooManyEntries(total, SendPanelFile::MaxEntries)),
                          Dialogs::Warning);
        return;
    }
    for (const SendEntry &entry : *loaded)
        m_panel->table().appendEntry(entry);
}

void PanelDock::exportEntries()
{
    const std::optional<QString> path = m_dialogs.saveFile(panelFilter());
    if (!path)
        return;
    if (const Result saved = SendPanelFile::save(*path, m_panel->entries()); !saved.ok())
        m_dialogs.message(saved.message(), Dialogs::Warning);
}

void PanelDock::startSequence(const QList<SendEntry> &entries, int rounds)
{
    if (m_jobs.busy())
        return;
    m_sequence->startSequence(entries, rounds);
}

void PanelDock::updateJobState()
{
    m_panel->setJobBusy(m_jobs.busy());
    m_panel->setSequenceRunning(m_jobs.current() == m_sequence);
}

void PanelDock::saveDockPlace()
{
    if (!m_loaded || !m_dock)
        return;
    const bool left = m_window.dockWidgetArea(m_dock) == Qt::LeftDockWidgetArea;
    storeSetting(SettingKeys::panelSide(), left ? u"left"_s : u"right"_s);
}

void PanelDock::storeSetting(const QString &key, const QString &value)
{
    if (!m_loaded)
        return;
    m_store.save(key, value);
}
