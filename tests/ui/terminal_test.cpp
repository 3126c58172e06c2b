// The terminal end to end: keys typed into the real window go out on a real pseudo-terminal,
// bytes from the far end come back into the terminal, and the port commands keep the menu true.

#include "app/menus.h"
#include "widgets/terminalbox.h"
#include "support/mainwindowfixture.h"
#include "support/processprobe.h"
#include "core/colors.h"
#include "widgets/terminalwindow.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QScrollBar>
#include <QTextDocument>
#include <QTest>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

QRgb colorAt(TerminalBox &box, qsizetype position)
{
    qsizetype start = 0;
    for (const TextRun &run : box.runs()) {
        if (position < start + run.text.size()) {
            return run.color;
        }
        start += run.text.size();
    }
    return 0;
}

bool receivedAt(TerminalBox &box, qsizetype position)
{
    qsizetype start = 0;
    for (const TextRun &run : box.runs()) {
        if (position < start + run.text.size()) {
            return run.received;
        }
        start += run.text.size();
    }
    return false;
}

} // namespace

class TerminalTest : public MainWindowFixture
{
};

TEST_F(TerminalTest, StartsWithTheDefaultConfigurationAndAClosedPort)
{
    m_store = MemorySettingsStore();
    startWindow();
    EXPECT_EQ(m_port->commPort(), 1);
    EXPECT_EQ(m_port->settings(), u"9600,N,8,1"_s);
    EXPECT_EQ(m_port->handshaking(), 0);
    EXPECT_FALSE(m_port->portOpen());
    Menus &menus = m_window->menus();
    EXPECT_FALSE(menus.checked(Menus::OpenPort));
    for (int item : {Menus::Dtr, Menus::Rts, Menus::SendFile, Menus::Capture}) {
        EXPECT_FALSE(menus.enabled(item)) << item;
    }
    EXPECT_TRUE(menus.checked(Menus::SendCr));
    EXPECT_FALSE(menus.checked(Menus::HexMode));
    // The DTR and RTS marks show the port's lines, which start on.
    EXPECT_TRUE(menus.checked(Menus::Dtr));
    EXPECT_TRUE(menus.checked(Menus::Rts));
    EXPECT_TRUE(menus.toolsMenuEnabled());
    EXPECT_TRUE(menus.helpMenuEnabled());
    EXPECT_TRUE(m_dialogs.messages().isEmpty());
}

