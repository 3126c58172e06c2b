#pragma once

#include "core/sendentry.h"

#include <QList>
#include <QTableWidget>

class QLineEdit;

// The send panel's entries, one row each, edited in place: a check for sequences, the name,
// the content, the format, the line ending, the checksum, the delay and a send button. The row
// checks its content as it is typed: a hex fault marks the content red with its position and
// locks the row's send button; otherwise the tooltip shows the bytes that would go out.
//
// Every editor takes the keyboard only when clicked, and the buttons never, so the terminal
// keeps its keys while the panel is shown.
class SendPanelTable : public QTableWidget
{
    Q_OBJECT

public:
    enum Column { Checked, Name, Content, Format, Ending, Checksum, Delay, Send, ColumnCount };

    explicit SendPanelTable(QWidget *parent = nullptr);

    QList<SendEntry> entries() const { return m_entries; }
    void setEntries(const QList<SendEntry> &entries);
    SendEntry entry(int row) const { return m_entries.value(row); }
    void appendEntry(const SendEntry &entry);
    void removeRowAt(int row);
    // Swaps the row with its neighbour above (-1) or below (+1); the order is the sequence's
    // and Alt+digit's.
    void moveRow(int row, int step);
    // What the row's content check says now: empty when it can be sent.
    QString rowError(int row) const;

Q_SIGNALS:
    void sendClicked(int row);
    // An entry was added, removed or edited.
    void entriesEdited();
    // The row's content was checked as it stands: error is empty when it can be sent.
    void rowMarked(int row, const QString &error);

protected:
    // An editor of a row that takes the keyboard makes its row the current one, so that
    // "删除" and the moves act on the row the user is working in.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void addRow(int row, const SendEntry &entry);
    void fitColumns();
    // Puts a cell widget in place and follows its focus.
    void place(int row, int column, QWidget *widget);
    // Takes the content the user is typing into the entry and marks the row by it.
    void contentEdited(QLineEdit *editor, const QString &text);
    void markRow(int row);
    // The row of an editor: rows move when one above is removed.
    int rowOf(const QWidget *editor) const;
    void changed(const QWidget *editor, const std::function<void(SendEntry &)> &change);

    QList<SendEntry> m_entries;
};
