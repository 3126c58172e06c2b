// The terminal against a real Linux console: Debian's kernel and a BusyBox shell on QEMU's
// emulated PC, its serial port on a pseudo-terminal, reached through the real main window and
// port. What a person at a board's console sees: the boot log and a coloured prompt without
// escape codes, coloured ls output, lines the device redraws, while capture keeps the raw bytes.

#include "app/menus.h"
#include "core/colors.h"
#include "core/settingkeys.h"
#include "widgets/terminalbox.h"
#include "support/linuxguest.h"
#include "support/mainwindowfixture.h"
#include "support/qtprinters.h"

#include <QColor>
#include <QDeadlineTimer>
#include <QFile>
#include <QPixmap>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Booting Debian's kernel under TCG on a busy machine, with room for the sanitizers.
constexpr int BootTimeoutMs = 240000;
constexpr int CommandTimeoutMs = 30000;

std::string tail(const QString &text)
{
    return text.right(1500).toStdString();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class LinuxConsoleTest : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        if (const QString why = LinuxGuest::prepare(); !why.isEmpty()) {
            GTEST_SKIP() << "no Linux guest to test against: " << why.toStdString();
        }
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_guest.start()) << m_guest.error().toStdString();
        ASSERT_TRUE(m_config.linkPort(PortNumber, m_guest.ptyPath()));
        m_store.save(SettingKeys::baud(), u"115200"_s);
        startWindow();
        m_window->resize(1000, 700);
        m_window->show();
        openPort();
        m_dialogs.answerSave(capturePath());
        click(Menus::Capture);
        ASSERT_TRUE(m_window->menus().checked(Menus::Capture));
        // Only now does the guest run, so that the whole boot log reaches the port.
        ASSERT_TRUE(m_guest.resume()) << m_guest.error().toStdString();
        ASSERT_TRUE(waitForPrompt(BootTimeoutMs)) << "no shell prompt:\n" << tail(box().text());
    }

    void TearDown() override
    {
        MainWindowFixture::TearDown();
        m_guest.stop();
    }

    QString capturePath() const { return m_dir.filePath(u"console.cap"_s); }

    bool atPrompt() { return box().lastLine().endsWith(u"root@guest:/root# "_s); }

    // At the prompt, with the guest quiet.
    bool waitForPrompt(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (waitFor([this] { return atPrompt(); }, int(deadline.remainingTime()))) {
            const qsizetype length = box().textLength();
            QTest::qWait(300);
            if (atPrompt() && box().textLength() == length) {
                return true;
            }
        }
        return false;
    }

    // Types a command at the prompt and gives the lines the guest answered with, once it is
    // back at its prompt.
    QStringList command(const QString &line)
    {
        const qsizetype before = box().text().size();
        type(line);
        pressKey(Qt::Key_Return);
        EXPECT_TRUE(waitForPrompt(CommandTimeoutMs))
                << "no prompt after " << line.toStdString() << ":\n"
                << tail(box().text());
        QStringList lines = box().text().mid(before).split(u"\r\n"_s);
        lines.removeFirst(); // the command and its count
        if (!lines.isEmpty() && lines.first() == line) {
            lines.removeFirst(); // the shell's echo of it
        }
        lines.removeLast(); // the next prompt
        return lines;
    }

    // A picture of the window for the record, when VELMIR_SHOTS names a folder.
    void shoot(const QString &name)
    {
        const QString dir = qEnvironmentVariable("VELMIR_SHOTS");
        if (!dir.isEmpty()) {
            // The box shows arrivals once a frame and its scroll bar later still while text
            // streams; a picture only, nothing is asserted on it.
            const QScrollBar *bar = box().verticalScrollBar();
            waitFor([bar] { return bar->value() == bar->maximum(); }, 10000);
            QTest::qWait(300);
            const QString path = dir + u"/console-"_s + name + u".png"_s;
            // What the display shows, where there is one; else what the window would paint.
            if (qEnvironmentVariableIsEmpty("DISPLAY")
                || QProcess::execute(u"import"_s, {u"-window"_s, u"root"_s, path}) != 0) {
                m_window->grab().save(path);
            }
        }
    }

    QTemporaryDir m_dir;
    LinuxGuest m_guest;
};

