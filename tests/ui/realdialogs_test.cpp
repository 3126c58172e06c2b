#include "app/mainwindow.h"
#include "app/menus.h"
#include "widgets/qtdialogs.h"
#include "port/serialport.h"
#include "widgets/terminalbox.h"
#include "support/memorysettingsstore.h"
#include "support/ptypair.h"
#include "support/testapp.h"
#include "widgets/terminalwindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QDir>
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
        ASSERT_TRUE(m_config.linkPty(PortNumber, m_pty));
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

QLineEdit *fileNameEdit(QFileDialog *dialog)
{
    return dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
}

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

TEST_F(RealDialogsTest, NamesTypedIntoTheOpenDialogLeaveNoListBehindAndCtrlSWorksAtOnce)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"sample.bin"_s);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("hello\n");
    }

    // 打开文件为十六进制 (Ctrl+O): the whole name typed, the completer's list up, then Enter
    // pressed where the keys go while that list shows.
    bool listShown = false;
    whenShown<QFileDialog>([&](QFileDialog *dialog) {
        QLineEdit *edit = fileNameEdit(dialog);
        ASSERT_NE(edit, nullptr);
        edit->setFocus();
        // The completer offers the name once its folder has been read.
        edit->setText(path);
        QCompleter *completer = edit->completer();
        ASSERT_NE(completer, nullptr);
        listShown = QTest::qWaitFor(
                [&] {
                    completer->setCompletionPrefix(path);
                    completer->complete();
                    return QApplication::activePopupWidget() != nullptr;
                },
                10000);
        QWidget *target = listShown ? QApplication::activePopupWidget() : edit;
        QTest::keyClick(target, Qt::Key_Return);
    });
    press(Qt::Key_O);
    ASSERT_TRUE(listShown) << "the completer never offered the typed name";
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->menus().enabled(Menus::HexView); }, 10000));
    EXPECT_TRUE(box().text().contains(u"68 65 6C 6C 6F 0A"_s)) << "the file was not shown";

    // Nothing of the dialog is left. Under X a kept dialog's list stayed on screen after Enter
    // and took every key; here the offscreen platform hides it, so its mere survival counts.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    for (QWidget *window : QApplication::topLevelWidgets()) {
        EXPECT_EQ(qobject_cast<QAbstractItemView *>(window), nullptr)
                << "a completion list outlived the dialog";
        EXPECT_EQ(qobject_cast<QFileDialog *>(window), nullptr)
                << "the file dialog outlived its use";
    }

    // The next shortcut reaches the menu: the save dialog of 保存工作区 opens. (A window
    // manager activates the main window again; a list left on screen would still take the keys.)
    QApplication::setActiveWindow(m_window.get());
    bool saveShown = false;
    whenShown<QFileDialog>([&](QFileDialog *dialog) {
        saveShown = true;
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        dialog->reject();
    });
    press(Qt::Key_S);
    EXPECT_TRUE(QTest::qWaitFor([&] { return saveShown; }, 11000))
            << "Ctrl+S after the open dialog opened nothing";
}

TEST_F(RealDialogsTest, AFolderTypedIntoTheFolderDialogAndEnterChoosesIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath(u"received"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    whenShown<QFileDialog>([&](QFileDialog *dialog) {
        EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
        QLineEdit *edit = fileNameEdit(dialog);
        ASSERT_NE(edit, nullptr);
        edit->setFocus();
        edit->setText(folder);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    const std::optional<QString> chosen = m_dialogs.chooseFolder();
    ASSERT_TRUE(chosen.has_value()) << "Enter did not choose the typed folder";
    EXPECT_EQ(QDir(*chosen).canonicalPath(), QDir(folder).canonicalPath());
}

// /proc/kmsg reads like an empty file, but a read of it waits until the kernel logs a line.
// Qt's file dialog used to read the first bytes of every file it listed, on the window's
// thread too, so typing /proc/ froze the program for good.
TEST_F(RealDialogsTest, TypingProcIntoTheSaveDialogKeepsTheWindowThreadRunning)
{
    // Only root may read it. What it holds is taken away first, so that a read would wait
    // (the kernel's own log, which dmesg and journald read through /dev/kmsg, keeps it all).
    const int kmsg = ::open("/proc/kmsg", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (kmsg < 0)
        GTEST_SKIP() << "needs root, who alone may read /proc/kmsg";
    char drain[4096];
    while (::read(kmsg, drain, sizeof drain) > 0) {
    }
    ::close(kmsg);

    // A timer on the window's thread; a watchdog releases a stalled read by logging a line
    // through /dev/kmsg, so that a relapse fails this test instead of hanging it.
    constexpr auto StallLimit = std::chrono::seconds(5);
    std::atomic<std::chrono::steady_clock::rep> lastTick{
            std::chrono::steady_clock::now().time_since_epoch().count()};
    std::atomic<bool> released{false};
    std::atomic<bool> done{false};
    QTimer ticker;
    ticker.setInterval(20);
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        lastTick = std::chrono::steady_clock::now().time_since_epoch().count();
    });
    ticker.start();
    std::thread watchdog([&] {
        // A read waits for a full buffer, so the kernel is given long lines until it returns.
        const std::string line
                = "velmir-rs232 test: releasing a stalled read " + std::string(800, '.') + "\n";
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const std::chrono::steady_clock::duration since
                    = std::chrono::steady_clock::now().time_since_epoch()
                      - std::chrono::steady_clock::duration(lastTick.load());
            if (since <= StallLimit)
                continue;
            released = true;
            const int log = ::open("/dev/kmsg", O_WRONLY | O_CLOEXEC);
            if (log >= 0) {
                (void)!::write(log, line.data(), line.size());
                ::close(log);
            }
        }
    });

    // 捕获到文件 (Ctrl+C) with the port open: the save dialog that lists every file.
    press(Qt::Key_F12, Qt::NoModifier);
    ASSERT_TRUE(m_window->menus().checked(Menus::OpenPort));
    int ticksWhileTyping = 0;
    whenShown<QFileDialog>([&](QFileDialog *dialog) {
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        QLineEdit *edit = fileNameEdit(dialog);
        ASSERT_NE(edit, nullptr);
        edit->setFocus();
        QTest::keyClicks(edit, u"/proc/"_s);
        QTest::keyClicks(edit, u"k"_s);
        const auto before = lastTick.load();
        QElapsedTimer shown;
        shown.start();
        // Long enough for the folder to be read and its files listed.
        while (shown.elapsed() < 3000) {
            QTest::qWait(50);
            if (lastTick.load() != before)
                ++ticksWhileTyping;
        }
        dialog->reject();
    });
    press(Qt::Key_C);
    done = true;
    watchdog.join();

    EXPECT_FALSE(released) << "the window's thread stood still for more than 5 s in /proc";
    EXPECT_GT(ticksWhileTyping, 0);
    EXPECT_FALSE(m_window->menus().checked(Menus::Capture));
}

} // namespace
