#include "commands/loopsend.h"

#include "support/commandfixture.h"

#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

class LoopSendTest : public CommandFixture
{
protected:
    void SetUp() override
    {
        CommandFixture::SetUp();
        if (!HasFatalFailure()) {
            openPort();
        }
    }

    void start(const QString &message, const QString &delay)
    {
        m_dialogs.answerInput(message);
        m_dialogs.answerInput(delay);
        m_loop.clicked();
    }

    LoopSend m_loop{m_context};
};

TEST_F(LoopSendTest, EachPassSendsTheMessageWithCarriageReturnWhileItem6IsChecked)
{
    ASSERT_TRUE(m_menus.checked(Menus::SendCr));
    start(u"AT"_s, u"500"_s);
    EXPECT_TRUE(m_menus.checked(Menus::LoopSend)) << "the mark shows the running loop";
    EXPECT_EQ(m_loop.delay(), 500);
    // The pause is a timer: the window's events run throughout, and the mark is read anew.
    EXPECT_EQ(m_pty.readMasterExactly(6, 5000), QByteArray("AT\rAT\r"));
    m_state.setChecked(Switches::SendCr, false);
    EXPECT_EQ(m_pty.readMasterExactly(4, 5000), QByteArray("ATAT"));
    // The second click ends the loop at once, without one more sending.
    m_loop.clicked();
    EXPECT_FALSE(m_menus.checked(Menus::LoopSend));
    EXPECT_TRUE(m_pty.readMaster(800).isEmpty());

    const QList<ScriptedDialogs::Call> prompts = m_dialogs.calls(ScriptedDialogs::Kind::InputBox);
    ASSERT_EQ(prompts.size(), 2);
    EXPECT_EQ(prompts[0].text, u"Enter Your Message For Loop Send"_s);
    EXPECT_EQ(prompts[0].defaultAnswer, QString());
    EXPECT_EQ(prompts[1].text, u"输入延时毫秒"_s);
    EXPECT_EQ(prompts[1].defaultAnswer, u"1000"_s);
}

TEST_F(LoopSendTest, MessageGoesOutInCodePage936AndTheDelayIsRoundedHalfToEven)
{
    start(u"中"_s, u"2.5"_s);
    EXPECT_EQ(m_loop.delay(), 2);
    EXPECT_EQ(m_pty.readMasterExactly(3, 2000), QByteArray("\xD6\xD0\r"));
    m_loop.clicked();
}

TEST_F(LoopSendTest, AnswersThatCannotStartALoopSendNothingAndClearTheMark)
{
    const struct
    {
        const char *what;
        QString message;
        std::optional<QString> delay; // nullopt: the second prompt must not be shown
    } cases[] = {
            {"empty message or cancelled prompt", QString(), std::nullopt},
            {"delay not a number", u"AT"_s, u"abc"_s},
            {"cancelled delay prompt", u"AT"_s, QString()},
            {"negative delay would pause for weeks", u"AT"_s, u"-5"_s},
            {"delay beyond 32 bits", u"AT"_s, u"99999999999"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        m_dialogs.answerInput(c.message);
        if (c.delay) {
            m_dialogs.answerInput(*c.delay);
        }
        m_loop.clicked();
        EXPECT_FALSE(m_menus.checked(Menus::LoopSend));
        EXPECT_EQ(m_dialogs.calls(ScriptedDialogs::Kind::InputBox).size(), c.delay ? 2 : 1);
        m_dialogs.clearCalls();
    }
    EXPECT_TRUE(m_pty.readMaster(200).isEmpty());
    EXPECT_TRUE(m_dialogs.messages().isEmpty());
}

TEST_F(LoopSendTest, AClickWithThePortClosedDoesNothingAtAll)
{
    closePort();
    m_loop.clicked(); // an unscripted prompt would fail the test
    EXPECT_FALSE(m_menus.checked(Menus::LoopSend));
    EXPECT_TRUE(m_dialogs.calls().isEmpty());
}

TEST_F(LoopSendTest, ClosingThePortDuringTheLoopEndsItInsteadOfSpinning)
{
    start(u"AT"_s, u"0"_s);
    EXPECT_EQ(m_pty.readMasterExactly(6, 2000), QByteArray("AT\rAT\r"));
    closePort();
    EXPECT_TRUE(waitForCondition([this] { return !m_menus.checked(Menus::LoopSend); }, 2000));
    EXPECT_TRUE(m_dialogs.messages().isEmpty());
}

TEST_F(LoopSendTest, AHeldLineHoldsTheLoopInsteadOfPilingMessagesUp)
{
    // The far end reads nothing: with no pause at all, the loop may still queue only one
    // message at a time.
    start(u"AT"_s, u"0"_s);
    QTest::qWait(300);
    EXPECT_LE(m_port.bytesToWrite(), 3);
    m_loop.clicked();
}

TEST_F(LoopSendTest, TheLoopEndsQuietlyWhenTheCommandGoesAway)
{
    auto loop = std::make_unique<LoopSend>(m_context);
    m_dialogs.answerInput(u"AT"_s);
    m_dialogs.answerInput(u"50"_s);
    loop->clicked();
    EXPECT_EQ(m_pty.readMasterExactly(3, 2000), QByteArray("AT\r"));
    loop.reset();
    m_pty.readMaster(300);
    EXPECT_TRUE(m_pty.readMaster(300).isEmpty());
}

} // namespace
