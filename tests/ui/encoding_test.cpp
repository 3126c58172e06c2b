// The view menu's encoding through the real program over a pseudo-terminal: a board in a UTF-8
// locale reads right, typed lines and the hexadecimal dump follow the choice, and the choice is
// kept with the settings and shown in the status strip.

#include "app/menus.h"
#include "app/viewcommands.h"
#include "widgets/statusstrip.h"
#include "widgets/terminalbox.h"
#include "support/mainwindowfixture.h"
#include "support/qtprinters.h"

#include <QAction>

using namespace Qt::StringLiterals;

TEST_F(MainWindowFixture, Utf8ChoiceReachesReceivedTypedAndHexText)
{
    startWindow();
    openPort();
    Menus &menus = m_window->menus();
    ASSERT_TRUE(menus.encodingAction(TextEncoding::Gbk)->isChecked()) << "GBK is the default";
    EXPECT_EQ(m_window->statusStrip().encodingName(), u"GBK"_s);

    menus.encodingAction(TextEncoding::Utf8)->trigger();
    EXPECT_TRUE(menus.encodingAction(TextEncoding::Utf8)->isChecked());
    EXPECT_FALSE(menus.encodingAction(TextEncoding::Gbk)->isChecked());
    EXPECT_EQ(m_store.value(u"Encoding"_s), u"UTF-8"_s);
    EXPECT_EQ(m_window->statusStrip().encodingName(), u"UTF-8"_s);

    // "你好" cut inside its first character, as a slow line delivers it; in code page 936 the
    // same bytes would show as "浣犲ソ". The marker shows that the first piece arrived alone.
    ASSERT_TRUE(m_pty.writeMaster("mark:\xE4\xBD"));
    ASSERT_TRUE(waitFor([&] { return box().text().contains(u"mark:"_s); }));
    ASSERT_TRUE(m_pty.writeMaster("\xA0\xE5\xA5\xBD\r\n"));
    ASSERT_TRUE(waitFor([&] { return box().text().contains(u"mark:你好"_s); }));
    EXPECT_FALSE(box().text().contains(QChar::ReplacementCharacter));

    type(u"好"_s);
    pressKey(Qt::Key_Return);
    EXPECT_EQ(m_pty.readMasterExactly(4, 5000), QByteArray("\xE5\xA5\xBD\r"));

    // Loop send speaks the same encoding.
    m_dialogs.answerInput(u"好"_s);
    m_dialogs.answerInput(u"1000"_s);
    click(Menus::LoopSend);
    EXPECT_EQ(m_pty.readMasterExactly(4, 5000), QByteArray("\xE5\xA5\xBD\r"));
    click(Menus::LoopSend);
    ASSERT_FALSE(m_window->menus().checked(Menus::LoopSend));

    click(Menus::HexMode);
    peerSends("\xE4\xBD\xA0");
    ASSERT_TRUE(waitFor([&] { return box().text().contains(u"E4BDA0 : 你"_s); }));
}

TEST_F(MainWindowFixture, StoredEncodingIsTakenAtStartAndUnknownTextsKeepGbk)
{
    m_store.set(u"Encoding"_s, u"UTF-8"_s);
    startWindow();
    EXPECT_TRUE(m_window->menus().encodingAction(TextEncoding::Utf8)->isChecked());
    EXPECT_EQ(m_window->statusStrip().encodingName(), u"UTF-8"_s);
    EXPECT_EQ(m_window->viewCommands().encoding(), TextEncoding::Utf8);

    EXPECT_EQ(TextEncodings::fromName(u"Big5"_s), TextEncoding::Gbk);
    EXPECT_EQ(TextEncodings::fromName(u" utf-8 "_s), TextEncoding::Utf8);
}
