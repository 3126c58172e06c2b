// The send panel through the real window over a pseudo-terminal, with a real Modbus RTU server
// (libmodbus) as the far end where a device's answer matters.

#include "app/menus.h"
#include "app/paneldock.h"
#include "core/checksum.h"
#include "core/configpaths.h"
#include "core/sendpanelfile.h"
#include "core/jobrunner.h"
#include "support/mainwindowfixture.h"
#include "widgets/sendpanel.h"
#include "widgets/sendpaneltable.h"
#include "widgets/terminalbox.h"

#include <QApplication>
#include <QDockWidget>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>

#include <modbus.h>
#include <sys/ioctl.h>

using namespace Qt::StringLiterals;

namespace {

SendEntry textEntry(const QString &content, SendEntry::Ending ending = SendEntry::Ending::None)
{
    SendEntry e;
    e.content = content;
    e.ending = ending;
    return e;
}

SendEntry hexEntry(const QString &content, ChecksumKind checksum = ChecksumKind::None)
{
    SendEntry e;
    e.content = content;
    e.format = SendEntry::Format::Hex;
    e.checksum = checksum;
    return e;
}

class SendPanelTest : public MainWindowFixture
{
protected:
    SendPanel &panel() { return m_window->panelDock().panel(); }
    QPushButton *panelButton(const QString &name) { return panel().findChild<QPushButton *>(name); }
    QPushButton *rowButton(int row)
    {
        return qobject_cast<QPushButton *>(panel().table().cellWidget(row, SendPanelTable::Send));
    }
    // Bytes waiting on the far end; the server reads only once the whole request is there,
    // since it reads without running the window's events.
    int masterWaiting()
    {
        int waiting = 0;
        return ::ioctl(m_pty.masterFd(), FIONREAD, &waiting) == 0 ? waiting : 0;
    }
    // What the far end gets, up to and including the marker byte sent after it: a state to
    // wait for, where waiting for silence would be a guess.
    QByteArray readUpToMarker()
    {
        panel().sendRequested(textEntry(u"Z"_s));
        QByteArray got;
        while (!got.endsWith('Z')) {
            const QByteArray more = m_pty.readMaster(10000, 1);
            if (more.isEmpty())
                break;
            got += more;
        }
        return got;
    }
};

TEST_F(SendPanelTest, ModbusServerAnswersAnEntryWithItsCrcAndTheAnswerShowsInHex)
{
    startWindow();
    openPort();
    click(Menus::HexMode);
    panel().setEntries({hexEntry(u"01 03 00 00 00 02"_s, ChecksumKind::Modbus)});

    modbus_t *server = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    ASSERT_NE(server, nullptr);
    modbus_set_slave(server, 1);
    // The server speaks on the far end of the line the window has open.
    modbus_set_socket(server, m_pty.masterFd());
    modbus_mapping_t *registers = modbus_mapping_new(0, 0, 4, 0);
    registers->tab_registers[0] = 0x1234;
    registers->tab_registers[1] = 0x5678;

    QTest::mouseClick(rowButton(0), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return masterWaiting() >= 8; }, 10000));
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    // libmodbus checks the request's CRC itself and refuses a wrong one.
    const int length = modbus_receive(server, query);
    ASSERT_EQ(length, 8) << modbus_strerror(errno);
    ASSERT_EQ(modbus_reply(server, query, length, registers), 9);
    modbus_mapping_free(registers);
    modbus_free(server);

    const QByteArray answer = QByteArray::fromHex("010304") + QByteArray::fromHex("12345678");
    const quint16 crc = crc16Modbus(answer);
    const QByteArray frame = answer + char(crc & 0xFF) + char(crc >> 8);
    // A received chunk is a hex dump line whose codes may pair up as a code page 936
    // character, so the digits are compared without their blanks.
    const QString digits = QString::fromLatin1(frame.toHex().toUpper());
    ASSERT_TRUE(waitFor([&] { return box().text().remove(u' ').contains(digits); }, 10000))
            << box().text().toStdString();
    EXPECT_TRUE(box().text().contains(u"01 03 00 00 00 02 C4 0B : 8 字符"_s))
            << "the sent frame is echoed in hex with its CRC and count";
}

