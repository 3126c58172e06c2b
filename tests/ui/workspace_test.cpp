// Saving, loading and clearing the workspace through the real main window's tools menu.

#include "app/menus.h"
#include "widgets/terminalbox.h"
#include "widgets/statusstrip.h"
#include "support/mainwindowfixture.h"
#include "core/colors.h"
#include "widgets/terminalwindow.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class WorkspaceTest : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ASSERT_TRUE(m_dir.isValid());
        startWindow();
    }

    // A session with every kind of text the terminal writes.
    void makeSession()
    {
        openPort();
        peerSends("login: ");
        type(u"root 啊{\\}"_s);
        pressKey(Qt::Key_Return);
        click(Menus::OpenPort);
        type(u"x"_s);
        pressKey(Qt::Key_Return);
    }

    QTemporaryDir m_dir;
};

TEST_F(WorkspaceTest, SavedSessionLoadsBackWithItsColoursAndReplacesTheTerminal)
{
    makeSession();
    const TextRuns session = box().runs();
    const QString path = m_dir.filePath(u"session.RTF"_s);
    m_dialogs.answerSave(path);
    click(Menus::SaveWorkspace);
    ASSERT_TRUE(QFile::exists(path));
    EXPECT_TRUE(readAll(path).startsWith("{\\rtf1"));

    box().clearText();
    type(u"something else"_s);
    m_dialogs.answerOpen(path);
    click(Menus::LoadWorkspace);
    EXPECT_EQ(box().runs(), session);
    EXPECT_TRUE(m_dialogs.messages().isEmpty());
    for (const auto &call : m_dialogs.calls()) {
        EXPECT_EQ(call.filter, u"富文本文件|*.RTF"_s);
    }
}

TEST_F(WorkspaceTest, CancelledDialogsDoNothing)
{
    type(u"keep"_s);
    m_dialogs.answerSave(std::nullopt);
    click(Menus::SaveWorkspace);
    m_dialogs.answerOpen(std::nullopt);
    click(Menus::LoadWorkspace);
    EXPECT_EQ(box().text(), u"keep"_s);
    EXPECT_TRUE(m_dialogs.messages().isEmpty());
}

TEST_F(WorkspaceTest, FailedLoadKeepsTheTerminalAndSaysWhy)
{
    type(u"keep"_s);
    const QString notRtf = m_dir.filePath(u"notes.RTF"_s);
    ASSERT_TRUE(writeAll(notRtf, "just some text\n"));
    for (const QString &path : {notRtf, m_dir.filePath(u"missing.RTF"_s)}) {
        SCOPED_TRACE(path.toStdString());
        m_dialogs.clearCalls();
        m_dialogs.answerOpen(path);
        click(Menus::LoadWorkspace);
        EXPECT_EQ(box().text(), u"keep"_s);
        ASSERT_EQ(m_dialogs.messages().size(), 1);
        EXPECT_EQ(m_dialogs.messages().first().style, Dialogs::Warning);
        EXPECT_TRUE(m_dialogs.messages().first().text.contains(path));
    }
}

TEST_F(WorkspaceTest, FailedSaveSaysWhyAndLeavesNoHalfFile)
{
    type(u"data"_s);
    const QString path = m_dir.filePath(u"no-such-folder/session.RTF"_s);
    m_dialogs.answerSave(path);
    click(Menus::SaveWorkspace);
    ASSERT_EQ(m_dialogs.messages().size(), 1);
    EXPECT_EQ(m_dialogs.messages().first().style, Dialogs::Warning);
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(WorkspaceTest, ClearEmptiesTheTerminalButStopsARunningHexView)
{
    type(u"old"_s);
    click(Menus::ClearWorkspace);
    EXPECT_TRUE(box().text().isEmpty());

    const QString file = m_dir.filePath(u"data.bin"_s);
    ASSERT_TRUE(writeAll(file, QByteArray(2400, 'A')));
    m_dialogs.answerOpen(file);
    click(Menus::HexView);
    ASSERT_FALSE(m_window->menus().enabled(Menus::HexView)) << "the view runs on its own";
    click(Menus::ClearWorkspace);
    // The dump written so far stays, and the byte read after the stop ends it.
    const QString text = box().text();
    EXPECT_TRUE(text.endsWith(u"41  :A\r\n"_s)) << text.toStdString();
    EXPECT_EQ(m_window->statusStrip().buttonCaption(), u"清除"_s);
    EXPECT_TRUE(m_window->menus().enabled(Menus::HexView));
    EXPECT_TRUE(box().isEnabled());
}

TEST_F(WorkspaceTest, LinesArrivingDuringALoadFollowTheLoadedTextInOrder)
{
    openPort();
    // Large enough to take many turns of the window, each a chance for the line to speak.
    QByteArray rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Courier New;}}\n";
    QString loaded;
    for (int i = 1; i <= 400000; ++i) {
        const QString line = u"W%1"_s.arg(i, 6, 10, QChar(u'0'));
        rtf += line.toLatin1() + "\\par\n";
        loaded += line + u"\r\n"_s;
    }
    rtf += "}";
    const QString path = m_dir.filePath(u"large.RTF"_s);
    ASSERT_TRUE(writeAll(path, rtf));

    const auto numbered = [](int n) {
        return u"L%1\r\n"_s.arg(n, 6, 10, QChar(u'0'));
    };
    int sent = 0;
    QTimer streamer;
    QObject::connect(&streamer, &QTimer::timeout, [&] {
        for (int i = 0; i < 10; ++i) {
            const QByteArray line = numbered(sent + 1).toLatin1();
            if (::write(m_pty.masterFd(), line.constData(), size_t(line.size())) != line.size())
                return;
            ++sent;
        }
    });
    // The line is already speaking when the load starts.
    streamer.start(1);
    ASSERT_TRUE(waitFor([&] { return box().text().contains(numbered(1)); }, 20000));
    m_dialogs.answerOpen(path);
    click(Menus::LoadWorkspace);
    ASSERT_TRUE(
            waitFor([&] { return m_window->statusStrip().buttonCaption() == u"清除"_s; }, 120000));
    const int atLoadEnd = sent;
    ASSERT_TRUE(waitFor([&] { return sent >= atLoadEnd + 100; }, 20000));
    streamer.stop();
    ASSERT_TRUE(waitFor([&] { return box().text().endsWith(numbered(sent)); }, 20000));

    const QString text = box().text();
    ASSERT_TRUE(text.startsWith(loaded)) << "the loaded text was broken into";
    // What the session showed went with it; every line since follows the loaded text.
    const QStringView after = QStringView(text).sliced(loaded.size());
    const int first = after.isEmpty() ? sent + 1 : after.sliced(1, 6).toInt();
    QString arrived;
    for (int n = first; n <= sent; ++n)
        arrived += numbered(n);
    EXPECT_TRUE(after == arrived) << "lines were lost or misplaced; " << sent << " sent";
    // The caret follows the end, and with it the view.
    EXPECT_EQ(box().selStart(), box().textLength());
}
