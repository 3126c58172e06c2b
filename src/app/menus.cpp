#include "app/menus.h"

#include <QAction>
#include <QActionGroup>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include <array>

using namespace Qt::StringLiterals;

namespace {

struct ToolsItem
{
    const char16_t *caption;
    QKeyCombination shortcut;
    bool checkable;
    // A separator line above the item.
    bool separatorAbove = false;
};

const std::array<ToolsItem, Menus::CommandCount> &toolsItemList()
{
    static const std::array<ToolsItem, Menus::CommandCount> items = {{
            {u"设置", Qt::CTRL | Qt::Key_F12, false},
            {u"打开端口", QKeyCombination(Qt::Key_F12), true},
            {u"DTR", Qt::CTRL | Qt::Key_D, true},
            {u"RTS", Qt::CTRL | Qt::Key_R, true},
            {u"发送文件", Qt::CTRL | Qt::Key_F, false},
            {u"捕获到文件", Qt::CTRL | Qt::Key_C, true},
            {u"发送回车", Qt::CTRL | Qt::Key_E, true},
            {u"十六进制模式", Qt::CTRL | Qt::Key_H, true},
            {u"循环发送", Qt::CTRL | Qt::Key_P, true},
            {u"加载工作区", Qt::CTRL | Qt::Key_L, false, true},
            {u"保存工作区", Qt::CTRL | Qt::Key_S, false},
            {u"清除工作区", Qt::CTRL | Qt::Key_F11, false},
            {u"打开文件为十六进制", Qt::CTRL | Qt::Key_O, false, true},
            {u"退出", Qt::CTRL | Qt::Key_Q, false, true},
    }};
    return items;
}

QAction *makeAction(QMenu *menu, const QString &caption, bool separatorAbove = false)
{
    if (separatorAbove)
        menu->addSeparator();
    auto *action = new QAction(caption, menu);
    menu->addAction(action);
    return action;
}

} // namespace

Menus::Menus(QMenuBar *menuBar, QObject *parent)
    : QObject(parent)
{
    m_toolsMenu = menuBar->addMenu(u"工具(&T)"_s);
    m_toolsMenu->setObjectName(u"ToolsMenu"_s);
    // Not one of the tools: a menu of its own beside them, which leaves the tools menu as it is.
    m_transfer = menuBar->addMenu(u"传输(&X)"_s);
    m_transfer->setObjectName(u"Transfer"_s);
    m_helpMenu = menuBar->addMenu(u"帮助"_s);
    m_helpMenu->setObjectName(u"HelpMenu"_s);

    const auto &items = toolsItemList();
    for (int i = 0; i < CommandCount; ++i) {
        const ToolsItem &item = items[static_cast<size_t>(i)];
        QAction *action
                = makeAction(m_toolsMenu, QString::fromUtf16(item.caption), item.separatorAbove);
        action->setObjectName(u"ToolsItem_%1"_s.arg(i));
        action->setShortcut(QKeySequence(item.shortcut));
        // The shortcuts belong to the whole main window, the terminal included.
        action->setShortcutContext(Qt::WindowShortcut);
        action->setCheckable(item.checkable);
        connect(action, &QAction::triggered, this, [this, i] { onCommandTriggered(i); });
        m_toolsItems.append(action);
    }
    for (int i : {Dtr, Rts, SendFile, Capture}) {
        m_toolsItems[i]->setEnabled(false);
    }
    m_toolsItems[SendCr]->setChecked(true);

    const std::array<const char16_t *, TransferCount> transfers
            = {u"XMODEM 发送文件(&X)...", u"YMODEM 发送文件(&Y)...", u"YMODEM 接收文件(&R)..."};
    for (int i = 0; i < TransferCount; ++i) {
        QAction *action
                = makeAction(m_transfer, QString::fromUtf16(transfers[static_cast<size_t>(i)]),
                             i == YmodemReceive);
        action->setObjectName(u"Transfer_%1"_s.arg(i));
        connect(action, &QAction::triggered, this, [this, i] { Q_EMIT transferClicked(i); });
        m_transferItems.append(action);
    }
    setTransfersEnabled(false);

    const std::array<const char16_t *, HelpCount> help = {u"帮助", u"关于"};
    for (int i = 0; i < HelpCount; ++i) {
        QAction *action = makeAction(m_helpMenu, QString::fromUtf16(help[static_cast<size_t>(i)]),
                                     i == About);
        action->setObjectName(u"HelpItem_%1"_s.arg(i));
        connect(action, &QAction::triggered, this, [this, i] { Q_EMIT helpClicked(i); });
        m_helpItems.append(action);
    }
    addViewMenu(menuBar);
}

