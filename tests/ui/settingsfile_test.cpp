// Bad settings at start-up: a settings file that is damaged, unreadable or not a file at all (a
// folder, a FIFO, a device) starts the program on the defaults without blocking it, and the
// settings dialog then writes a good file or says plainly why it cannot; stored values the port
// refuses are reported once and the program stays usable.

#include "app/mainwindow.h"
#include "app/menus.h"
#include "core/inisettingsstore.h"
#include "port/serialport.h"
#include "widgets/terminalbox.h"
#include "widgets/settingsdialog.h"
#include "widgets/statusstrip.h"
#include "support/fakecommport.h"
#include "support/helperprocess.h"
#include "support/memorysettingsstore.h"
#include "support/ptypair.h"
#include "support/scripteddialogs.h"
#include "support/testapp.h"
#include "support/watchdog.h"
#include "widgets/terminalwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString RestartText = u"You need restart program, thank you"_s;

// Starts the window on the settings file, then picks COM7 in the settings dialog and applies.
// What happened comes back as lines: "port <configuring call>", "message <style> <text>" and
// "stored <Comport as a fresh reader finds it>".
QByteArray startThenApply(const QString &path)
{
    ensureApp();
    QByteArray seen;
    IniSettingsStore store(path);
    ScriptedDialogs dialogs;
    FakeCommPort port;
    {
        MainWindow window(port, store, dialogs);
        window.start();
        for (const QString &call : port.log())
            seen += "port " + call.toUtf8() + '\n';
        SettingsDialog dialog(store, dialogs, &window);
        auto *portCombo = dialog.findChild<QComboBox *>(u"PortCombo"_s);
        if (!portCombo)
            return "no PortCombo\n";
        portCombo->setCurrentIndex(portCombo->findText(u"COM7"_s));
        dialog.apply();
    }
    for (const ScriptedDialogs::Call &call : dialogs.messages())
        seen += "message " + ScriptedDialogs::styleName(call.style) + ' ' + call.text.toUtf8()
                + '\n';
    seen += "stored " + IniSettingsStore(path).read(u"Comport"_s, u"(none)"_s).toUtf8() + '\n';
    return seen;
}

[[maybe_unused]] const bool g_roles
        = HelperProcess::registerRole("settings-as-nobody", [](const QString &path) {
              HelperProcess::becomeNobody();
              std::fputs(startThenApply(path).constData(), stdout);
              return 0;
          });

QByteArray randomBytes(int size)
{
    std::mt19937 random(1234);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &b : bytes)
        b = char(random() & 0xFF);
    return bytes;
}

class SettingsFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureApp();
        ASSERT_TRUE(m_dir.isValid());
        // An ordinary user must reach the file through our folder.
        ASSERT_TRUE(QFile::setPermissions(m_dir.path(),
                                          QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                  | QFileDevice::ExeOwner | QFileDevice::ExeOther));
    }

    QString path() const { return m_dir.filePath(u"velmir-rs232.ini"_s); }

    void writeFile(const QByteArray &contents)
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

    QTemporaryDir m_dir;
};

TEST_F(SettingsFileTest, ADamagedFileStartsOnTheDefaultsAndTheDialogWritesAGoodOne)
{
    QByteArray utf16 = "\xFF\xFE";
    for (char c : QByteArray("[Setting]\r\nComport=COM3\r\nBaud=110\r\n"))
        utf16 += QByteArray(1, c) + '\0';
    const struct
    {
        const char *what;
        QByteArray contents;
    } rows[] = {
            {"empty", QByteArray()},
            {"text that is no INI", "Comport COM3\nBaud: 110\n=\n[[\n\"unterminated\n"},
            {"random bytes", randomBytes(4096)},
            {"a hundred thousand brackets", QByteArray(100000, '[')},
            {"saved as UTF-16 by an editor", utf16},
            {"NULs inside the section", QByteArray("[Set\0ting]\nComport=COM3\n", 24)},
    };
    const QByteArray defaults = "port setCommPort 1\nport setSettings 9600,N,8,1\n"
                                "port setHandshaking 0\n";
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        writeFile(row.contents);
        const QByteArray seen = startThenApply(path());
        EXPECT_TRUE(seen.startsWith(
                QByteArray(defaults + "message information " + RestartText.toUtf8())))
                << seen.toStdString();
        EXPECT_EQ(seen.count("message "), 1) << seen.toStdString();
        EXPECT_TRUE(seen.endsWith("stored COM7\n")) << seen.toStdString();
    }
}

