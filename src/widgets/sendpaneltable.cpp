#include "widgets/sendpaneltable.h"

#include "core/sendpanelfile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

using namespace Qt::StringLiterals;

namespace {

// A faulty content reads red, as a spelling mistake does.
const QString FaultStyle = u"QLineEdit { background: #ffd0d0; color: #900000; }"_s;

template<typename Widget>
Widget *clickOnly(Widget *widget)
{
    widget->setFocusPolicy(Qt::ClickFocus);
    return widget;
}

} // namespace

SendPanelTable::SendPanelTable(QWidget *parent)
    : QTableWidget(0, ColumnCount, parent)
{
    setObjectName(u"SendPanelTable"_s);
    setHorizontalHeaderLabels({u"顺序"_s, u"名称"_s, u"内容"_s, u"格式"_s, u"行尾"_s, u"校验"_s,
                               u"延时(ms)"_s, u""_s});
    // Sized once after rows come rather than by the headers themselves: a header that fits its
    // contents measures every row at every insertion, a minute for a thousand entries.
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setSectionResizeMode(Content, QHeaderView::Stretch);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(QLineEdit().sizeHint().height() + 4);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::ClickFocus);
}

void SendPanelTable::setEntries(const QList<SendEntry> &entries)
{
    setUpdatesEnabled(false);
    setRowCount(0);
    m_entries = entries;
    setRowCount(int(entries.size()));
    for (int row = 0; row < rowCount(); ++row)
        addRow(row, m_entries.at(row));
    fitColumns();
    setUpdatesEnabled(true);
    Q_EMIT entriesEdited();
}

void SendPanelTable::appendEntry(const SendEntry &entry)
{
    m_entries.append(entry);
    const int row = rowCount();
    insertRow(row);
    addRow(row, entry);
    fitColumns();
    Q_EMIT entriesEdited();
}

void SendPanelTable::fitColumns()
{
    // Measures the rows in view only, so it costs the same for ten entries or a thousand.
    for (int column = 0; column < ColumnCount; ++column) {
        if (column != Content)
            resizeColumnToContents(column);
    }
}

void SendPanelTable::removeRowAt(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    removeRow(row);
    m_entries.removeAt(row);
    Q_EMIT entriesEdited();
}

void SendPanelTable::moveRow(int row, int step)
{
    const int other = row + step;
    if (row < 0 || other < 0 || row >= rowCount() || other >= rowCount())
        return;
    m_entries.swapItemsAt(row, other);
    for (const int r : {row, other}) {
        removeRow(r);
        insertRow(r);
        addRow(r, m_entries.at(r));
    }
    selectRow(other);
    Q_EMIT entriesEdited();
}

void SendPanelTable::place(int row, int column, QWidget *widget)
{
    widget->installEventFilter(this);
    setCellWidget(row, column, widget);
}

bool SendPanelTable::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        if (const int row = rowOf(static_cast<QWidget *>(watched)); row >= 0 && row != currentRow())
            selectRow(row);
    }
    return QTableWidget::eventFilter(watched, event);
}

int SendPanelTable::rowOf(const QWidget *editor) const
{
    for (int row = 0; row < rowCount(); ++row) {
        for (int column = 0; column < ColumnCount; ++column) {
            if (cellWidget(row, column) == editor)
                return row;
        }
    }
    return -1;
}

void SendPanelTable::changed(const QWidget *editor, const std::function<void(SendEntry &)> &change)
{
    const int row = rowOf(editor);
    if (row < 0)
        return;
    change(m_entries[row]);
    markRow(row);
    Q_EMIT entriesEdited();
}

