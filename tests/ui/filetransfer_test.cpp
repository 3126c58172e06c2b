#include "commands/filetransfer.h"

#include "commands/filesend.h"

#include "support/testbytes.h"
#include "support/commandfixture.h"
#include "core/colors.h"
#include "receive/hextext.h"

#include <QFile>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

QByteArray counting(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        bytes[i] = char(i % 256);
    }
    return bytes;
}

// The echo as the user reads it: two digits and a blank a byte, a line end after every 16th.
QString echoOf(QByteArrayView bytes)
{
    QString text;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        text += QString::asprintf("%02X ", unsigned(quint8(bytes[i])));
        if (i % 16 == 15) {
            text += u"\r\n"_s;
        }
    }
    return text;
}

QString textInColor(const TextRuns &runs, QRgb color)
{
    QString text;
    for (const TextRun &run : runs) {
        if (run.color == color) {
            text += run.text;
        }
    }
    return text;
}

class FileTransferTest : public CommandFixture
{
protected:
    void SetUp() override
    {
        CommandFixture::SetUp();
        if (!HasFatalFailure()) {
            openPort();
        }
    }

    void fill(const QString &text)
    {
        m_box.clearText();
        m_box.setSelColor(TerminalColors::Typed);
        m_box.insertText(text);
    }

    // Sends a file with the question answered as given, and lets the send run to its end.
    void send(const QString &path, bool fast)
    {
        m_dialogs.answerOpen(path);
        m_dialogs.answerMessage(fast ? Dialogs::Yes : Dialogs::No);
        m_files.sendFile();
        EXPECT_TRUE(waitForCondition([this] { return !m_files.sending(); }, 10000));
    }

    // After a view, by itself or stopped, everything is back as before it.
    void expectViewEnded()
    {
        EXPECT_EQ(m_strip.buttonCaption(), u"清除"_s);
        EXPECT_TRUE(m_menus.enabled(Menus::HexView));
        EXPECT_TRUE(m_box.isEnabled());
        EXPECT_EQ(m_bar.markedUnits(), 0.0);
    }

    void view(const QString &path)
    {
        m_dialogs.answerOpen(path);
        m_files.openFileAsHex();
        EXPECT_TRUE(waitForCondition([this] { return m_menus.enabled(Menus::HexView); }, 10000));
    }

    FileTransfer m_files{m_context};
};

TEST_F(FileTransferTest, SendsEveryByteValueExactlyAndEchoesItAtTheEnd)
{
    const QByteArray all = everyByteValue();
    const QString path = writeFile(u"all.bin"_s, all);
    for (bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "paced");
        fill(u"typed"_s);
        m_box.setSelStart(2); // the echo goes to the end all the same

        send(path, fast);

        EXPECT_EQ(m_pty.readMasterExactly(all.size(), 5000), all);
        EXPECT_EQ(m_box.text(), u"typed"_s + echoOf(all));
        QString echo = echoOf(all);
        echo.replace(u"\r\n"_s, u"\n"_s);
        EXPECT_EQ(textInColor(m_box.runs(), TerminalColors::Echo), echo);
    }
    const QList<ScriptedDialogs::Call> opens = m_dialogs.calls(ScriptedDialogs::Kind::OpenFile);
    ASSERT_EQ(opens.size(), 2);
    EXPECT_EQ(opens[0].filter, u"所有文件|*.*"_s);
    EXPECT_EQ(m_dialogs.messageCount(u"快速发送?"_s, Dialogs::YesNo), 2);
}