TEST_F(SendPanelTest, AltDigitSendsItsEntryAndTheTerminalKeepsTheKeyboard)
{
    startWindow();
    panel().setEntries({textEntry(u"AT<33>"_s, SendEntry::Ending::Cr), hexEntry(u"0x41,0x42"_s)});

    pressKey(Qt::Key_1, Qt::AltModifier);
    EXPECT_TRUE(box().text().contains(u"AT<33> : 4 字符  (端口未打开! )"_s))
            << box().text().toStdString();

    openPort();
    pressKey(Qt::Key_2, Qt::AltModifier);
    pressKey(Qt::Key_1, Qt::AltModifier);
    EXPECT_EQ(m_pty.readMasterExactly(6, 10000), "ABAT!\r"_ba);
    EXPECT_TRUE(box().text().contains(u"41 42 : 2 字符"_s));
    EXPECT_EQ(QApplication::focusWidget(), &box()) << "the panel took the keyboard";

    // A click on a row's button sends and leaves the keyboard with the terminal too.
    m_window->menus().panelAction()->trigger();
    ASSERT_TRUE(m_window->panelDock().dock().isVisible());
    QTest::mouseClick(rowButton(1), Qt::LeftButton);
    EXPECT_EQ(m_pty.readMasterExactly(2, 10000), "AB"_ba);
    EXPECT_EQ(QApplication::focusWidget(), &box());
    // Typing still reaches the terminal.
    type(u"x"_s);
    EXPECT_TRUE(box().text().endsWith(u"x"_s));
}

TEST_F(SendPanelTest, NothingSlipsIntoTheLineWhileAnotherLongJobHasIt)
{
    startWindow();
    openPort();
    panel().setEntries({textEntry(u"PANEL"_s)});
    m_dialogs.answerInput(u"L"_s);
    m_dialogs.answerInput(u"60000"_s);
    click(Menus::LoopSend);
    ASSERT_TRUE(m_window->jobs().busy());
    EXPECT_EQ(m_pty.readMasterExactly(2, 10000), "L\r"_ba);
    pressKey(Qt::Key_1, Qt::AltModifier);
    QTest::mouseClick(panelButton(u"break"_s), Qt::LeftButton);
    EXPECT_EQ(noticeLines().filter(u"面板没有发送"_s).size(), 2);
    EXPECT_FALSE(box().text().contains(u"PANEL"_s));
    click(Menus::LoopSend);
    EXPECT_FALSE(m_window->jobs().busy());
}

TEST_F(SendPanelTest, DeleteAndMovesActOnTheRowBeingEdited)
{
    startWindow();
    m_window->menus().panelAction()->trigger();
    panel().setEntries({textEntry(u"A"_s), textEntry(u"B"_s), textEntry(u"C"_s)});
    const auto contents = [&] {
        QString all;
        for (const SendEntry &e : panel().entries())
            all += e.content;
        return all;
    };
    // A click into a row's editor goes to the editor, not to the table's own selection.
    QTest::mouseClick(panel().table().cellWidget(2, SendPanelTable::Content), Qt::LeftButton);
    QTest::mouseClick(panelButton(u"up"_s), Qt::LeftButton);
    EXPECT_EQ(contents(), u"ACB"_s);
    QTest::mouseClick(panel().table().cellWidget(0, SendPanelTable::Name), Qt::LeftButton);
    QTest::mouseClick(panelButton(u"remove"_s), Qt::LeftButton);
    EXPECT_EQ(contents(), u"CB"_s);
}

TEST_F(SendPanelTest, HexFaultIsMarkedAsTypedAndTheRowCannotSend)
{
    startWindow();
    panel().setEntries({hexEntry(u""_s, ChecksumKind::Modbus)});
    auto *content
            = qobject_cast<QLineEdit *>(panel().table().cellWidget(0, SendPanelTable::Content));
    ASSERT_NE(content, nullptr);
    QTest::keyClicks(content, u"01 0G"_s);
    EXPECT_FALSE(rowButton(0)->isEnabled());
    EXPECT_TRUE(content->toolTip().contains(u"第 5 个字符"_s)) << content->toolTip().toStdString();
    QTest::keyClick(content, Qt::Key_Backspace);
    QTest::keyClicks(content, u"3 00 0A 00 02"_s);
    EXPECT_TRUE(rowButton(0)->isEnabled());
    EXPECT_TRUE(content->toolTip().contains(u"01 03 00 0A 00 02 E4 09"_s))
            << content->toolTip().toStdString();
}

