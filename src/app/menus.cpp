#include "app/menus.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include <array>

using namespace Qt::StringLiterals;

namespace {

struct ItemDesign
{
    const char16_t *caption;
    QKeyCombination shortcut;
    int helpContext; // -1: none
    bool checkable;
};

QKeyCombination none()
{
    return QKeyCombination(Qt::Key_unknown);
}

const std::array<ItemDesign, Menus::CommandCount> &toolsDesign()
{
    static const std::array<ItemDesign, Menus::CommandCount> design = {{
            {u"设置", Qt::CTRL | Qt::Key_F12, 1000, false},
            {u"打开端口", QKeyCombination(Qt::Key_F12), 1001, true},
            {u"DTR", Qt::CTRL | Qt::Key_D, 1002, true},
            {u"RTS", Qt::CTRL | Qt::Key_R, 1003, true},
            {u"发送文件", Qt::CTRL | Qt::Key_F, 1004, false},
            {u"捕获到文件", Qt::CTRL | Qt::Key_C, 1005, true},
            {u"发送回车", Qt::CTRL | Qt::Key_E, 1006, true},
            {u"十六进制模式", Qt::CTRL | Qt::Key_H, 1007, true},
            {u"循环发送", Qt::CTRL | Qt::Key_P, 1008, true},
            {u"-", none(), -1, false},
            {u"加载工作区", Qt::CTRL | Qt::Key_L, 1009, false},
            {u"保存工作区", Qt::CTRL | Qt::Key_S, 1010, false},
            {u"清除工作区", Qt::CTRL | Qt::Key_F11, 1011, false},
            {u"-", none(), -1, false},
            {u"打开文件为十六进制", Qt::CTRL | Qt::Key_O, 1012, false},
            {u"-", none(), -1, false},
            {u"退出", Qt::CTRL | Qt::Key_Q, -1, false},
    }};
    return design;
}

QAction *makeAction(QMenu *menu, const QString &caption)
{
    auto *action = new QAction(menu);
    if (caption == u"-"_s) {
        action->setSeparator(true);
    } else {
        action->setText(caption);
    }
    menu->addAction(action);
    return action;
}

} // namespace

Menus::Menus(QMenuBar *menuBar, QObject *parent)
    : QObject(parent)
{
    m_MyTools = menuBar->addMenu(u"工具(&T)"_s);
    m_MyTools->setObjectName(u"MyTools"_s);
    // Not one of the tools: a menu of its own beside them, which leaves the tools menu as it is.
    m_transfer = menuBar->addMenu(u"传输(&X)"_s);
    m_transfer->setObjectName(u"Transfer"_s);
    m_HelpIT = menuBar->addMenu(u"帮助"_s);
    m_HelpIT->setObjectName(u"HelpIT"_s);

    const auto &design = toolsDesign();
    for (int i = 0; i < CommandCount; ++i) {
        const ItemDesign &item = design[static_cast<size_t>(i)];
        QAction *action = makeAction(m_MyTools, QString::fromUtf16(item.caption));
        action->setObjectName(u"MyCommand_%1"_s.arg(i));
        if (item.shortcut.key() != Qt::Key_unknown) {
            action->setShortcut(QKeySequence(item.shortcut));
            // The shortcuts belong to the whole main window, the terminal included.
            action->setShortcutContext(Qt::WindowShortcut);
        }
        if (item.helpContext >= 0) {
            action->setProperty("helpContext", item.helpContext);
        }
        action->setCheckable(item.checkable);
        if (!action->isSeparator()) {
            connect(action, &QAction::triggered, this, [this, i] { onCommandTriggered(i); });
        }
        m_MyCommand.append(action);
    }
    for (int i : {Dtr, Rts, SendFile, Capture}) {
        m_MyCommand[i]->setEnabled(false);
    }
    m_MyCommand[SendCr]->setChecked(true);

    const std::array<const char16_t *, TransferCount> transfers = {u"XMODEM 发送文件(&X)...",
                                                                   u"YMODEM 发送文件(&Y)...",
                                                                   u"-",
                                                                   u"YMODEM 接收文件(&R)...",
                                                                   u"-",
                                                                   u"ZMODEM 接收文件(&Z)...",
                                                                   u"ZMODEM 发送文件(&M)...",
                                                                   u"-",
                                                                   u"自动开始 ZMODEM(&A)"};
    for (int i = 0; i < TransferCount; ++i) {
        QAction *action
                = makeAction(m_transfer, QString::fromUtf16(transfers[static_cast<size_t>(i)]));
        action->setObjectName(u"Transfer_%1"_s.arg(i));
        if (i == ZmodemAuto) {
            // A switch, not a transfer: it stays within reach while the port is closed.
            action->setCheckable(true);
            action->setChecked(true);
            connect(action, &QAction::toggled, this, &Menus::zmodemAutoToggled);
        } else if (!action->isSeparator()) {
            connect(action, &QAction::triggered, this, [this, i] { Q_EMIT transferClicked(i); });
        }
        m_transferItems.append(action);
    }
    setTransfersEnabled(false);

    const std::array<const char16_t *, HelpCount> help = {u"帮助", u"-", u"关于"};
    for (int i = 0; i < HelpCount; ++i) {
        QAction *action = makeAction(m_HelpIT, QString::fromUtf16(help[static_cast<size_t>(i)]));
        action->setObjectName(u"MyHelp_%1"_s.arg(i));
        if (!action->isSeparator()) {
            connect(action, &QAction::triggered, this, [this, i] { Q_EMIT helpClicked(i); });
        }
        m_MyHelp.append(action);
    }
    addViewMenu(menuBar);
}