TEST_F(FileTransferTest, EchoBreaksTheLineRightAfterEvery16thCode)
{
    const struct
    {
        const char *what;
        qsizetype size;
        QString echo;
    } cases[] = {
            {"empty file: no echo", 0, QString()},
            {"one byte", 1, u"00 "_s},
            {"16 bytes end with the line end", 16,
             u"00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n"_s},
            {"17th code starts a line without one", 17,
             u"00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n10 "_s},
    };
    for (const auto &c : cases) {
        for (bool fast : {false, true}) {
            SCOPED_TRACE(c.what);
            SCOPED_TRACE(fast ? "fast" : "paced");
            m_box.clearText();
            send(writeFile(u"echo.bin"_s, counting(c.size)), fast);
            EXPECT_EQ(m_box.text(), c.echo);
            EXPECT_EQ(m_pty.readMaster(c.size == 0 ? 200 : 2000), counting(c.size));
        }
    }
}

TEST_F(FileTransferTest, FastSendStreamsFilesLargerThanOneBlock)
{
    // Blocks must join seamlessly, the echo's line count carrying over from block to block.
    const QByteArray data = counting(FileSend::BlockBytes * 2 + 17);
    m_dialogs.answerOpen(writeFile(u"big.bin"_s, data));
    m_dialogs.answerMessage(Dialogs::Yes);
    m_files.sendFile();
    EXPECT_EQ(m_pty.readMasterExactly(data.size(), 10000), data);
    EXPECT_TRUE(waitForCondition([this] { return !m_files.sending(); }));
    EXPECT_EQ(m_box.text(), echoOf(data));
}

TEST_F(FileTransferTest, WhileASendRunsTheButtonStopsItAndTheWindowStaysFree)
{
    // The far end reads nothing, so the send waits on the line, not on the window.
    const QByteArray data = counting(FileSend::QueueHighWater * 4);
    m_dialogs.answerOpen(writeFile(u"held.bin"_s, data));
    m_dialogs.answerMessage(Dialogs::Yes);
    m_files.sendFile();
    ASSERT_TRUE(m_files.sending());
    EXPECT_EQ(m_strip.buttonCaption(), u"停止"_s);
    EXPECT_FALSE(m_menus.enabled(Menus::HexView));
    EXPECT_EQ(m_bar.scaleWidth(), double(data.size()));
    QTest::qWait(200);
    ASSERT_TRUE(m_files.sending()) << "a held line holds the send";
    EXPECT_LE(m_port.bytesToWrite(), FileSend::QueueHighWater + FileSend::BlockBytes)
            << "the send keeps its queue bounded";

    m_main.clearOrStop();
    EXPECT_FALSE(m_files.sending());
    EXPECT_EQ(m_strip.buttonCaption(), u"清除"_s);
    EXPECT_TRUE(m_menus.enabled(Menus::HexView));
    EXPECT_EQ(m_bar.markedUnits(), 0.0);
    // What was queued still goes, in order; nothing after the stop.
    const QByteArray arrived = m_pty.readMaster(2000);
    EXPECT_TRUE(data.startsWith(arrived));
    EXPECT_LT(arrived.size(), data.size());
    EXPECT_EQ(m_dialogs.messages().size(), 1) << "a stop by the user needs no message";
}

TEST_F(FileTransferTest, PortClosedDuringASendEndsItAndSaysHowMuchWentOut)
{
    const QByteArray data = counting(40);
    m_dialogs.answerOpen(writeFile(u"data.bin"_s, data));
    m_dialogs.answerMessage(Dialogs::No);
    m_files.sendFile();
    EXPECT_EQ(m_pty.readMasterExactly(9, 3000), data.first(9));
    closePort();
    m_jobs.portClosed();
    EXPECT_FALSE(m_files.sending());
    const QByteArray rest = m_pty.readMaster(300);
    ASSERT_EQ(m_dialogs.messages().size(), 2);
    const QString told = m_dialogs.messages()[1].text;
    EXPECT_TRUE(told.contains(u"/ 40 字节"_s)) << told.toStdString();
    EXPECT_TRUE(data.startsWith(QByteArray(data.first(9) + rest)));
}

