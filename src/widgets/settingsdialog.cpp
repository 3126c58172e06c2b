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

// The design is laid out in twips; a pixel is 15 of them, and Qt scales pixels for high DPI.
constexpr int TwipsPerPixel = 15;
constexpr int px(int twips)
{
    return twips / TwipsPerPixel;
}

constexpr int ClientWidth = 3135;
constexpr int ClientHeight = 2820;
constexpr int ComboWidth = 1335;
constexpr int ComboHeight = 315;
constexpr int ButtonWidth = 1095;
constexpr int ButtonHeight = 375;
constexpr int LeftColumn = 120;
constexpr int RightColumn = 1680;

} // namespace

SettingsDialog::SettingsDialog(SettingsStore &store, Dialogs &dialogs, QWidget *parent)
    // A small fixed tool window: no minimise or maximise button and no task-bar entry.
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                              | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
    , m_store(store)
    , m_dialogs(dialogs)
{
    setObjectName(u"Form2"_s);
    setWindowTitle(u"串口设置"_s);
    setProperty(HelpMenu::sectionProperty(), u"串口设置"_s);
    setModal(true);
    setFixedSize(px(ClientWidth), px(ClientHeight));

    // Created in tab order: each label above its list, the left column first.
    addLabel(u"Label1"_s, u"端口"_s, LeftColumn, 120);
    m_combo1 = addCombo(u"Combo1"_s, LeftColumn, 360);
    addLabel(u"Label2"_s, u"波特率"_s, LeftColumn, 720);
    m_combo2 = addCombo(u"Combo2"_s, LeftColumn, 960);
    addLabel(u"Label3"_s, u"数据位"_s, LeftColumn, 1320);
    m_combo3 = addCombo(u"Combo3"_s, LeftColumn, 1560);
    addLabel(u"Label4"_s, u"校验"_s, RightColumn, 120);
    m_combo4 = addCombo(u"Combo4"_s, RightColumn, 360);
    addLabel(u"Label5"_s, u"停止位"_s, RightColumn, 720);
    m_combo5 = addCombo(u"Combo5"_s, RightColumn, 960);
    addLabel(u"Label6"_s, u"握手协议"_s, RightColumn, 1320);
    m_combo6 = addCombo(u"Combo6"_s, RightColumn, 1560);
    m_command1 = addButton(u"Command1"_s, u"应用"_s, 360, 2160);
    m_command2 = addButton(u"Command2"_s, u"取消"_s, RightColumn, 2160);

    QWidget *const tabOrder[]
            = {m_combo1, m_combo2, m_combo3, m_combo4, m_combo5, m_combo6, m_command1, m_command2};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(m_command1, &QPushButton::clicked, this, &SettingsDialog::Command1_Click);
    connect(m_command2, &QPushButton::clicked, this, &SettingsDialog::Command2_Click);
    connect(m_combo1, &QComboBox::currentIndexChanged, this, &SettingsDialog::showPortTarget);

    Form_Load();
}

void SettingsDialog::Form_Load()
{
    const PortSettings stored = PortSettings::load(m_store);
    fillAndSelect(m_combo1, portEntries(), stored.comport);
    // Each port entry's tip says where it leads now; the system is asked once per opening.
    const QHash<QString, QString> known = PortPath::knownDevices();
    const qsizetype portCount = portEntries().size();
    for (int i = 0; i < portCount; ++i)
        m_combo1->setItemData(i, PortPath::describeTarget(i + 1, known), Qt::ToolTipRole);
    showPortTarget(m_combo1->currentIndex());
    fillAndSelect(m_combo2, baudEntries(), stored.baud);
    fillAndSelect(m_combo3, databitEntries(), stored.databit);
    fillAndSelect(m_combo4, parityEntries(), stored.parity);
    fillAndSelect(m_combo5, stopbitEntries(), stored.stopbit);
    fillAndSelect(m_combo6, flowEntries(), stored.flow);
    m_combo1->setFocus();
}

void SettingsDialog::Command1_Click()
{
    PortSettings chosen;
    chosen.comport = m_combo1->currentText();
    chosen.baud = m_combo2->currentText();
    chosen.databit = m_combo3->currentText();
    chosen.parity = m_combo4->currentText();
    chosen.stopbit = m_combo5->currentText();
    chosen.flow = m_combo6->currentText();
    chosen.save(m_store);
    Q_EMIT stored();
    // Asking for a restart after a save that failed would claim success: say what failed.
    if (const QString error = m_store.saveError(); !error.isEmpty()) {
        m_dialogs.message(error, Dialogs::Exclamation);
        return;
    }
    m_dialogs.message(u"You need restart program, thank you"_s, Dialogs::Information);
}

void SettingsDialog::Command2_Click()
{
    reject();
}

void SettingsDialog::showPortTarget(int index)
{
    m_combo1->setToolTip(m_combo1->itemData(index, Qt::ToolTipRole).toString());
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
    label->move(px(left), px(top));
    // Labels size themselves to their caption.
    label->adjustSize();
    return label;
}

QComboBox *SettingsDialog::addCombo(const QString &name, int left, int top)
{
    auto *combo = new QComboBox(this);
    combo->setObjectName(name);
    combo->setEditable(false);
    combo->setGeometry(px(left), px(top), px(ComboWidth), px(ComboHeight));
    return combo;
}

QPushButton *SettingsDialog::addButton(const QString &name, const QString &caption, int left,
                                       int top)
{
    auto *button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setGeometry(px(left), px(top), px(ButtonWidth), px(ButtonHeight));
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
