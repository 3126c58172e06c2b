#include "app/mainwindow.h"
#include "app/menus.h"
#include "platform/qtdialogs.h"
#include "platform/serialport.h"
#include "platform/terminalbox.h"
#include "support/memorysettingsstore.h"
#include "support/ptypair.h"
#include "support/testapp.h"
#include "terminal/terminalwindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The main window as the program builds it, with the desktop's own dialogs rather than a
// stand-in, so that what Qt draws and how its dialogs behave is what a user meets.
class RealDialogsTest : public ::testing::Test
{
protected:
    static constexpr int PortNumber = 7;

    void SetUp() override
    {
        ensureApp();
        ASSERT_TRUE(QtDialogs::installQtTranslations(*qApp))
                << "Qt's Chinese translations are missing (package qt6-translations-l10n)";
        ASSERT_TRUE(m_config.isValid());
        ASSERT_TRUE(m_pty.isValid()) << m_pty.error().toStdString();
        ASSERT_TRUE(m_config.linkPort(PortNumber, m_pty.slavePath()));
        m_store.save(u"Comport"_s, u"COM%1"_s.arg(PortNumber));
        m_window = std::make_unique<MainWindow>(m_port, m_store, m_dialogs);
        m_window->start();
        QApplication::setActiveWindow(m_window.get());
        box().setFocus();
    }

    void TearDown() override { m_window.reset(); }

    TerminalBox &box() { return m_window->terminal().box(); }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
    {
        QTest::keyClick(&box(), key, modifiers);
    }

    // Acts on the modal window the next command opens, once it is up (a command may let
    // events run before it opens one); a command that opens none within 10 s fails the test.
    template<typename Window>
    void whenShown(const std::function<void(Window *)> &act)
    {
        auto *poll = new QTimer(qApp);
        auto *waited = new QElapsedTimer;
        waited->start();
        poll->setInterval(10);
        QObject::connect(poll, &QTimer::timeout, qApp, [poll, waited, act] {
            auto *window = qobject_cast<Window *>(QApplication::activeModalWidget());
            if (!window && waited->elapsed() < 10000)
                return;
            poll->deleteLater();
            delete waited;
            poll->stop();
            if (!window) {
                ADD_FAILURE() << "the command opened no window of the expected kind";
                return;
            }
            act(window);
        });
        poll->start();
    }

    TempConfigHome m_config;
    PtyPair m_pty;
    MemorySettingsStore m_store;
    SerialPort m_port;
    QtDialogs m_dialogs{nullptr};
    std::unique_ptr<MainWindow> m_window;
};

TEST_F(RealDialogsTest, QtsOwnButtonsAndFileDialogReadChinese)
{
    // 关于 gives one plain box with Qt's standard OK button.
    bool aboutShown = false;
    whenShown<QMessageBox>([&](QMessageBox *box) {
        aboutShown = true;
        QAbstractButton *ok = box->button(QMessageBox::Ok);
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(ok->text(), u"确定"_s);
        ok->click();
    });
    m_window->menus().helpAction(Menus::About)->trigger();
    EXPECT_TRUE(aboutShown);

    // Questions such as "快速发送?" get Qt's Yes and No.
    whenShown<QMessageBox>([](QMessageBox *box) {
        EXPECT_TRUE(box->button(QMessageBox::Yes)->text().startsWith(u"是"_s))
                << box->button(QMessageBox::Yes)->text().toStdString();
        EXPECT_TRUE(box->button(QMessageBox::No)->text().startsWith(u"否"_s))
                << box->button(QMessageBox::No)->text().toStdString();
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(m_dialogs.message(u"快速发送?"_s, Dialogs::YesNo), Dialogs::No);

    // The save dialog of 保存工作区 (Ctrl+S): its labels and buttons are Qt's own texts.
    bool saveShown = false;
    whenShown<QFileDialog>([&](QFileDialog *dialog) {
        saveShown = true;
        const auto *nameLabel = dialog->findChild<QLabel *>(u"fileNameLabel"_s);
        ASSERT_NE(nameLabel, nullptr);
        EXPECT_TRUE(nameLabel->text().contains(u"文件名"_s)) << nameLabel->text().toStdString();
        const auto *cancel
                = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel);
        EXPECT_TRUE(cancel->text().startsWith(u"取消"_s)) << cancel->text().toStdString();
        dialog->reject();
    });
    // A window manager hands the focus back to the main window after a box; here the test does.
    QApplication::setActiveWindow(m_window.get());
    press(Qt::Key_S);
    EXPECT_TRUE(QTest::qWaitFor([&] { return saveShown; }, 11000));
}

} // namespace