TEST_F(FileTransferTest, NothingIsSentForACancelledDialogOrAnUnreadableFile)
{
    m_dialogs.answerOpen(std::nullopt);
    m_files.sendFile();
    EXPECT_TRUE(m_dialogs.messages().isEmpty()) << "a cancelled dialog ends the command";

    send(missingPath(), false);
    EXPECT_TRUE(m_pty.readMaster(200).isEmpty());
    EXPECT_TRUE(m_box.text().isEmpty());
    ASSERT_EQ(m_dialogs.messages().size(), 2) << "the question, then why nothing was sent";
    EXPECT_TRUE(m_dialogs.messages()[1].text.contains(u"no-such-file"_s));
}

TEST_F(FileTransferTest, TheCommandsMayBeDestroyedWhileTheirWorkRuns)
{
    // The main window, and the commands with it, can go away while a send or view runs.
    auto files = std::make_unique<FileTransfer>(m_context);
    m_dialogs.answerOpen(writeFile(u"data.bin"_s, counting(40)));
    m_dialogs.answerMessage(Dialogs::No);
    files->sendFile();
    ASSERT_TRUE(files->sending());
    files.reset();
    m_pty.readMaster(200);

    files = std::make_unique<FileTransfer>(m_context);
    m_dialogs.answerOpen(writeFile(u"view.bin"_s, counting(FileTransfer::MaxHexViewBytes)));
    files->openFileAsHex();
    files.reset();
    QTest::qWait(50);
}

TEST_F(FileTransferTest, CaptureStartsFromAnEmptyFileAndStopsOnTheNextClick)
{
    const QString path = writeFile(u"capture.bin"_s, "left from last time");
    bool markedDuringDialog = true;
    m_dialogs.onCall = [&](const ScriptedDialogs::Call &) {
        // Data arriving while the dialog is up must not be written to a file not yet open.
        markedDuringDialog = m_menus.checked(Menus::Capture);
    };
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first capture" : "capture again into the same file");
        m_dialogs.answerSave(path);
        m_files.captureToFile();
        EXPECT_FALSE(markedDuringDialog);
        EXPECT_TRUE(m_menus.checked(Menus::Capture));
        ASSERT_TRUE(m_capture.isOpen());
        EXPECT_EQ(QFile(path).size(), 0);
        ASSERT_TRUE(m_capture.write("received").ok());

        m_files.captureToFile();
        EXPECT_FALSE(m_menus.checked(Menus::Capture));
        EXPECT_FALSE(m_capture.isOpen());
    }
    EXPECT_EQ(m_dialogs.calls(ScriptedDialogs::Kind::SaveFile).value(0).filter, u"全部文件|*.*"_s);
    EXPECT_TRUE(m_dialogs.messages().isEmpty());
}

TEST_F(FileTransferTest, CaptureStaysOffWhenCancelledAndSaysWhyWhenTheFileWillNotOpen)
{
    m_dialogs.answerSave(std::nullopt);
    m_files.captureToFile();
    EXPECT_FALSE(m_menus.checked(Menus::Capture));
    EXPECT_TRUE(m_dialogs.messages().isEmpty()) << "cancelling is not an error";

    m_dialogs.answerSave(missingPath());
    m_files.captureToFile();
    EXPECT_FALSE(m_menus.checked(Menus::Capture));
    EXPECT_FALSE(m_capture.isOpen());
    ASSERT_EQ(m_dialogs.messages().size(), 1);
    EXPECT_EQ(m_dialogs.messages()[0].style, Dialogs::Warning);
    EXPECT_TRUE(m_dialogs.messages()[0].text.contains(u"no-such-folder"_s));
}

