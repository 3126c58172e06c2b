// The terminal against a real boot loader: U-Boot on QEMU's emulated ARM board, reached through
// the real main window and port, used as a person at a board's console would use it.

#include "app/menus.h"
#include "core/checksum.h"
#include "core/dialogs.h"
#include "widgets/terminalbox.h"
#include "core/portsettings.h"
#include "widgets/statusstrip.h"
#include "support/testbytes.h"
#include "support/mainwindowfixture.h"
#include "support/srecord.h"
#include "support/ubootboard.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString Prompt = u"=> "_s;
// Boot to the countdown, and a download at the emulated UART's pace (about 20 KB of S-records a
// second), with room for a busy or sanitizer machine.
constexpr int BootTimeoutMs = 60000;
constexpr int CommandTimeoutMs = 15000;
constexpr int DownloadTimeoutMs = 90000;

std::string tail(const QString &text)
{
    return text.right(800).toStdString();
}

} // namespace

class UBootTest : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        if (HasFatalFailure())
            return;
        if (const QString why = UBootBoard::missing(); !why.isEmpty())
            GTEST_SKIP() << "no U-Boot board to test against: " << why.toStdString();
        ASSERT_TRUE(m_board.start()) << m_board.error().toStdString();
        ASSERT_TRUE(m_config.linkPort(PortNumber, m_board.ptyPath()));
        m_store.save(SettingKeys::baud(), u"115200"_s);
        startWindow();
        openPort();
        if (!HasFatalFailure())
            stopAutoboot();
    }

    void TearDown() override
    {
        MainWindowFixture::TearDown();
        m_board.stop();
    }

    bool atPrompt() { return box().lastLine() == Prompt; }

    // At the prompt, with the board quiet: nothing more is on its way.
    bool waitForPrompt(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (waitFor([this] { return atPrompt(); }, int(deadline.remainingTime()))) {
            const qsizetype length = box().textLength();
            QTest::qWait(250);
            if (atPrompt() && box().textLength() == length)
                return true;
        }
        return false;
    }

    // The board counts down before it boots, and a key stops it at its prompt. A countdown that
    // ran out ends at the prompt as well, once the boot attempts have failed.
    void stopAutoboot()
    {
        ASSERT_TRUE(waitFor(
                [this] {
                    return box().text().contains(u"Hit any key to stop autoboot"_s) || atPrompt();
                },
                BootTimeoutMs))
                << "the board showed neither its countdown nor its prompt:\n"
                << tail(box().text());
        pressKey(Qt::Key_Return);
        ASSERT_TRUE(waitForPrompt(BootTimeoutMs)) << "no prompt:\n" << tail(box().text());
        // The countdown redraws its number with backspaces: one line, the number written over.
        const QStringList countdown = box().text().split(u"\r\n"_s).filter(u"autoboot"_s);
        static const QRegularExpression counting(u"^Hit any key to stop autoboot: +\\d [^\b]*$"_s);
        ASSERT_EQ(countdown.size(), 1) << tail(box().text());
        EXPECT_TRUE(counting.match(countdown.first()).hasMatch()) << tail(box().text());
    }

    // Clicks the clear button under the terminal, once it says 清除 again: while a file goes
    // out it says 停止 and stops the send instead.
    void clearTerminal()
    {
        auto *button = m_window->statusStrip().findChild<QPushButton *>();
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(waitFor([button] { return button->text() == u"清除"_s; }, CommandTimeoutMs))
                << "the clear button still says " << button->text().toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_EQ(box().textLength(), 0);
    }

    // Types a command at the prompt and gives the board's answer (what the terminal shows from
    // the command on) once the board is back at its prompt.
    QString command(const QString &line)
    {
        const QString before = box().text();
        type(line);
        pressKey(Qt::Key_Return);
        EXPECT_TRUE(waitForPrompt(CommandTimeoutMs))
                << "no prompt after " << line.toStdString() << ":\n"
                << tail(box().text());
        return box().text().mid(before.size());
    }

    // A board command from a cleared terminal, so that the line that goes out is the command
    // alone, whatever Enter does with a prompt on the line (the version test covers that).
    QString commandOnClearedLine(const QString &line)
    {
        clearTerminal();
        return command(line);
    }

    UBootBoard m_board;
};

TEST_F(UBootTest, TypedCommandAtThePromptGetsTheBoardsAnswer)
{
    // Enter must send what was typed, not the board's prompt before it: U-Boot answers
    // "=> version" with "Unknown command '=>'".
    const QString answer = command(u"version"_s);
    EXPECT_TRUE(answer.contains(u"U-Boot 20"_s)) << tail(answer);
    EXPECT_FALSE(answer.contains(u"Unknown command"_s)) << tail(answer);
}