TEST_F(SendPanelTest, SequenceSendsCheckedEntriesForItsRoundsAndStopEndsAnEndlessOne)
{
    startWindow();
    openPort();
    SendEntry skipped = textEntry(u"C"_s);
    skipped.checked = false;
    panel().setEntries({textEntry(u"A"_s), skipped, hexEntry(u"42"_s)});

    panel().findChild<QSpinBox *>(u"rounds"_s)->setValue(2);
    QTest::mouseClick(panelButton(u"sequence"_s), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !m_window->jobs().busy(); }, 10000));
    EXPECT_EQ(readUpToMarker(), "ABABZ"_ba);

    panel().findChild<QSpinBox *>(u"rounds"_s)->setValue(0);
    QTest::mouseClick(panelButton(u"sequence"_s), Qt::LeftButton);
    EXPECT_EQ(m_pty.readMasterExactly(6, 10000), "ABABAB"_ba);
    ASSERT_TRUE(m_window->jobs().busy());
    EXPECT_FALSE(m_window->menus().enabled(Menus::SendFile)) << "other long jobs are locked out";
    EXPECT_FALSE(panelButton(u"sequence"_s)->isEnabled());
    QTest::mouseClick(panelButton(u"stop"_s), Qt::LeftButton);
    EXPECT_FALSE(m_window->jobs().busy());
    EXPECT_TRUE(m_window->menus().enabled(Menus::SendFile));
    const QByteArray rest = readUpToMarker();
    EXPECT_TRUE(QRegularExpression(u"^B?(AB)*A?Z$"_s).match(QString::fromLatin1(rest)).hasMatch())
            << rest.toStdString();
    // Hours of a sequence would otherwise wash the user's own sends out of the history.
    for (const SendEntry &sent : panel().history())
        EXPECT_EQ(sent.content, u"Z"_s);
}

TEST_F(SendPanelTest, ImportAddsToThePanelAndARefusedFileChangesNothing)
{
    // A stored panel the program cannot read is kept aside before anything overwrites it.
    const QString stored = SendPanelFile::panelPath(ConfigPaths::settingsFile());
    QFile garbage(stored);
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("{\"version\": 1, \"entries\": [");
    garbage.close();
    startWindow();
    ASSERT_EQ(m_dialogs.messages().size(), 1);
    EXPECT_TRUE(m_dialogs.messages()[0].text.contains(u"JSON"_s));
    EXPECT_TRUE(QFile::exists(stored + u".bad"_s));
    EXPECT_TRUE(panel().entries().isEmpty());

    panel().setEntries({hexEntry(u"01 02"_s, ChecksumKind::Crc32)});
    const QString exported = m_config.path() + u"/bench.json"_s;
    m_dialogs.answerSave(exported);
    QTest::mouseClick(panelButton(u"export"_s), Qt::LeftButton);
    m_dialogs.answerOpen(exported);
    QTest::mouseClick(panelButton(u"import"_s), Qt::LeftButton);
    ASSERT_EQ(panel().entries().size(), 2) << "an import adds, it never replaces";
    EXPECT_EQ(panel().entries()[1], hexEntry(u"01 02"_s, ChecksumKind::Crc32));

    const QString gbk = m_config.path() + u"/gbk.json"_s;
    QFile foreign(gbk);
    ASSERT_TRUE(foreign.open(QIODevice::WriteOnly));
    foreign.write("{\"version\":1,\"entries\":[{\"content\":\"\xD6\xD0\"}]}");
    foreign.close();
    m_dialogs.clearCalls();
    m_dialogs.answerOpen(gbk);
    QTest::mouseClick(panelButton(u"import"_s), Qt::LeftButton);
    ASSERT_EQ(m_dialogs.messages().size(), 1);
    EXPECT_TRUE(m_dialogs.messages()[0].text.contains(u"UTF-8"_s));
    EXPECT_TRUE(m_dialogs.messages()[0].text.contains(gbk));
    EXPECT_EQ(panel().entries().size(), 2);
}

TEST_F(SendPanelTest, EntriesHistoryAndDockAreKeptAcrossRestarts)
{
    startWindow();
    openPort();
    panel().setEntries({hexEntry(u"01 02"_s, ChecksumKind::Xor8), textEntry(u"名称"_s)});
    m_window->menus().panelAction()->trigger();
    type(u"hello"_s);
    pressKey(Qt::Key_Return);
    ASSERT_EQ(m_pty.readMasterExactly(6, 10000), "hello\r"_ba);
    m_window.reset();

    startWindow();
    EXPECT_TRUE(m_window->menus().panelAction()->isChecked());
    EXPECT_TRUE(m_window->panelDock().dock().isVisible());
    ASSERT_EQ(panel().entries().size(), 2);
    EXPECT_EQ(panel().entries()[0], hexEntry(u"01 02"_s, ChecksumKind::Xor8));
    ASSERT_FALSE(panel().history().isEmpty());
    EXPECT_EQ(panel().history().last(), textEntry(u"hello"_s, SendEntry::Ending::Cr));
}

} // namespace
