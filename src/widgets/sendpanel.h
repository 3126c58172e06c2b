#pragma once

#include "core/sendentry.h"

#include <QList>
#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class SendPanelTable;

// The send panel beside the terminal: the stored entries, the sequence of the checked ones,
// the BREAK and the history of what was sent. It sends nothing itself: it asks, and the window
// that owns the port and the jobs does it.
class SendPanel : public QWidget
{
    Q_OBJECT

public:
    explicit SendPanel(QWidget *parent = nullptr);

    SendPanelTable &table() { return *m_table; }
    QList<SendEntry> entries() const;
    void setEntries(const QList<SendEntry> &entries);

    QList<SendEntry> history() const { return m_history; }
    void setHistory(const QList<SendEntry> &history);
    // A send that went out, newest last; the oldest go beyond the history's bound.
    void addHistory(const SendEntry &entry);

    int breakMs() const;
    void setBreakMs(int ms);
    // While a sequence runs its stop is offered; while any long job runs no sequence starts.
    void setSequenceRunning(bool running);
    void setJobBusy(bool busy);

    // Entry row (from 0) as Alt+1..Alt+9 and the row's button send it.
    void sendRow(int row);

Q_SIGNALS:
    void sendRequested(const SendEntry &entry);
    // rounds 0: until stopped.
    void sequenceRequested(const QList<SendEntry> &entries, int rounds);
    void stopRequested();
    void breakRequested(int ms);
    void importRequested();
    void exportRequested();
    void entriesChanged();
    void historyChanged();
    void breakMsChanged(int ms);

private:
    QWidget *makeEntryButtons();
    QWidget *makeSequenceRow();
    QWidget *makeHistory();
    void historyToEntry();
    void showHistory();
    void showFirstFault();

    SendPanelTable *m_table = nullptr;
    QLabel *m_fault = nullptr;
    QPushButton *m_sequence = nullptr;
    QPushButton *m_stop = nullptr;
    QSpinBox *m_rounds = nullptr;
    QSpinBox *m_breakMs = nullptr;
    QListWidget *m_historyList = nullptr;
    QList<SendEntry> m_history;
    bool m_sequenceRunning = false;
};
