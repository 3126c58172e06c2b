#include "commands/loopsend.h"

#include "support/commandfixture.h"

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
        m_dialogs.setSleepCap(0);
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
    m_dialogs.onDoEvents = [this] {
        EXPECT_TRUE(m_menus.checked(Menus::LoopSend)) << "the mark shows the running loop";
        if (m_dialogs.doEventsCount() == 2) {
            m_menus.setChecked(Menus::SendCr, false);
        }
        if (m_dialogs.doEventsCount() == 4) {
            m_loop.clicked(); // the second click, taken in while the loop lets events run
        }
    };
    start(u"AT"_s, u"1000"_s);

    EXPECT_EQ(m_pty.readMaster(2000, 200), QByteArray("AT\rAT\rATAT"));
    EXPECT_FALSE(m_menus.checked(Menus::LoopSend));
    EXPECT_EQ(m_dialogs.sleeps(), QList<int>({1000, 1000, 1000, 1000}));

    const QList<ScriptedDialogs::Call> prompts = m_dialogs.calls(ScriptedDialogs::Kind::InputBox);
    ASSERT_EQ(prompts.size(), 2);
    EXPECT_EQ(prompts[0].text, u"Enter Your Message For Loop Send"_s);
    EXPECT_EQ(prompts[0].defaultAnswer, QString());
    EXPECT_EQ(prompts[1].text, u"输入延时毫秒"_s);
    EXPECT_EQ(prompts[1].defaultAnswer, u"1000"_s);
}

TEST_F(LoopSendTest, MessageGoesOutInCodePage936AndTheDelayIsRoundedHalfToEven)
{
    m_dialogs.onDoEvents = [this] {
        m_loop.clicked();
    };
    start(u"中"_s, u"2.5"_s);
    EXPECT_EQ(m_pty.readMaster(2000), QByteArray("\xD6\xD0\r"));
    EXPECT_EQ(m_dialogs.sleeps(), QList<int>({2}));
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
    EXPECT_EQ(m_dialogs.doEventsCount(), 0);
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
    m_dialogs.onDoEvents = [this] {
        if (m_dialogs.doEventsCount() == 2) {
            closePort();
        }
        if (m_dialogs.doEventsCount() > 5) {
            m_loop.clicked(); // keeps a regression from hanging the test
        }
    };
    start(u"AT"_s, u"0"_s);
    EXPECT_EQ(m_dialogs.doEventsCount(), 2);
    EXPECT_FALSE(m_menus.checked(Menus::LoopSend));
    EXPECT_EQ(m_pty.readMaster(1000, 200), QByteArray("AT\rAT\r"));
    EXPECT_TRUE(m_dialogs.messages().isEmpty());
}

TEST_F(LoopSendTest, TheLoopEndsQuietlyWhenTheProgramEndsOrTheCommandGoesAway)
{
    m_dialogs.onDoEvents = [this] {
        m_loop.stopRunning();
    };
    start(u"AT"_s, u"0"_s);
    EXPECT_EQ(m_dialogs.doEventsCount(), 1);

    auto loop = std::make_unique<LoopSend>(m_context);
    m_dialogs.onDoEvents = [&] {
        loop.reset();
    };
    m_dialogs.answerInput(u"AT"_s);
    m_dialogs.answerInput(u"0"_s);
    loop->clicked();
    EXPECT_EQ(m_dialogs.doEventsCount(), 2);
}

} // namespace
