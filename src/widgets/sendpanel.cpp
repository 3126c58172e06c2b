#include "widgets/sendpanel.h"

#include "core/sendpanelfile.h"
#include "widgets/sendpaneltable.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

// A button that leaves the keyboard with the terminal.
QPushButton *button(const QString &text, const QString &name, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

QString historyLine(const SendEntry &entry)
{
    const QString kind = entry.format == SendEntry::Format::Hex ? u"HEX"_s : u"TXT"_s;
    return kind + u"  "_s + entryFrame(entry).shown;
}

} // namespace

SendPanel::SendPanel(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(u"SendPanel"_s);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);

    auto *entriesPart = new QWidget(this);
    auto *entriesLayout = new QVBoxLayout(entriesPart);
    entriesLayout->setContentsMargins(0, 0, 0, 0);
    entriesLayout->addWidget(makeEntryButtons());
    m_table = new SendPanelTable(entriesPart);
    entriesLayout->addWidget(m_table, 1);
    m_fault = new QLabel(entriesPart);
    m_fault->setObjectName(u"fault"_s);
    m_fault->setStyleSheet(u"color: #b00000;"_s);
    m_fault->setWordWrap(true);
    m_fault->hide();
    entriesLayout->addWidget(m_fault);
    entriesLayout->addWidget(makeSequenceRow());

    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(entriesPart);
    split->addWidget(makeHistory());
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);

    connect(m_table, &SendPanelTable::sendClicked, this, &SendPanel::sendRow);
    connect(m_table, &SendPanelTable::entriesEdited, this, &SendPanel::entriesChanged);
    connect(m_table, &SendPanelTable::rowMarked, this, &SendPanel::showFirstFault);
    setSequenceRunning(false);
}

QWidget *SendPanel::makeEntryButtons()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    QPushButton *add = button(u"添加"_s, u"add"_s, row);
    QPushButton *remove = button(u"删除"_s, u"remove"_s, row);
    QPushButton *up = button(u"上移"_s, u"up"_s, row);
    QPushButton *down = button(u"下移"_s, u"down"_s, row);
    QPushButton *import = button(u"导入..."_s, u"import"_s, row);
    QPushButton *exportButton = button(u"导出..."_s, u"export"_s, row);
    for (QPushButton *b : {add, remove, up, down, import, exportButton})
        layout->addWidget(b);
    layout->addStretch(1);
    connect(add, &QPushButton::clicked, this, [this] {
        SendEntry entry;
        entry.ending = SendEntry::Ending::Cr;
        m_table->appendEntry(entry);
    });
    connect(remove, &QPushButton::clicked, this,
            [this] { m_table->removeRowAt(m_table->currentRow()); });
    connect(up, &QPushButton::clicked, this,
            [this] { m_table->moveRow(m_table->currentRow(), -1); });
    connect(down, &QPushButton::clicked, this,
            [this] { m_table->moveRow(m_table->currentRow(), +1); });
    connect(import, &QPushButton::clicked, this, &SendPanel::importRequested);
    connect(exportButton, &QPushButton::clicked, this, &SendPanel::exportRequested);
    return row;
}

QWidget *SendPanel::makeSequenceRow()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    m_sequence = button(u"顺序发送"_s, u"sequence"_s, row);
    m_sequence->setToolTip(u"依次发送勾选的命令，每条之后等待它的延时"_s);
    m_rounds = new QSpinBox(row);
    m_rounds->setObjectName(u"rounds"_s);
    m_rounds->setFocusPolicy(Qt::ClickFocus);
    m_rounds->setRange(0, 1'000'000);
    m_rounds->setValue(1);
    m_rounds->setPrefix(u"次数 "_s);
    m_rounds->setSpecialValueText(u"直到停止"_s);
    m_stop = button(u"停止"_s, u"stop"_s, row);
    QPushButton *sendBreak = button(u"发送 BREAK"_s, u"break"_s, row);
    m_breakMs = new QSpinBox(row);
    m_breakMs->setObjectName(u"breakMs"_s);
    m_breakMs->setFocusPolicy(Qt::ClickFocus);
    m_breakMs->setRange(100, 2000);
    m_breakMs->setValue(250);
    m_breakMs->setSuffix(u" ms"_s);
    for (QWidget *w : std::initializer_list<QWidget *>{m_sequence, m_rounds, m_stop})
        layout->addWidget(w);
    layout->addStretch(1);
    layout->addWidget(sendBreak);
    layout->addWidget(m_breakMs);
    connect(m_sequence, &QPushButton::clicked, this,
            [this] { Q_EMIT sequenceRequested(entries(), m_rounds->value()); });
    connect(m_stop, &QPushButton::clicked, this, &SendPanel::stopRequested);
    connect(sendBreak, &QPushButton::clicked, this,
            [this] { Q_EMIT breakRequested(m_breakMs->value()); });
    connect(m_breakMs, &QSpinBox::valueChanged, this, &SendPanel::breakMsChanged);
    return row;
}

