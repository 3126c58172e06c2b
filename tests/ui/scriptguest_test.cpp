// A script against a real Linux console: Debian's kernel and a BusyBox shell in an emulated PC,
// its first serial port on a pseudo-terminal, the script run from the window's menu.

#include "app/scriptmenu.h"
#include "core/jobrunner.h"
#include "core/settingkeys.h"
#include "script/scriptjob.h"
#include "support/linuxguest.h"
#include "support/mainwindowfixture.h"
#include "widgets/terminalbox.h"

#include <QFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

class ScriptGuestTest : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        if (HasFatalFailure())
            return;
        if (const QString why = LinuxGuest::prepare(); !why.isEmpty())
            GTEST_SKIP() << "no Linux guest to test against: " << why.toStdString();
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_guest.start()) << m_guest.error().toStdString();
        ASSERT_TRUE(m_config.linkPort(PortNumber, m_guest.ptyPath()));
        m_store.save(SettingKeys::baud(), u"115200"_s);
        startWindow();
        openPort();
    }

    void TearDown() override
    {
        MainWindowFixture::TearDown();
        m_guest.stop();
    }

    QTemporaryDir m_dir;
    LinuxGuest m_guest;
};

} // namespace

TEST_F(ScriptGuestTest, ScriptWaitsForTheShellAndChecksWhatItComputes)
{
    const QString path = m_dir.filePath(u"guest.lua"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"lua(
-- The prompt is coloured: its escape sequences reach the script, as they came off the line.
check(expect(":/root# ", 600, {plain = true}), "提示符")
sendline("echo $((6*7))")
check(expect("42", 30), "6*7")
)lua");
    file.close();
    ASSERT_TRUE(m_window->scripts().run(path));
    // The script waits in the event loop while the guest boots and the terminal shows it.
    ASSERT_TRUE(m_guest.resume()) << m_guest.error().toStdString();
    ASSERT_TRUE(waitFor([this] { return !m_window->jobs().busy(); }, 700000))
            << box().text().right(2000).toStdString();
    EXPECT_EQ(noticeLines().value(noticeLines().size() - 1), u"脚本 guest.lua：2 项检查全部通过"_s)
            << box().text().right(2000).toStdString();
    EXPECT_TRUE(box().text().contains(u"Linux version"_s));
}