TEST_F(LinuxConsoleTest, ShowsTheConsoleAsATerminalWouldAndCapturesItRaw)
{
    {
        SCOPED_TRACE("boot log and prompt");
        const QString text = box().text();
        EXPECT_TRUE(text.contains(u"Linux version"_s)) << tail(text);
        EXPECT_FALSE(text.contains(QChar(0x1b))) << tail(text);
        EXPECT_FALSE(text.contains(u"[0m"_s) || text.contains(u"[6n"_s)) << tail(text);
        EXPECT_TRUE(box().lastLine() == u"root@guest:/root# "_s) << tail(text);
        const TextRuns runs = box().runs();
        EXPECT_TRUE(std::any_of(runs.begin(), runs.end(), [](const TextRun &run) {
            return run.text.endsWith(u"root@guest"_s) && run.color == TerminalColors::Console[10];
        })) << "the prompt is not in the guest's bold green";
        shoot(u"boot"_s);
    }
    {
        SCOPED_TRACE("ls --color");
        const qsizetype runsBefore = box().runs().size();
        const QStringList lines = command(u"ls --color=always /"_s);
        const QString listing = lines.join(u'\n');
        EXPECT_TRUE(listing.contains(u"bin"_s) && listing.contains(u"proc"_s)) << tail(listing);
        EXPECT_FALSE(listing.contains(QChar(0x1b))) << tail(listing);
        const TextRuns runs = box().runs().mid(runsBefore - 1);
        for (const QString &name : {u"bin"_s, u"proc"_s, u"root"_s}) {
            SCOPED_TRACE(name.toStdString());
            EXPECT_TRUE(std::any_of(runs.begin(), runs.end(), [&](const TextRun &run) {
                return run.text.split(u' ', Qt::SkipEmptyParts).contains(name)
                       && run.color != TerminalColors::Received && run.received;
            })) << "not in a colour of its own";
        }
        shoot(u"ls"_s);

        // A saved workspace keeps them: the RTF colour table holds the guest's colours.
        const QString workspace = m_dir.filePath(u"console.rtf"_s);
        m_dialogs.answerSave(workspace);
        click(Menus::SaveWorkspace);
        const QColor directory = QColor::fromRgb(TerminalColors::Console[12]);
        EXPECT_TRUE(readAll(workspace).contains(u"\\red%1\\green%2\\blue%3;"_s.arg(directory.red())
                                                        .arg(directory.green())
                                                        .arg(directory.blue())
                                                        .toLatin1()));
    }
    {
        SCOPED_TRACE("backspace");
        EXPECT_EQ(command(u"printf 'abc\\b\\bX\\r\\n'"_s), QStringList{u"aXc"_s});
    }
    {
        SCOPED_TRACE("progress line");
        EXPECT_EQ(command(u"printf '10%%\\r50%%\\r100%%\\r\\n'"_s), QStringList{u"100%"_s});
        shoot(u"progress"_s);
    }
    {
        SCOPED_TRACE("a board in a UTF-8 locale");
        m_window->menus().encodingAction(TextEncoding::Utf8)->trigger();
        // "你好" and a line of tree's as bytes the guest makes itself, so only reading is tried;
        // short enough that the shell does not wrap its echo.
        EXPECT_EQ(command(u"printf '\\344\\275\\240\\345\\245\\275\\342\\224\\234\\n'"_s),
                  QStringList{u"你好├"_s});
        // Typed Chinese goes out in UTF-8: the shell echoes the line as typed and prints it back.
        EXPECT_EQ(command(u"printf '%s\\n' 中文"_s), QStringList{u"中文"_s});
        // A Chinese file name as the shell lists it (this BusyBox's ls prints "?" for every byte
        // beyond ASCII, whatever the terminal).
        command(u"mkdir /tmp/d && touch /tmp/d/你好.txt"_s);
        EXPECT_EQ(command(u"echo /tmp/d/*"_s), QStringList{u"/tmp/d/你好.txt"_s});
        shoot(u"utf8"_s);
    }
    {
        SCOPED_TRACE("capture");
        click(Menus::Capture);
        const QByteArray captured = readAll(capturePath());
        // The bytes exactly as the guest sent them, escapes and all, though the terminal
        // shows none of the escapes.
        const QByteArray sent = readAll(m_guest.logPath());
        EXPECT_TRUE(captured == sent)
                << captured.size() << " bytes captured, the guest sent " << sent.size();
        EXPECT_TRUE(captured.contains("\x1b[1;32mroot@guest\x1b[0m:/root# "));
        EXPECT_TRUE(captured.contains("abc\b\bX\r"));
        EXPECT_TRUE(captured.contains("10%\r50%\r100%\r"));
    }
}