void Menus::addViewMenu(QMenuBar *menuBar)
{
    // Right before the help menu, wherever the menus added before it put that.
    m_view = new QMenu(u"视图(&V)"_s, menuBar);
    m_view->setObjectName(u"ViewMenu"_s);
    menuBar->insertMenu(m_HelpIT->menuAction(), m_view);
    m_plotItem = m_view->addAction(u"波形图(&G)"_s);
    m_plotItem->setObjectName(u"PlotItem"_s);
    m_timeStampsItem = m_view->addAction(u"时间戳(&T)"_s);
    m_timeStampsItem->setObjectName(u"TimeStampsItem"_s);
    m_timeStampsItem->setCheckable(true);
    connect(m_plotItem, &QAction::triggered, this, &Menus::plotClicked);
    connect(m_timeStampsItem, &QAction::toggled, this, &Menus::timeStampsToggled);
}

void Menus::onCommandTriggered(int index)
{
    // A checkable QAction flips its own mark before it reports the trigger; put it back, since
    // the command decides what the mark becomes.
    QAction *action = m_MyCommand[index];
    if (action->isCheckable()) {
        const QSignalBlocker block(action);
        action->setChecked(!action->isChecked());
    }
    Q_EMIT commandClicked(index);
}

bool Menus::checked(int item) const
{
    Q_ASSERT(item >= 0 && item < CommandCount);
    return m_MyCommand[item]->isChecked();
}

void Menus::setChecked(int item, bool on)
{
    Q_ASSERT(item >= 0 && item < CommandCount);
    m_MyCommand[item]->setChecked(on);
}

bool Menus::enabled(int item) const
{
    Q_ASSERT(item >= 0 && item < CommandCount);
    return m_MyCommand[item]->isEnabled();
}

void Menus::setEnabled(int item, bool on)
{
    Q_ASSERT(item >= 0 && item < CommandCount);
    m_MyCommand[item]->setEnabled(on);
}

void Menus::setToolsMenuEnabled(bool on)
{
    m_MyTools->setEnabled(on);
    m_MyTools->menuAction()->setEnabled(on);
}

void Menus::setHelpMenuEnabled(bool on)
{
    m_HelpIT->setEnabled(on);
    m_HelpIT->menuAction()->setEnabled(on);
}

bool Menus::toolsMenuEnabled() const
{
    return m_MyTools->menuAction()->isEnabled();
}

bool Menus::helpMenuEnabled() const
{
    return m_HelpIT->menuAction()->isEnabled();
}

QAction *Menus::commandAction(int item) const
{
    return m_MyCommand.value(item);
}

QAction *Menus::helpAction(int item) const
{
    return m_MyHelp.value(item);
}

QList<QKeySequence> Menus::shortcuts() const
{
    QList<QKeySequence> list;
    for (QAction *action : m_MyCommand) {
        if (!action->shortcut().isEmpty()) {
            list.append(action->shortcut());
        }
    }
    return list;
}

QAction *Menus::transferAction(int item) const
{
    Q_ASSERT(item >= 0 && item < TransferCount);
    return m_transferItems[item];
}

void Menus::setTransfersEnabled(bool on)
{
    for (QAction *action : std::as_const(m_transferItems)) {
        if (!action->isSeparator() && action != m_transferItems.value(ZmodemAuto))
            action->setEnabled(on);
    }
}