TEST_F(TerminalTest, RefusedStoredValuesAreReportedOnceAndTheWindowStaysUsable)
{
    const struct
    {
        const char16_t *key;
        const char16_t *value;
        const char16_t *mentions;
    } rows[] = {
            {u"Comport", u"COM40000", u"40000"}, // beyond a 16-bit port number
            {u"Databit", u"4", u"4"},            // Linux has no 4-bit words
            {u"Baud", u"fast", u"fast"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(QString::fromUtf16(row.value).toStdString());
        m_store = MemorySettingsStore();
        m_store.save(QString::fromUtf16(row.key), QString::fromUtf16(row.value));
        m_dialogs.clearCalls();
        m_window.reset();
        startWindow();
        ASSERT_EQ(m_dialogs.messages().size(), 1);
        EXPECT_TRUE(m_dialogs.messages().first().text.contains(QString::fromUtf16(row.mentions)));
        EXPECT_TRUE(m_window->menus().toolsMenuEnabled());
        EXPECT_FALSE(m_port->portOpen());
        type(u"x"_s);
        EXPECT_TRUE(box().text().endsWith(u"x"_s));
    }
}

TEST_F(TerminalTest, TypedLineGoesOutWithItsCountAnnotation)
{
    startWindow();
    openPort();
    type(u"AT"_s);
    pressKey(Qt::Key_Return);
    EXPECT_EQ(m_pty.readMasterExactly(3, 2000), QByteArray("AT\r"));
    EXPECT_EQ(box().text(), u"AT : 3 字符 \r\n"_s);
    EXPECT_EQ(colorAt(box(), 0), TerminalColors::Typed);
    EXPECT_EQ(colorAt(box(), 3), TerminalColors::Count);
    // Nothing more went out: one write per line.
    EXPECT_TRUE(m_pty.readMaster(100).isEmpty());
}

TEST_F(TerminalTest, EscapesAndCodePageReachThePeerAsBytes)
{
    const struct
    {
        const char16_t *typed;
        bool sendCr;
        QByteArray bytes;
        int count;
    } rows[] = {
            {u"<72><73>", true, "HI\r", 3},
            {u"<0>", false, QByteArray(1, '\0'), 1},
            {u"<10><13>", false, "\n\r", 2},
            {u"<255>", false, "\xff", 1},
            {u"啊", false, "\xb0\xa1", 1},
            {u"<256><007><-1><1 3>", false, "<256><007><-1><1 3>", 19},
            {u"<6<55>>", false, "C", 1},
            {u"<1<55>>", false, "<17>", 4},
            {u"", true, "\r", 1},
            {u"AT", false, "AT", 2},
    };
    startWindow();
    openPort();
    for (const auto &row : rows) {
        const QString typed = QString::fromUtf16(row.typed);
        SCOPED_TRACE(typed.toStdString());
        if (m_window->menus().checked(Menus::SendCr) != row.sendCr) {
            click(Menus::SendCr);
        }
        type(typed);
        pressKey(Qt::Key_Return);
        EXPECT_EQ(m_pty.readMasterExactly(row.bytes.size(), 2000).toHex(' '), row.bytes.toHex(' '));
        EXPECT_TRUE(box().text().endsWith(u" : %1 字符 \r\n"_s.arg(row.count)));
    }
    // An empty line without the CR flag writes nothing at all.
    if (m_window->menus().checked(Menus::SendCr)) {
        click(Menus::SendCr);
    }
    pressKey(Qt::Key_Return);
    EXPECT_TRUE(box().text().endsWith(u" : 0 字符 \r\n"_s));
    EXPECT_TRUE(m_pty.readMaster(100).isEmpty());
}

TEST_F(TerminalTest, ClosedPortShowsTheNoticeAndSendsNothing)
{
    startWindow();
    type(u"AT"_s);
    pressKey(Qt::Key_Return);
    const QString text = box().text();
    EXPECT_EQ(text, u"AT : 3 字符  (端口未打开! )\r\n"_s);
    EXPECT_EQ(colorAt(box(), 3), TerminalColors::Count);
    EXPECT_EQ(colorAt(box(), text.indexOf(u'(')), TerminalColors::Notice);
    EXPECT_TRUE(m_pty.readMaster(100).isEmpty());
}

TEST_F(TerminalTest, EnterSendsOnlyWhatWasTypedNotThePromptNorBytesThatArrivedMeanwhile)
{
    startWindow();
    openPort();
    peerSends("old\r\nlogin: ");
    type(u"ro"_s);
    peerSends("#"); // arrives while the user types
    type(u"ot"_s);
    pressKey(Qt::Key_Return);
    EXPECT_EQ(m_pty.readMasterExactly(5, 2000), QByteArray("root\r"));
    EXPECT_TRUE(box().text().startsWith(u"old\r\nlogin: ro#ot : 5 字符 "_s))
            << box().text().toStdString();
}

TEST_F(TerminalTest, ArrivalsGoToTheEndAndLeaveTheUsersSelectionAndCaretAlone)
{
    startWindow();
    openPort();
    peerSends("hello world\r\n");
    EXPECT_EQ(box().text(), u"hello world\r\n"_s);
    EXPECT_EQ(colorAt(box(), 0), TerminalColors::Received);
    EXPECT_TRUE(receivedAt(box(), 0));

    // A selection made with the mouse stays selected, and nothing shown changes.
    QTextCursor cursor = box().textCursor();
    cursor.setPosition(6);
    cursor.setPosition(11, QTextCursor::KeepAnchor);
    box().setTextCursor(cursor);
    peerSends("RING\r\n");
    EXPECT_EQ(box().text(), u"hello world\r\nRING\r\n"_s);
    EXPECT_EQ(box().textCursor().selectedText(), u"world"_s);

    // A selection reaching the end does not grow over what arrives.
    cursor.setPosition(12);
    cursor.setPosition(int(box().document()->characterCount() - 1), QTextCursor::KeepAnchor);
    box().setTextCursor(cursor);
    peerSends("OK");
    EXPECT_EQ(box().textCursor().selectedText(), u"RING\u2029"_s);
    EXPECT_EQ(box().text(), u"hello world\r\nRING\r\nOK"_s);

    // A plain click into the history keeps later arrivals at the end.
    box().setSelStart(3);
    peerSends("!");
    EXPECT_EQ(box().text(), u"hello world\r\nRING\r\nOK!"_s);
    EXPECT_EQ(box().selStart(), 3);

    // Typing goes to the end too, and is not marked received.
    type(u"x"_s);
    EXPECT_EQ(box().text(), u"hello world\r\nRING\r\nOK!x"_s);
    EXPECT_FALSE(receivedAt(box(), box().textLength() - 1));
    EXPECT_EQ(colorAt(box(), box().textLength() - 1), TerminalColors::Typed);
}

TEST_F(TerminalTest, TheViewFollowsArrivalsOnlyWhileItShowsTheEnd)
{
    startWindow();
    openPort();
    QByteArray lines;
    for (int i = 0; i < 200; ++i)
        lines += "line " + QByteArray::number(i) + "\r\n";
    peerSends(lines);
    QScrollBar *bar = box().verticalScrollBar();
    ASSERT_TRUE(waitFor([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }));

    // Scrolled up to read back: arrivals do not move the view.
    bar->setValue(bar->maximum() / 2);
    const int reading = bar->value();
    peerSends(lines);
    QTest::qWait(250);
    EXPECT_EQ(bar->value(), reading);

    // Back at the end, the view follows again.
    bar->setValue(bar->maximum());
    peerSends(lines);
    EXPECT_TRUE(waitFor([&] { return bar->value() == bar->maximum(); }));
    EXPECT_GT(bar->value(), reading);

    // A command typed at the end and the device's answer behind it: the answer and the next
    // prompt show, not only the command.
    type(u"ls"_s);
    pressKey(Qt::Key_Return);
    peerSends("ls\r\nbin   dev\r\nroot@guest:/root# ");
    EXPECT_TRUE(waitFor([&] {
        return bar->value() == bar->maximum()
               && box().cursorRect().bottom() <= box().viewport()->height();
    })) << "the caret is at "
        << box().cursorRect().bottom() << " in a view of " << box().viewport()->height();
}

TEST_F(TerminalTest, SplitCharactersAndLineBreaksShowOnce)
{
    startWindow();
    openPort();
    peerSends("\xb0");
    peerSends("\xa1");
    peerSends("a\r");
    peerSends("\nb");
    EXPECT_EQ(box().text(), u"啊a\r\nb"_s);
}

TEST_F(TerminalTest, HexModeShowsOneDumpLinePerChunk)
{
    startWindow();
    openPort();
    pressKey(Qt::Key_H, Qt::ControlModifier);
    ASSERT_TRUE(m_window->menus().checked(Menus::HexMode));
    peerSends("AT\r\n");
    EXPECT_EQ(box().text(), u"41 54 0D 0A : AT\r\n\r\n"_s);
    box().clearText();
    peerSends("\xb0\xa1");
    EXPECT_EQ(box().text(), u"B0A1 : 啊\r\n"_s);
    EXPECT_EQ(colorAt(box(), 0), TerminalColors::Received);
    box().clearText();
    // A chunk with nothing in it still gives its line.
    Q_EMIT m_port->received(QByteArray());
    EXPECT_EQ(box().text(), u": \r\n"_s);
}

TEST_F(TerminalTest, OpenFailureNamesPortDeviceAndReason)
{
    m_store.save(u"Comport"_s, u"COM98"_s);
    startWindow();
    click(Menus::OpenPort);
    ASSERT_EQ(m_dialogs.messages().size(), 1);
    const QString text = m_dialogs.messages().first().text;
    EXPECT_TRUE(text.contains(u"COM98"_s)) << text.toStdString();
    EXPECT_TRUE(text.contains(u"/dev/ttyAMA1"_s)) << text.toStdString();
    EXPECT_EQ(m_dialogs.messages().first().style, Dialogs::Plain);
    EXPECT_FALSE(m_window->menus().checked(Menus::OpenPort));
    for (int item : {Menus::Dtr, Menus::Rts, Menus::SendFile, Menus::Capture}) {
        EXPECT_FALSE(m_window->menus().enabled(item));
    }
}

TEST_F(TerminalTest, LineSwitchesNeedAnOpenPortAndFollowThePort)
{
    startWindow();
    for (int item : {Menus::Dtr, Menus::Rts}) {
        m_dialogs.clearCalls();
        const bool before = m_window->menus().checked(item);
        click(item);
        EXPECT_EQ(m_dialogs.messageCount(u"端口未打开!"_s, Dialogs::Information), 1);
        EXPECT_EQ(m_window->menus().checked(item), before);
    }
    openPort();
    click(Menus::Dtr);
    EXPECT_FALSE(m_port->dtrEnable());
    EXPECT_FALSE(m_window->menus().checked(Menus::Dtr));
    click(Menus::Rts);
    EXPECT_FALSE(m_window->menus().checked(Menus::Rts));
    click(Menus::OpenPort);
    EXPECT_FALSE(m_port->portOpen());
    EXPECT_FALSE(m_window->menus().enabled(Menus::Dtr));
    // Indexes outside the menu do nothing.
    for (int index : {-1, int(Menus::CommandCount), 99}) {
        click(index);
    }
    EXPECT_FALSE(m_window->menus().checked(Menus::OpenPort));
}

TEST_F(TerminalTest, MenuShortcutsWorkWhileTheTerminalHasTheFocus)
{
    startWindow();
    ASSERT_TRUE(box().hasFocus() || QApplication::focusWidget() == &box());
    pressKey(Qt::Key_F12);
    EXPECT_TRUE(m_window->menus().checked(Menus::OpenPort));
    pressKey(Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(m_window->menus().checked(Menus::HexMode));
    pressKey(Qt::Key_E, Qt::ControlModifier);
    EXPECT_FALSE(m_window->menus().checked(Menus::SendCr));
    // Ctrl+C is capture here, not copy: its dialog comes up (and is cancelled).
    m_dialogs.answerSave(std::nullopt);
    pressKey(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(m_dialogs.calls(ScriptedDialogs::Kind::SaveFile).size(), 1);
    EXPECT_FALSE(m_window->menus().checked(Menus::Capture));
    EXPECT_TRUE(box().text().isEmpty());
}

TEST_F(TerminalTest, CancelledKeysChangeNothingAndLineBreaksSurviveBackspace)
{
    startWindow();
    type(u"ab"_s);
    pressKey(Qt::Key_Down);
    type(u"cd"_s);
    const QString before = box().text();
    ASSERT_EQ(before, u"ab\r\ncd"_s);
    for (int key : {Qt::Key_Home, Qt::Key_End, Qt::Key_Left, Qt::Key_Right, Qt::Key_Up,
                    Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Delete, Qt::Key_Tab, Qt::Key_Escape,
                    Qt::Key_F2, Qt::Key_F5, Qt::Key_F11}) {
        pressKey(key);
        EXPECT_EQ(box().text(), before) << key;
        EXPECT_EQ(box().selStart(), box().textLength()) << key;
    }
    pressKey(Qt::Key_Backspace);
    pressKey(Qt::Key_Backspace);
    EXPECT_EQ(box().text(), u"ab\r\n"_s);
    // Right after a line break Backspace does nothing.
    pressKey(Qt::Key_Backspace);
    EXPECT_EQ(box().text(), u"ab\r\n"_s);
    // A caret moved with the mouse does not change where typing goes.
    box().setSelStart(1);
    type(u"z"_s);
    EXPECT_EQ(box().text(), u"ab\r\nz"_s);
}

TEST_F(TerminalTest, PastedTextGoesToTheEndAndWaitsForEnter)
{
    startWindow();
    openPort();
    type(u"ab"_s);
    box().setSelStart(0);
    QGuiApplication::clipboard()->setText(u"cd"_s);
    pressKey(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(box().text(), u"abcd"_s);
    EXPECT_TRUE(m_pty.readMaster(100).isEmpty());
    pressKey(Qt::Key_Return);
    EXPECT_EQ(m_pty.readMasterExactly(5, 2000), QByteArray("abcd\r"));
}

TEST_F(TerminalTest, AVanishedDeviceIsNoticedOnceWaitedForCheaplyAndF12EndsTheWait)
{
    startWindow();
    openPort();
    m_pty.closeMaster();
    EXPECT_TRUE(waitFor([&] { return !m_window->menus().checked(Menus::OpenPort); }, 1000));
    EXPECT_FALSE(m_port->portOpen());
    for (int item : {Menus::Dtr, Menus::Rts, Menus::SendFile, Menus::Capture}) {
        EXPECT_FALSE(m_window->menus().enabled(item));
    }
    QTest::qWait(200);
    // One line in the terminal says so; no box waits for an answer.
    EXPECT_TRUE(m_dialogs.messages().isEmpty()) << m_dialogs.messages()[0].text.toStdString();
    const QStringList notices = noticeLines();
    ASSERT_EQ(notices.size(), 1) << notices.join(u'|').toStdString();
    EXPECT_TRUE(notices.first().contains(u"COM7"_s)) << notices.first().toStdString();

    // Waiting for the device is no busy loop: a second of it costs a small share of a second
    // of CPU.
    EXPECT_LT(cpuSecondsOverClockTicks(2), 0.3);
    EXPECT_EQ(noticeLines().size(), 1) << "failed looks for the device must stay quiet";

    // F12 ends the wait. The device is still dead, so the opening it asks for fails aloud, once;
    // after that a device under the port's name is no longer looked for.
    pressKey(Qt::Key_F12);
    ASSERT_EQ(m_dialogs.messages().size(), 1);
    EXPECT_TRUE(m_dialogs.messages().first().text.contains(u"COM7"_s));
    EXPECT_FALSE(m_window->menus().checked(Menus::OpenPort));
    EXPECT_FALSE(m_window->waitingForPort()) << "the port would reopen after F12 ended the wait";
    EXPECT_EQ(noticeLines().size(), 1);
}