TEST_F(UBootTest, SRecordFileSentFastOrByteByByteLandsWithTheFilesCrc)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct
    {
        const char *what;
        bool fast;
        qsizetype size;
    } sends[] = {
            // Far more than the board's UART and the line's buffer take at once.
            {"fast", true, 24 * 1024},
            // Small: byte by byte is slow by design.
            {"byte by byte", false, 512},
    };
    quint32 seed = 1;
    for (const auto &send : sends) {
        SCOPED_TRACE(send.what);
        // Each send loads other bytes, so a failed load cannot pass on what an earlier one left.
        const QByteArray data = randomBytes(send.size, seed++);
        const QByteArray srec = SRecord::encode(data, UBootBoard::LoadAddress);
        const QString path = dir.filePath(u"load%1.srec"_s.arg(seed));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(srec), srec.size());
        file.close();

        clearTerminal();
        type(u"loads"_s);
        pressKey(Qt::Key_Return);
        ASSERT_TRUE(waitFor(
                [this] { return box().text().contains(u"## Ready for S-Record download"_s); },
                CommandTimeoutMs))
                << tail(box().text());

        m_dialogs.answerOpen(path);
        m_dialogs.answerMessage(send.fast ? Dialogs::Yes : Dialogs::No);
        click(Menus::SendFile);
        // The board prints the load's summary after the closing S7 record, or gives up.
        ASSERT_TRUE(waitFor(
                [this] {
                    return atPrompt()
                           && (box().text().contains(u"## Start Addr"_s)
                               || box().text().contains(u"aborted"_s));
                },
                DownloadTimeoutMs))
                << "the load did not end:\n"
                << tail(box().text());
        const QString summary = box().text();
        EXPECT_TRUE(summary.contains(u"= %1 Bytes"_s.arg(send.size))) << tail(summary);
        const QString start = QString::number(UBootBoard::LoadAddress, 16).toUpper();
        EXPECT_TRUE(summary.contains(u"## Start Addr      = 0x%1"_s.arg(start, 8, u'0')))
                << tail(summary);
        ASSERT_TRUE(waitForPrompt(CommandTimeoutMs));

        // The board's own CRC over what it stored.
        const QString answer = commandOnClearedLine(
                u"crc32 %1 %2"_s.arg(UBootBoard::LoadAddress, 0, 16).arg(send.size, 0, 16));
        static const QRegularExpression crc(u"==> ([0-9a-f]{8})"_s);
        const QRegularExpressionMatch match = crc.match(answer);
        ASSERT_TRUE(match.hasMatch()) << tail(answer);
        EXPECT_EQ(match.captured(1), u"%1"_s.arg(crc32(data), 8, 16, QChar(u'0')));
    }
}

TEST_F(UBootTest, ImageSentByYmodemOrXmodemLandsWithTheFilesCrc)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct
    {
        const char *command;
        int item;
        const char *ready;
    } loads[] = {
            {"loady", Menus::YmodemSend, "## Ready for binary (ymodem) download"},
            {"loadx", Menus::XmodemSend, "## Ready for binary (xmodem) download"},
    };
    quint32 seed = 100;
    for (const auto &load : loads) {
        SCOPED_TRACE(load.command);
        // 65 KiB: 1 KiB blocks and a tail that is not a whole block.
        const qsizetype size = 65 * 1024 + 100;
        const QByteArray data = randomBytes(size, seed++);
        const QString path = dir.filePath(u"image%1.bin"_s.arg(seed));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(data), data.size());
        file.close();

        clearTerminal();
        type(u"%1 %2"_s.arg(QString::fromLatin1(load.command)).arg(UBootBoard::LoadAddress, 0, 16));
        pressKey(Qt::Key_Return);
        ASSERT_TRUE(waitFor([&] { return box().text().contains(QString::fromLatin1(load.ready)); },
                            CommandTimeoutMs))
                << tail(box().text());

        m_dialogs.answerOpen(path);
        const qsizetype before = noticeLines().size();
        m_window->menus().transferAction(load.item)->trigger();
        ASSERT_TRUE(waitFor([&] { return noticeLines().size() >= before + 2 && atPrompt(); },
                            DownloadTimeoutMs))
                << "the transfer did not end:\n"
                << tail(box().text());
        const QString notice = noticeLines().last();
        EXPECT_TRUE(notice.contains(u"发送完成"_s) && notice.contains(u"%1 字节"_s.arg(size)))
                << notice.toStdString();
        // Nothing of the protocol shows once the transfer has the line (the board's requests
        // before it do): the board's summary follows the notice lines.
        const QString text = box().text().mid(box().text().indexOf(noticeLines().at(before)));
        for (const QChar c : {QChar(0x06), QChar(0x15), QChar(0x18), QChar(0x01), QChar(0x02)})
            EXPECT_FALSE(text.contains(c)) << int(c.unicode()) << tail(text);
        EXPECT_TRUE(text.contains(u"## Total Size"_s)) << tail(text);
        ASSERT_TRUE(waitForPrompt(CommandTimeoutMs));

        const QString answer = commandOnClearedLine(
                u"crc32 %1 %2"_s.arg(UBootBoard::LoadAddress, 0, 16).arg(size, 0, 16));
        static const QRegularExpression crc(u"==> ([0-9a-f]{8})"_s);
        const QRegularExpressionMatch match = crc.match(answer);
        ASSERT_TRUE(match.hasMatch()) << tail(answer);
        EXPECT_EQ(match.captured(1), u"%1"_s.arg(crc32(data), 8, 16, QChar(u'0')));
    }
}