QWidget *SendPanel::makeHistory()
{
    auto *part = new QWidget(this);
    auto *layout = new QVBoxLayout(part);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *head = new QHBoxLayout;
    head->addWidget(new QLabel(u"历史（双击再次发送）"_s, part), 1);
    QPushButton *toEntry = button(u"转为命令"_s, u"historyToEntry"_s, part);
    head->addWidget(toEntry);
    layout->addLayout(head);
    m_historyList = new QListWidget(part);
    m_historyList->setObjectName(u"history"_s);
    m_historyList->setFocusPolicy(Qt::ClickFocus);
    layout->addWidget(m_historyList, 1);
    connect(m_historyList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        const int row = m_historyList->row(item);
        if (row >= 0 && row < m_history.size())
            Q_EMIT sendRequested(m_history.at(row));
    });
    connect(toEntry, &QPushButton::clicked, this, &SendPanel::historyToEntry);
    return part;
}

void SendPanel::showFirstFault()
{
    // The first faulty row, so that one fixed elsewhere does not hide another still wrong.
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (m_table->entry(row).content.isEmpty())
            continue;
        if (const QString error = m_table->rowError(row); !error.isEmpty()) {
            m_fault->setText(u"第 %1 行：%2"_s.arg(row + 1).arg(error));
            m_fault->show();
            return;
        }
    }
    m_fault->clear();
    m_fault->hide();
}

QList<SendEntry> SendPanel::entries() const
{
    return m_table->entries();
}

void SendPanel::setEntries(const QList<SendEntry> &entries)
{
    {
        const QSignalBlocker block(m_table);
        m_table->setEntries(entries);
    }
    showFirstFault();
    Q_EMIT entriesChanged();
}

void SendPanel::setHistory(const QList<SendEntry> &history)
{
    m_history = history.mid(qMax<qsizetype>(0, history.size() - SendPanelFile::MaxHistory));
    showHistory();
}

void SendPanel::addHistory(const SendEntry &entry)
{
    // A pasted line of megabytes is no command to send again, and would not fit the file.
    if (entry.content.size() > SendPanelFile::MaxContentChars)
        return;
    // Sending one command again and again leaves one line, not a column of copies.
    if (!m_history.isEmpty() && m_history.last().content == entry.content
        && m_history.last().format == entry.format && m_history.last().ending == entry.ending
        && m_history.last().checksum == entry.checksum) {
        return;
    }
    m_history.append(entry);
    if (m_history.size() > SendPanelFile::MaxHistory)
        m_history.removeFirst();
    showHistory();
    Q_EMIT historyChanged();
}

void SendPanel::showHistory()
{
    m_historyList->clear();
    for (const SendEntry &entry : std::as_const(m_history))
        m_historyList->addItem(historyLine(entry));
    m_historyList->scrollToBottom();
}

void SendPanel::historyToEntry()
{
    const int row = m_historyList->currentRow();
    if (row < 0 || row >= m_history.size())
        return;
    SendEntry entry = m_history.at(row);
    entry.checked = true;
    m_table->appendEntry(entry);
}

int SendPanel::breakMs() const
{
    return m_breakMs->value();
}

void SendPanel::setBreakMs(int ms)
{
    const QSignalBlocker block(m_breakMs);
    m_breakMs->setValue(ms);
}

void SendPanel::setSequenceRunning(bool running)
{
    m_sequenceRunning = running;
    m_stop->setEnabled(running);
}

void SendPanel::setJobBusy(bool busy)
{
    m_sequence->setEnabled(!busy);
}

void SendPanel::sendRow(int row)
{
    if (row < 0 || row >= m_table->rowCount())
        return;
    Q_EMIT sendRequested(m_table->entry(row));
}