TEST_F(SettingsFileTest, AFileThatCannotBeWrittenStartsOnTheDefaultsAndTheDialogSaysWhy)
{
    enum class Place { Folder, Unreadable, Fifo, LinkToZero, ReadOnlyFolder };
    const struct
    {
        const char *what;
        Place place;
        const char *why;
    } rows[] = {
            {"a folder where the file belongs", Place::Folder, "同名的文件夹"},
            {"a file the user may neither read nor write", Place::Unreadable, "只读"},
            // Opening either would block start-up or never end: no window would appear.
            {"a FIFO with no writer", Place::Fifo, "管道、套接字或设备"},
            {"a link to /dev/zero", Place::LinkToZero, "管道、套接字或设备"},
            // A good file in a folder the user may not write to: the file is saved by renaming
            // a new one into place, which the folder refuses, and the disk is not full.
            {"a writable file in a read-only folder", Place::ReadOnlyFolder, "对您是只读的"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        QString file = path();
        QFile::remove(file);
        QDir().rmdir(file);
        bool readable = false;
        bool asNobody = false;
        switch (row.place) {
        case Place::Folder:
            ASSERT_TRUE(QDir().mkpath(file));
            break;
        case Place::Unreadable:
            writeFile("[Setting]\nComport=COM3\n");
            ASSERT_TRUE(QFile::setPermissions(file, QFileDevice::Permissions()));
            // Root reads and writes every file: an ordinary user meets the unreadable one.
            asNobody = true;
            break;
        case Place::Fifo:
            ASSERT_EQ(::mkfifo(QFile::encodeName(file).constData(), 0666), 0);
            break;
        case Place::LinkToZero:
            ASSERT_TRUE(QFile::link(u"/dev/zero"_s, file));
            break;
        case Place::ReadOnlyFolder: {
            const QString folder = m_dir.filePath(u"read-only"_s);
            ASSERT_TRUE(QDir().mkpath(folder));
            file = folder + u"/velmir-rs232.ini"_s;
            QFile good(file);
            ASSERT_TRUE(good.open(QIODevice::WriteOnly));
            good.write("[Setting]\nComport=COM3\n");
            good.close();
            const auto everyone
                    = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
            ASSERT_TRUE(QFile::setPermissions(file, everyone | QFileDevice::WriteOwner
                                                            | QFileDevice::WriteGroup
                                                            | QFileDevice::WriteOther));
            ASSERT_TRUE(QFile::setPermissions(folder, everyone | QFileDevice::ExeOwner
                                                              | QFileDevice::ExeGroup
                                                              | QFileDevice::ExeOther));
            readable = true;
            asNobody = true;
            break;
        }
        }
        QByteArray seen;
        {
            Watchdog watchdog(row.what);
            if (asNobody && ::geteuid() == 0) {
                seen = HelperProcess::run("settings-as-nobody", file);
                if (seen == HelperProcess::cannotBecomeNobody())
                    GTEST_SKIP() << "cannot become an ordinary user here";
            } else {
                seen = startThenApply(file);
            }
        }
        const QByteArray stored = readable ? "COM3" : "(none)";
        EXPECT_TRUE(seen.contains(readable ? "port setCommPort 3\nport setSettings 9600,N,8,1\n"
                                           : "port setCommPort 1\nport setSettings 9600,N,8,1\n"))
                << seen.toStdString();
        EXPECT_EQ(seen.count("message "), 1) << seen.toStdString();
        EXPECT_TRUE(seen.contains(QByteArray("message warning 无法把设置保存到 " + file.toUtf8())))
                << seen.toStdString();
        EXPECT_TRUE(seen.contains(row.why)) << seen.toStdString();
        EXPECT_FALSE(seen.contains("磁盘")) << "blamed a full disk: " << seen.toStdString();
        EXPECT_FALSE(seen.contains(RestartText.toUtf8())) << "a failed save claimed success";
        EXPECT_TRUE(seen.endsWith(QByteArray("stored " + stored + "\n"))) << seen.toStdString();
        EXPECT_EQ(QFileInfo(file).isDir(), row.place == Place::Folder);
        if (row.place == Place::Fifo || row.place == Place::LinkToZero) {
            EXPECT_FALSE(QFileInfo(file).isFile()) << "the save replaced what stood there";
        }
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QFile::setPermissions(QFileInfo(file).absolutePath(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                      | QFileDevice::ExeOwner | QFileDevice::ExeOther);
    }
}

TEST_F(SettingsFileTest, StoredValuesThePortRefusesAreReportedOnceAndTheProgramGoesOn)
{
    // The start-up table of the terminal tests covers the overflow, 4 data bits and a word as
    // speed; these reach the port's other refusals.
    const struct
    {
        const char16_t *key;
        const char16_t *value;
        const char16_t *mentions;
    } rows[] = {
            {u"Comport", u"COM0", u"端口号 0"},        // numbers start at 1
            {u"Comport", u"", u"端口号 0"},            // an empty name reads as 0
            {u"Comport", u"COM-3", u"端口号 -3"},      // a sign is read as a sign
            {u"Parity", u"", u"9600,,8,1"},            // no letter, two separators
            {u"Stopbit", u"1.5", u"1.5 个停止位"},     // only with 5 data bits
            {u"Baud", u"0", u"波特率"},                // no speed at all
            {u"Baud", u"99999999999", u"99999999999"}, // beyond 32 bits
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(QString::fromUtf16(row.key).toStdString() + "="
                     + QString::fromUtf16(row.value).toStdString());
        MemorySettingsStore store;
        store.save(QString::fromUtf16(row.key), QString::fromUtf16(row.value));
        ScriptedDialogs dialogs;
        SerialPort port;
        MainWindow window(port, store, dialogs);
        window.start();
        ASSERT_EQ(dialogs.messages().size(), 1);
        const QString text = dialogs.messages().first().text;
        EXPECT_TRUE(text.contains(QString::fromUtf16(row.mentions))) << text.toStdString();
        EXPECT_EQ(dialogs.messages().first().style, Dialogs::Warning);

        // Usable: the menus answer, the terminal takes a line, and the stored values wait for
        // the user to correct them.
        EXPECT_TRUE(window.menus().toolsMenuEnabled());
        window.runCommand(Menus::HexMode);
        EXPECT_TRUE(window.menus().checked(Menus::HexMode));
        window.terminal().box().insertText(u"typed"_s);
        EXPECT_TRUE(window.terminal().box().text().endsWith(u"typed"_s));
        EXPECT_EQ(store.saveCount(), 1) << "start-up wrote the settings";
        EXPECT_FALSE(port.portOpen());
    }
}

} // namespace

namespace {

TEST(StoredPortTest, ThePortNumberIsAppliedWhateverTheLineSettingsSay)
{
    // A refused speed once left the port on COM1 while the strip named COM7: F12 then opened
    // another device than the one shown, and typed lines went there.
    ensureApp();
    TempConfigHome home;
    PtyPair pty;
    ASSERT_TRUE(home.linkPty(7, pty));
    MemorySettingsStore store;
    store.save(u"Comport"_s, u"COM7"_s);
    store.save(u"Baud"_s, u"96OO"_s);
    ScriptedDialogs dialogs;
    SerialPort port;
    MainWindow window(port, store, dialogs);
    window.start();
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_TRUE(dialogs.messages().first().text.contains(u"96OO"_s))
            << dialogs.messages().first().text.toStdString();
    EXPECT_EQ(port.commPort(), 7);

    window.statusStrip().redraw();
    EXPECT_TRUE(window.statusStrip().currentText().startsWith(u"COM7:"_s));
    window.runCommand(Menus::OpenPort);
    ASSERT_TRUE(port.portOpen()) << dialogs.messages().last().text.toStdString();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, u"a"_s);
    QApplication::sendEvent(&window.terminal().box(), &press);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, u"\r"_s);
    QApplication::sendEvent(&window.terminal().box(), &enter);
    EXPECT_EQ(pty.readMasterExactly(2, 3000), QByteArray("a\r")) << "the line went elsewhere";
}

} // namespace