void SendPanelTable::addRow(int row, const SendEntry &entry)
{
    auto *check = clickOnly(new QCheckBox);
    check->setChecked(entry.checked);
    check->setToolTip(u"勾选的命令参加顺序发送"_s);
    connect(check, &QCheckBox::toggled, this,
            [this, check](bool on) { changed(check, [on](SendEntry &e) { e.checked = on; }); });
    place(row, Checked, check);

    auto *name = clickOnly(new QLineEdit(entry.name));
    name->setPlaceholderText(u"命令 %1"_s.arg(row + 1));
    name->setMaxLength(int(SendPanelFile::MaxNameChars));
    connect(name, &QLineEdit::textEdited, this, [this, name](QString text) {
        // A pasted tab or break has no place in a one-line name, and the file refuses it.
        for (QChar &c : text) {
            if (c.category() == QChar::Other_Control)
                c = u' ';
        }
        changed(name, [text](SendEntry &e) { e.name = text; });
    });
    place(row, Name, name);

    auto *content = clickOnly(new QLineEdit(entry.content));
    content->setObjectName(u"content"_s);
    content->setMinimumWidth(200);
    content->setMaxLength(int(SendPanelFile::MaxContentChars));
    connect(content, &QLineEdit::textEdited, this,
            [this, content](const QString &text) { contentEdited(content, text); });
    place(row, Content, content);

    auto *format = clickOnly(new QComboBox);
    format->addItem(u"文本"_s, int(SendEntry::Format::Text));
    format->addItem(u"十六进制"_s, int(SendEntry::Format::Hex));
    format->setCurrentIndex(format->findData(int(entry.format)));
    connect(format, &QComboBox::activated, this, [this, format] {
        const auto value = SendEntry::Format(format->currentData().toInt());
        changed(format, [value](SendEntry &e) { e.format = value; });
    });
    place(row, Format, format);

    auto *ending = clickOnly(new QComboBox);
    for (const SendEntry::Ending e : AllEndings)
        ending->addItem(endingLabel(e), int(e));
    ending->setCurrentIndex(ending->findData(int(entry.ending)));
    connect(ending, &QComboBox::activated, this, [this, ending] {
        const auto value = SendEntry::Ending(ending->currentData().toInt());
        changed(ending, [value](SendEntry &e) { e.ending = value; });
    });
    place(row, Ending, ending);

    auto *checksum = clickOnly(new QComboBox);
    for (const ChecksumKind kind : AllChecksumKinds)
        checksum->addItem(checksumLabel(kind), int(kind));
    checksum->setCurrentIndex(checksum->findData(int(entry.checksum)));
    // Narrow in the row, so the content gets the width; the open list shows the whole labels.
    checksum->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    checksum->setMinimumContentsLength(12);
    checksum->setToolTip(checksumLabel(entry.checksum));
    connect(checksum, &QComboBox::activated, this, [this, checksum] {
        const auto value = ChecksumKind(checksum->currentData().toInt());
        checksum->setToolTip(checksumLabel(value));
        changed(checksum, [value](SendEntry &e) { e.checksum = value; });
    });
    place(row, Checksum, checksum);

    auto *delay = clickOnly(new QSpinBox);
    delay->setRange(0, MaxEntryDelayMs);
    delay->setSingleStep(100);
    delay->setValue(entry.delayMs);
    delay->setToolTip(u"顺序发送时，发送这条命令后等待的毫秒数"_s);
    connect(delay, &QSpinBox::valueChanged, this,
            [this, delay](int ms) { changed(delay, [ms](SendEntry &e) { e.delayMs = ms; }); });
    place(row, Delay, delay);

    auto *send = new QPushButton(u"发送"_s);
    send->setObjectName(u"send"_s);
    // Clicking it leaves the keyboard where it was, with the terminal.
    send->setFocusPolicy(Qt::NoFocus);
    connect(send, &QPushButton::clicked, this, [this, send] {
        if (const int r = rowOf(send); r >= 0)
            Q_EMIT sendClicked(r);
    });
    place(row, Send, send);
    markRow(row);
}

void SendPanelTable::contentEdited(QLineEdit *editor, const QString &text)
{
    changed(editor, [text](SendEntry &e) { e.content = text; });
}

QString SendPanelTable::rowError(int row) const
{
    return entryFrame(m_entries.value(row)).error;
}

void SendPanelTable::markRow(int row)
{
    const EntryFrame frame = entryFrame(m_entries.at(row));
    auto *content = static_cast<QLineEdit *>(cellWidget(row, Content));
    auto *send = static_cast<QPushButton *>(cellWidget(row, Send));
    // An empty entry is not a fault while it is being written; it only cannot go out yet.
    const bool fault = !frame.ok() && !m_entries.at(row).content.isEmpty();
    content->setStyleSheet(fault ? FaultStyle : QString());
    content->setToolTip(
            frame.ok() ? u"发送的字节（%1 个）：%2"_s.arg(frame.bytes.size())
                                 .arg(QString::fromLatin1(frame.bytes.toHex(' ').toUpper()))
                       : frame.error);
    send->setEnabled(frame.ok());
    Q_EMIT rowMarked(row, fault ? frame.error : QString());
    send->setToolTip(frame.ok() ? (row < 9 ? u"Alt+%1"_s.arg(row + 1) : QString()) : frame.error);
}
