#include "widgets/settingsdialog.h"

#include "core/appinfo.h"
#include "port/portpath.h"
#include "support/memorysettingsstore.h"
#include "support/ptypair.h"
#include "support/scripteddialogs.h"
#include "support/testapp.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

using Write = MemorySettingsStore::Save;

const QString RestartText = u"You need restart program, thank you"_s;

QList<Write> defaultWrites()
{
    return {{u"Comport"_s, u"COM1"_s}, {u"Baud"_s, u"9600"_s}, {u"Databit"_s, u"8"_s},
            {u"Parity"_s, u"None"_s},  {u"Stopbit"_s, u"1"_s}, {u"Flow"_s, u"None"_s}};
}

class SettingsDialogTest : public ::testing::Test
{
protected:
    void SetUp() override { ensureApp(); }

    // Creates the dialog as the tools menu does and shows it, active, with the keyboard.
    void open()
    {
        m_dialog = std::make_unique<SettingsDialog>(m_store, m_dialogs);
        m_dialog->show();
        QApplication::setActiveWindow(m_dialog.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_dialog.get()));
    }

    // The six lists in their order on screen, from 1: port, baud, data bits, parity, stop
    // bits, handshaking.
    QComboBox *combo(int n) const
    {
        const QString name = comboNames().value(n - 1);
        auto *found = m_dialog->findChild<QComboBox *>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    // 1 apply, 2 cancel.
    QPushButton *button(int n) const
    {
        const QString name = n == 1 ? u"ApplyButton"_s : u"CancelButton"_s;
        auto *found = m_dialog->findChild<QPushButton *>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    static QStringList comboNames()
    {
        return {u"PortCombo"_s,   u"BaudCombo"_s,     u"DataBitsCombo"_s,
                u"ParityCombo"_s, u"StopBitsCombo"_s, u"FlowCombo"_s};
    }
    QStringList shown() const
    {
        QStringList values;
        for (int n = 1; n <= 6; ++n)
            values.append(combo(n)->currentText());
        return values;
    }
    void clickApply() { QTest::mouseClick(button(1), Qt::LeftButton); }
    void clickCancel() { QTest::mouseClick(button(2), Qt::LeftButton); }

    MemorySettingsStore m_store;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<SettingsDialog> m_dialog;
};

TEST_F(SettingsDialogTest, EmptyStoreOpensOnDefaultsAndApplyWritesExactlyThem)
{
    open();
    EXPECT_EQ(shown(), (QStringList{u"COM1"_s, u"9600"_s, u"8"_s, u"None"_s, u"1"_s, u"None"_s}));
    EXPECT_EQ(QApplication::focusWidget(), combo(1));
    EXPECT_TRUE(m_store.saves().isEmpty()) << "opening must not write defaults back";

    clickApply();

    EXPECT_EQ(m_store.saves(), defaultWrites());
    ASSERT_EQ(m_dialogs.messages().size(), 1);
    const ScriptedDialogs::Call shownMessage = m_dialogs.messages().first();
    EXPECT_EQ(shownMessage.text, RestartText);
    EXPECT_EQ(shownMessage.style, Dialogs::Information);
    EXPECT_EQ(shownMessage.title, AppInfo::title());
    EXPECT_TRUE(m_dialog->isVisible());
}

TEST_F(SettingsDialogTest, PortEntriesTellWhereTheyLeadInTheirTips)
{
    TempConfigHome config;
    PtyPair pty;
    ASSERT_TRUE(config.isValid() && pty.isValid());
    ASSERT_TRUE(config.linkPort(7, pty.slavePath()));
    ASSERT_TRUE(config.linkPort(8, u"/dev/velmir-no-such-device"_s));
    m_store.save(u"Comport"_s, u"COM7"_s);
    open();

    const auto tip = [&](int number) {
        return combo(1)->itemData(number - 1, Qt::ToolTipRole).toString();
    };
    const QString link7 = config.portsDir() + u"/COM7"_s;
    EXPECT_EQ(tip(7), pty.slavePath() + u" (设备文件存在)\n经由链接 "_s + link7);
    EXPECT_EQ(tip(8),
              u"/dev/velmir-no-such-device (不存在)\n经由链接 "_s + config.portsDir() + u"/COM8"_s);
    // Without a link: the conventional device, there or not.
    for (int number : {1, 33, 64, 99}) {
        SCOPED_TRACE(number);
        const QString device = PortPath::devicePathFor(number);
        EXPECT_TRUE(tip(number).startsWith(device + u" ("_s)) << tip(number).toStdString();
        EXPECT_EQ(tip(number).endsWith(u"(不存在)"_s), !QFileInfo::exists(device));
    }
    // The closed list shows the chosen entry's tip, and follows the choice.
    EXPECT_EQ(combo(1)->toolTip(), tip(7));
    combo(1)->setCurrentIndex(7);
    EXPECT_EQ(combo(1)->toolTip(), tip(8));
    // The entries themselves are unchanged.
    QStringList texts;
    for (int i = 0; i < combo(1)->count(); ++i)
        texts.append(combo(1)->itemText(i));
    EXPECT_EQ(texts, SettingsDialog::portEntries());

    // An adapter the system knows is named, and reached through a stable link too.
    const QHash<QString, QString> known{{pty.slavePath(), u"FT232R USB UART"_s}};
    EXPECT_EQ(PortPath::describeTarget(7, known),
              pty.slavePath() + u" — FT232R USB UART (已连接)\n经由链接 "_s + link7);
}

TEST_F(SettingsDialogTest, ListsHoldExactlyTheirEntriesAndTakeNoTypedText)
{
    QStringList ports;
    for (int n = 1; n <= 99; ++n)
        ports.append(u"COM%1"_s.arg(n));
    const QList<QStringList> expected = {
            ports,
            {u"110"_s, u"300"_s, u"600"_s, u"1200"_s, u"2400"_s, u"4800"_s, u"9600"_s, u"14400"_s,
             u"19200"_s, u"38400"_s, u"57600"_s, u"115200"_s},
            {u"4"_s, u"5"_s, u"6"_s, u"7"_s, u"8"_s},
            {u"Even"_s, u"Odd"_s, u"None"_s, u"Mark"_s, u"Space"_s},
            {u"1"_s, u"1.5"_s, u"2"_s},
            {u"None"_s, u"RTS"_s, u"RTSXonXoff"_s, u"XonXoff"_s},
    };
    open();
    // Loading again must rebuild the port list, not append a second copy.
    m_dialog->loadStored();
    for (int n = 1; n <= 6; ++n) {
        SCOPED_TRACE(n);
        QStringList entries;
        for (int i = 0; i < combo(n)->count(); ++i)
            entries.append(combo(n)->itemText(i));
        EXPECT_EQ(entries, expected.at(n - 1));
        EXPECT_FALSE(combo(n)->isEditable());
    }
}

TEST_F(SettingsDialogTest, OpensOnTheStoredValues)
{
    m_store.set(u"Comport"_s, u"COM12"_s);
    m_store.set(u"Baud"_s, u"115200"_s);
    m_store.set(u"Databit"_s, u"7"_s);
    m_store.set(u"Parity"_s, u"Space"_s);
    m_store.set(u"Stopbit"_s, u"1.5"_s);
    m_store.set(u"Flow"_s, u"RTSXonXoff"_s);
    open();
    EXPECT_EQ(combo(1)->currentIndex(), 11);
    EXPECT_EQ(shown(), (QStringList{u"COM12"_s, u"115200"_s, u"7"_s, u"Space"_s, u"1.5"_s,
                                    u"RTSXonXoff"_s}));
}

TEST_F(SettingsDialogTest, ValueEditedOutsideTheProgramSurvivesApply)
{
    // Values no list offers: beyond COM99, another letter case, and an empty text.
    m_store.set(u"Comport"_s, u"COM100"_s);
    m_store.set(u"Parity"_s, u"none"_s);
    m_store.set(u"Flow"_s, QString());
    open();
    EXPECT_EQ(shown(), (QStringList{u"COM100"_s, u"9600"_s, u"8"_s, u"none"_s, u"1"_s, QString()}));
    EXPECT_EQ(combo(1)->count(), 100);
    EXPECT_EQ(combo(1)->itemText(98), u"COM99"_s);

    clickApply();

    EXPECT_EQ(m_store.saves(), (QList<Write>{{u"Comport"_s, u"COM100"_s},
                                             {u"Baud"_s, u"9600"_s},
                                             {u"Databit"_s, u"8"_s},
                                             {u"Parity"_s, u"none"_s},
                                             {u"Stopbit"_s, u"1"_s},
                                             {u"Flow"_s, QString()}}));
}

TEST_F(SettingsDialogTest, ApplyTwiceWritesTwiceAndStaysOpen)
{
    open();
    clickApply();
    clickApply();
    EXPECT_EQ(m_store.saves(), defaultWrites() + defaultWrites());
    EXPECT_EQ(m_dialogs.messageCount(RestartText, Dialogs::Information), 2);
    EXPECT_TRUE(m_dialog->isVisible());
}

TEST_F(SettingsDialogTest, ApplyThenCancelKeepsTheNewValues)
{
    open();
    // Pick with the keyboard as a user would: one down in the speed list, up in the flow list.
    QTest::keyClick(combo(2), Qt::Key_Down);
    combo(6)->setFocus();
    QTest::keyClick(combo(6), Qt::Key_End);
    EXPECT_EQ(combo(2)->currentText(), u"14400"_s);
    EXPECT_EQ(combo(6)->currentText(), u"XonXoff"_s);
    clickApply();
    clickCancel();
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), QDialog::Rejected);
    EXPECT_EQ(m_store.saveCount(), 6) << "cancel must write nothing more";

    open();
    EXPECT_EQ(shown(),
              (QStringList{u"COM1"_s, u"14400"_s, u"8"_s, u"None"_s, u"1"_s, u"XonXoff"_s}));
}

