#include "widgets/settingsdialog.h"

#include "core/dialogs.h"
#include "widgets/helpmenu.h"
#include "port/portpath.h"
#include "core/settingsstore.h"
#include "core/portsettings.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <iterator>

using namespace Qt::StringLiterals;

namespace {

// In pixels, which Qt scales for high DPI.
constexpr int ClientWidth = 209;
constexpr int ClientHeight = 188;
constexpr int ComboWidth = 89;
constexpr int ComboHeight = 21;
constexpr int ButtonWidth = 73;
constexpr int ButtonHeight = 25;
constexpr int LeftColumn = 8;
constexpr int RightColumn = 112;

} // namespace

SettingsDialog::SettingsDialog(SettingsStore &store, Dialogs &dialogs, QWidget *parent)
    // A small fixed tool window: no minimise or maximise button and no task-bar entry.
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                              | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
    , m_store(store)
    , m_dialogs(dialogs)
{
    setObjectName(u"SettingsDialog"_s);
    setWindowTitle(u"串口设置"_s);
    setProperty(HelpMenu::sectionProperty(), u"串口设置"_s);
    setModal(true);
    setFixedSize(ClientWidth, ClientHeight);

    // Created in tab order: each label above its list, the left column first.
    addLabel(u"PortLabel"_s, u"端口"_s, LeftColumn, 8);
    m_portCombo = addCombo(u"PortCombo"_s, LeftColumn, 24);
    addLabel(u"BaudLabel"_s, u"波特率"_s, LeftColumn, 48);
    m_baudCombo = addCombo(u"BaudCombo"_s, LeftColumn, 64);
    addLabel(u"DataBitsLabel"_s, u"数据位"_s, LeftColumn, 88);
    m_dataBitsCombo = addCombo(u"DataBitsCombo"_s, LeftColumn, 104);
    addLabel(u"ParityLabel"_s, u"校验"_s, RightColumn, 8);
    m_parityCombo = addCombo(u"ParityCombo"_s, RightColumn, 24);
    addLabel(u"StopBitsLabel"_s, u"停止位"_s, RightColumn, 48);
    m_stopBitsCombo = addCombo(u"StopBitsCombo"_s, RightColumn, 64);
    addLabel(u"FlowLabel"_s, u"握手协议"_s, RightColumn, 88);
    m_flowCombo = addCombo(u"FlowCombo"_s, RightColumn, 104);
    m_applyButton = addButton(u"ApplyButton"_s, u"应用"_s, 24, 144);
    m_cancelButton = addButton(u"CancelButton"_s, u"取消"_s, RightColumn, 144);

    QWidget *const tabOrder[] = {m_portCombo,     m_baudCombo, m_dataBitsCombo, m_parityCombo,
                                 m_stopBitsCombo, m_flowCombo, m_applyButton,   m_cancelButton};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(m_applyButton, &QPushButton::clicked, this, &SettingsDialog::apply);
    connect(m_cancelButton, &QPushButton::clicked, this, &SettingsDialog::cancel);
    connect(m_portCombo, &QComboBox::currentIndexChanged, this, &SettingsDialog::showPortTarget);

    loadStored();
}

void SettingsDialog::loadStored()
{
    const PortSettings stored = PortSettings::load(m_store);
    fillAndSelect(m_portCombo, portEntries(), stored.comport);
    // Each port entry's tip says where it leads now; the system is asked once per opening.
    const QHash<QString, QString> known = PortPath::knownDevices();
    const qsizetype portCount = portEntries().size();
    for (int i = 0; i < portCount; ++i)
        m_portCombo->setItemData(i, PortPath::describeTarget(i + 1, known), Qt::ToolTipRole);
    showPortTarget(m_portCombo->currentIndex());
    fillAndSelect(m_baudCombo, baudEntries(), stored.baud);
    fillAndSelect(m_dataBitsCombo, databitEntries(), stored.databit);
    fillAndSelect(m_parityCombo, parityEntries(), stored.parity);
    fillAndSelect(m_stopBitsCombo, stopbitEntries(), stored.stopbit);
    fillAndSelect(m_flowCombo, flowEntries(), stored.flow);
    m_portCombo->setFocus();
}

