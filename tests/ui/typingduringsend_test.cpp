// Enter pressed while a file goes out through the real window: the typed line must not land in
// the middle of the file on the line, and the user must see that it was not sent.

#include "app/menus.h"
#include "core/dialogs.h"
#include "widgets/terminalbox.h"
#include "support/mainwindowfixture.h"
#include "support/testbytes.h"

#include <QFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

class TypingDuringSendTest : public MainWindowFixture
{
};

TEST_F(TypingDuringSendTest, EnterDuringAFileSendSendsNothingAndSaysSo)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Far more than the port's queue and the line's buffers hold: the far end reads nothing yet,
    // so the send is still under way when Enter comes.
    const QByteArray data = randomBytes(2 * 1024 * 1024, 13);
    const QString path = dir.filePath(u"image.bin"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(data), data.size());
    file.close();

    startWindow();
    openPort();
    if (HasFatalFailure())
        return;
    m_dialogs.answerOpen(path);
    m_dialogs.answerMessage(Dialogs::Yes);
    click(Menus::SendFile);
    ASSERT_FALSE(m_window->menus().enabled(Menus::SendFile)) << "the send did not start";

    type(u"ver"_s);
    pressKey(Qt::Key_Return);
    EXPECT_TRUE(box().text().contains(u"ver : 4 字符  (未发出："_s)) << box().text().toStdString();

    // The far end takes the whole file: exactly the file, nothing typed within or after it.
    EXPECT_EQ(m_pty.readMasterExactly(data.size(), 60000), data);
    ASSERT_TRUE(waitFor([this] { return m_window->menus().enabled(Menus::SendFile); }, 10000));

    // Once the send is over, Enter sends again.
    type(u"ver"_s);
    pressKey(Qt::Key_Return);
    EXPECT_TRUE(m_pty.readMaster(5000).startsWith("ver"));
}

} // namespace