TEST_F(SettingsDialogTest, ClosingWithoutApplyWritesNothing)
{
    const std::pair<const char *, std::function<void()>> ways[] = {
            {"cancel button",
             [this] {
                 clickCancel();
             }},
            {"title bar close",
             [this] {
                 m_dialog->close();
             }},
    };
    for (const auto &[name, closeIt] : ways) {
        SCOPED_TRACE(name);
        open();
        combo(1)->setCurrentIndex(4);
        combo(4)->setCurrentIndex(0);
        closeIt();
        EXPECT_FALSE(m_dialog->isVisible());
        EXPECT_TRUE(m_store.saves().isEmpty());
        EXPECT_TRUE(m_dialogs.calls().isEmpty());

        open();
        EXPECT_EQ(combo(1)->currentText(), u"COM1"_s);
        EXPECT_EQ(combo(4)->currentText(), u"None"_s);
        m_dialog.reset();
    }
}

TEST_F(SettingsDialogTest, EnterAndEscapePressNoButtonAndDoNotClose)
{
    open();
    for (int focus : {1, 6, 7, 8}) {
        QWidget *target = focus <= 6 ? static_cast<QWidget *>(combo(focus))
                                     : static_cast<QWidget *>(button(focus - 6));
        target->setFocus();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            SCOPED_TRACE(testing::Message()
                         << "focus " << target->objectName().toStdString() << " key " << key);
            QTest::keyClick(target, key);
            EXPECT_TRUE(m_dialog->isVisible());
            EXPECT_TRUE(m_store.saves().isEmpty());
            EXPECT_TRUE(m_dialogs.calls().isEmpty());
        }
    }
}