void SettingsDialog::apply()
{
    PortSettings chosen;
    chosen.comport = m_portCombo->currentText();
    chosen.baud = m_baudCombo->currentText();
    chosen.databit = m_dataBitsCombo->currentText();
    chosen.parity = m_parityCombo->currentText();
    chosen.stopbit = m_stopBitsCombo->currentText();
    chosen.flow = m_flowCombo->currentText();
    chosen.save(m_store);
    Q_EMIT stored();
    // Asking for a restart after a save that failed would claim success: say what failed.
    if (const QString error = m_store.saveError(); !error.isEmpty()) {
        m_dialogs.message(error, Dialogs::Warning);
        return;
    }
    m_dialogs.message(u"You need restart program, thank you"_s, Dialogs::Information);
}

void SettingsDialog::cancel()
{
    reject();
}

void SettingsDialog::showPortTarget(int index)
{
    m_portCombo->setToolTip(m_portCombo->itemData(index, Qt::ToolTipRole).toString());
}

QStringList SettingsDialog::portEntries()
{
    // The same list on every machine, whichever ports exist.
    QStringList ports;
    ports.reserve(99);
    for (int n = 1; n <= 99; ++n)
        ports.append(u"COM"_s + QString::number(n));
    return ports;
}

QStringList SettingsDialog::baudEntries()
{
    return {u"110"_s,  u"300"_s,   u"600"_s,   u"1200"_s,  u"2400"_s,  u"4800"_s,
            u"9600"_s, u"14400"_s, u"19200"_s, u"38400"_s, u"57600"_s, u"115200"_s};
}

QStringList SettingsDialog::databitEntries()
{
    return {u"4"_s, u"5"_s, u"6"_s, u"7"_s, u"8"_s};
}

QStringList SettingsDialog::parityEntries()
{
    return {u"Even"_s, u"Odd"_s, u"None"_s, u"Mark"_s, u"Space"_s};
}

QStringList SettingsDialog::stopbitEntries()
{
    return {u"1"_s, u"1.5"_s, u"2"_s};
}

QStringList SettingsDialog::flowEntries()
{
    return {u"None"_s, u"RTS"_s, u"RTSXonXoff"_s, u"XonXoff"_s};
}

void SettingsDialog::keyPressEvent(QKeyEvent *event)
{
    // Neither button is the default or the cancel button: Enter and Escape do nothing here,
    // and Escape must not close the dialog the way QDialog would.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void SettingsDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Centred on the screen rather than on the main window.
    if (const QScreen *screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

QLabel *SettingsDialog::addLabel(const QString &name, const QString &caption, int left, int top)
{
    auto *label = new QLabel(caption, this);
    label->setObjectName(name);
    label->move(left, top);
    // Labels size themselves to their caption.
    label->adjustSize();
    return label;
}

QComboBox *SettingsDialog::addCombo(const QString &name, int left, int top)
{
    auto *combo = new QComboBox(this);
    combo->setObjectName(name);
    combo->setEditable(false);
    combo->setGeometry(left, top, ComboWidth, ComboHeight);
    return combo;
}

QPushButton *SettingsDialog::addButton(const QString &name, const QString &caption, int left,
                                       int top)
{
    auto *button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setGeometry(left, top, ButtonWidth, ButtonHeight);
    return button;
}

void SettingsDialog::fillAndSelect(QComboBox *combo, const QStringList &entries,
                                   const QString &value)
{
    combo->clear();
    combo->addItems(entries);
    int index = combo->findText(value, Qt::MatchExactly | Qt::MatchCaseSensitive);
    // A value changed outside the program is shown as it stands, so that "应用" writes it
    // back unchanged instead of replacing it with an entry the user never picked.
    if (index < 0) {
        combo->addItem(value);
        index = combo->count() - 1;
    }
    combo->setCurrentIndex(index);
}