TEST_F(FileTransferTest, HexViewWrites24CodesAndTheirCharactersALine)
{
    const struct
    {
        const char *what;
        QByteArray bytes;
        QString text;
    } cases[] = {
            {"empty file: empty terminal", QByteArray(), QString()},
            {"25 bytes: a full line and a line of one", "ABCDEFGHIJKLMNOPQRSTUVWXY",
             u"41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54 55 56 57 58  :"
             u"ABCDEFGHIJKLMNOPQRSTUVWX\r\n"
             u"59  :Y\r\n"_s},
            {"space and DEL as dots, ! and ~ themselves, two uppercase digits",
             QByteArray("\x0A\x20\x21\x7E\x7F\xFF", 6), u"0A 20 21 7E 7F FF  :..!~..\r\n"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fill(u"old contents"_s);
        view(writeFile(u"view.bin"_s, c.bytes));
        EXPECT_EQ(m_box.text(), c.text);
        EXPECT_EQ(m_bar.scaleWidth(), double(c.bytes.size()));
        expectViewEnded();
    }
    EXPECT_TRUE(m_dialogs.messages().isEmpty());
    EXPECT_EQ(m_dialogs.calls(ScriptedDialogs::Kind::OpenFile).value(0).filter, u"所有文件|*.*"_s);
}

TEST_F(FileTransferTest, HexViewShows65535BytesAndRefusesOneMore)
{
    const QByteArray largest = counting(FileTransfer::MaxHexViewBytes);
    view(writeFile(u"largest.bin"_s, largest));
    const QString text = m_box.text();
    // 2,730 full lines of 100 characters, then 15 codes, " :", 15 characters and CR LF.
    EXPECT_EQ(text.size(), 2730 * 100 + 15 * 4 + 4);
    EXPECT_TRUE(text.startsWith(hexViewLine(largest.first(24))));
    EXPECT_TRUE(text.endsWith(hexViewLine(largest.last(15))));
    expectViewEnded();

    view(writeFile(u"toolarge.bin"_s, counting(FileTransfer::MaxHexViewBytes + 1)));
    EXPECT_TRUE(m_box.text().isEmpty());
    EXPECT_EQ(m_dialogs.messageCount(u"太大哦 !!!"_s, Dialogs::Warning), 1);
    EXPECT_EQ(m_strip.buttonCaption(), u"清除"_s);
    EXPECT_TRUE(m_menus.enabled(Menus::HexView));
    EXPECT_TRUE(m_box.isEnabled());
}

TEST_F(FileTransferTest, HexViewCancelledOrUnreadableLeavesEverythingAsItWas)
{
    fill(u"kept"_s);
    m_dialogs.onCall = [this](const ScriptedDialogs::Call &) {
        EXPECT_EQ(m_strip.buttonCaption(), u"停止"_s);
    };
    m_dialogs.answerOpen(std::nullopt);
    m_files.openFileAsHex();
    EXPECT_EQ(m_box.text(), u"kept"_s);
    EXPECT_EQ(m_strip.buttonCaption(), u"清除"_s);

    // A file that cannot be read says why instead of showing an empty view.
    m_dialogs.onCall = nullptr;
    view(missingPath());
    EXPECT_TRUE(m_box.text().isEmpty());
    expectViewEnded();
    ASSERT_EQ(m_dialogs.messages().size(), 1);
    EXPECT_TRUE(m_dialogs.messages()[0].text.contains(u"no-such-file"_s));
}

TEST_F(FileTransferTest, StoppingAViewKeepsWhatWasShownAndRestoresTheWindow)
{
    const QByteArray data = counting(FileTransfer::MaxHexViewBytes);
    m_dialogs.answerOpen(writeFile(u"view.bin"_s, data));
    m_files.openFileAsHex();
    // While the view runs: the button says stop, the item and the terminal are locked.
    EXPECT_EQ(m_strip.buttonCaption(), u"停止"_s);
    EXPECT_FALSE(m_menus.enabled(Menus::HexView));
    EXPECT_FALSE(m_box.isEnabled());
    const QString before = m_box.text();
    m_main.clearOrStop();

    // What was shown stays, then the byte taken after the stop on a line of its own.
    const qsizetype shown = before.size() / 100 * 24;
    EXPECT_EQ(m_box.text(), before + hexViewLine(data.sliced(shown, 1)));
    expectViewEnded();
}

} // namespace