TEST_F(SettingsDialogTest, TabWalksTheListsThenTheButtons)
{
    open();
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget()->objectName());
    }
    const QStringList expected
            = comboNames() + QStringList{u"ApplyButton"_s, u"CancelButton"_s, u"PortCombo"_s};
    EXPECT_EQ(visited, expected);
}

TEST_F(SettingsDialogTest, RunsModallyUntilCancelled)
{
    m_dialog = std::make_unique<SettingsDialog>(m_store, m_dialogs);
    EXPECT_EQ(m_dialog->objectName(), u"SettingsDialog"_s);
    EXPECT_EQ(m_dialog->windowTitle(), u"串口设置"_s);
    EXPECT_FALSE(m_dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(m_dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(m_dialog->minimumSize(), QSize(209, 188));
    EXPECT_EQ(m_dialog->maximumSize(), QSize(209, 188));

    bool wasModal = false;
    QTimer::singleShot(0, m_dialog.get(), [&] {
        wasModal = QApplication::activeModalWidget() == m_dialog.get();
        clickApply();
        clickCancel();
    });
    EXPECT_EQ(m_dialog->exec(), QDialog::Rejected);
    EXPECT_TRUE(wasModal);
    EXPECT_EQ(m_store.saves(), defaultWrites());
}

} // namespace