void Menus::addViewMenu(QMenuBar *menuBar)
{
    // Right before the help menu, wherever the menus added before it put that.
    m_view = new QMenu(u"视图(&V)"_s, menuBar);
    m_view->setObjectName(u"ViewMenu"_s);
    menuBar->insertMenu(m_helpMenu->menuAction(), m_view);
    m_plotItem = m_view->addAction(u"波形图(&G)"_s);
    m_plotItem->setObjectName(u"PlotItem"_s);
    m_timeStampsItem = m_view->addAction(u"时间戳(&T)"_s);
    m_timeStampsItem->setObjectName(u"TimeStampsItem"_s);
    m_timeStampsItem->setCheckable(true);
    connect(m_plotItem, &QAction::triggered, this, &Menus::plotClicked);
    connect(m_timeStampsItem, &QAction::toggled, this, &Menus::timeStampsToggled);

    QMenu *encodings = m_view->addMenu(u"编码"_s);
    encodings->setObjectName(u"EncodingMenu"_s);
    auto *group = new QActionGroup(encodings);
    m_gbkItem = encodings->addAction(u"GBK（代码页 936）"_s);
    m_gbkItem->setObjectName(u"EncodingGbk"_s);
    m_utf8Item = encodings->addAction(u"UTF-8"_s);
    m_utf8Item->setObjectName(u"EncodingUtf8"_s);
    for (QAction *item : {m_gbkItem, m_utf8Item}) {
        item->setCheckable(true);
        group->addAction(item);
    }
    m_gbkItem->setChecked(true);
    connect(m_gbkItem, &QAction::triggered, this,
            [this] { Q_EMIT encodingChosen(TextEncoding::Gbk); });
    connect(m_utf8Item, &QAction::triggered, this,
            [this] { Q_EMIT encodingChosen(TextEncoding::Utf8); });
}

QAction *Menus::encodingAction(TextEncoding encoding) const
{
    return encoding == TextEncoding::Utf8 ? m_utf8Item : m_gbkItem;
}

void Menus::showEncoding(TextEncoding encoding)
{
    encodingAction(encoding)->setChecked(true);
}

void Menus::onCommandTriggered(int index)
{
    // A checkable QAction flips its own mark before it reports the trigger; put it back, since
    // the command decides what the mark becomes.
    QAction *action = m_toolsItems[index];
    if (action->isCheckable()) {
        const QSignalBlocker block(action);
        action->setChecked(!action->isChecked());
    }
    Q_EMIT commandClicked(index);
}

bool Menus::checked(int item) const
{
    Q_ASSERT(item >= 0 && item < CommandCount);
    return m_toolsItems[item]->isChecked();
}

void Menus::setChecked(int item, bool on)
{
    Q_ASSERT(item >= 0 && item < CommandCount);
    m_toolsItems[item]->setChecked(on);
}

bool Menus::enabled(int item) const
{
    Q_ASSERT(item >= 0 && item < CommandCount);
    return m_toolsItems[item]->isEnabled();
}

void Menus::setEnabled(int item, bool on)
{
    Q_ASSERT(item >= 0 && item < CommandCount);
    m_toolsItems[item]->setEnabled(on);
}

void Menus::setToolsMenuEnabled(bool on)
{
    m_toolsMenu->setEnabled(on);
    m_toolsMenu->menuAction()->setEnabled(on);
}

void Menus::setHelpMenuEnabled(bool on)
{
    m_helpMenu->setEnabled(on);
    m_helpMenu->menuAction()->setEnabled(on);
}

bool Menus::toolsMenuEnabled() const
{
    return m_toolsMenu->menuAction()->isEnabled();
}

bool Menus::helpMenuEnabled() const
{
    return m_helpMenu->menuAction()->isEnabled();
}

QAction *Menus::commandAction(int item) const
{
    return m_toolsItems.value(item);
}

QAction *Menus::helpAction(int item) const
{
    return m_helpItems.value(item);
}

QList<QKeySequence> Menus::shortcuts() const
{
    QList<QKeySequence> list;
    for (QAction *action : m_toolsItems) {
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
    for (QAction *action : std::as_const(m_transferItems))
        action->setEnabled(on);
}
