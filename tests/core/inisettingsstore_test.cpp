#include "core/configpaths.h"
#include "core/inisettingsstore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "support/qtprinters.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

#include <random>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

class IniSettingsStoreTest : public ::testing::Test
{
protected:
    QString path() const { return m_dir.filePath(u"velmir/velmir.ini"_s); }

    void writeFile(const QByteArray &contents)
    {
        QDir().mkpath(QFileInfo(path()).absolutePath());
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

    // Another program writing the file; the time stamp is pushed on so that even a coarse
    // file-system clock sees the change.
    void writeFileLater(const QByteArray &contents)
    {
        const QDateTime before = QFileInfo(path()).lastModified();
        writeFile(contents);
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(before.addSecs(5), QFileDevice::FileModificationTime));
    }

    QByteArray fileContents() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(IniSettingsStoreTest, AbsentFileGivesDefaultsAndIsNotCreated)
{
    IniSettingsStore store(path());
    EXPECT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM1"_s);
    EXPECT_EQ(store.read(u"Flow"_s, u"None"_s), u"None"_s);
    EXPECT_FALSE(QFileInfo::exists(path()));
}

TEST_F(IniSettingsStoreTest, SectionKeysAndEmptyValues)
{
    writeFile("[Setting]\nBaud=\ncomport=COM9\nParity=Odd\n[Other]\nFlow=RTS\n");
    IniSettingsStore store(path());
    EXPECT_EQ(store.read(u"Baud"_s, u"9600"_s), QString()) << "present empty key gives empty";
    EXPECT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM1"_s) << "keys are case-sensitive";
    EXPECT_EQ(store.read(u"Parity"_s, u"None"_s), u"Odd"_s);
    EXPECT_EQ(store.read(u"Flow"_s, u"None"_s), u"None"_s) << "other sections are not read";
}

TEST_F(IniSettingsStoreTest, SavedValuesComeBackExactly)
{
    const QString values[] = {u""_s,         u" padded "_s, u"a,b"_s,         u"@at"_s,
                              u"中文端口"_s, u"a=b;c#d"_s,  u"back\\slash"_s, u"\"quoted\""_s};
    {
        IniSettingsStore store(path());
        for (int i = 0; i < int(std::size(values)); ++i)
            store.save(u"Key%1"_s.arg(i), values[i]);
        EXPECT_FALSE(store.saveFailed());
        EXPECT_TRUE(QFileInfo::exists(path())) << "the folder above the file is created";
    }
    IniSettingsStore reopened(path());
    for (int i = 0; i < int(std::size(values)); ++i) {
        SCOPED_TRACE(values[i].toStdString());
        EXPECT_EQ(reopened.read(u"Key%1"_s.arg(i), u"default"_s), values[i]);
    }
}

TEST_F(IniSettingsStoreTest, HandWrittenListValueReadsAsText)
{
    writeFile("[Setting]\nComport=COM1,COM2\n");
    IniSettingsStore store(path());
    EXPECT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM1,COM2"_s);
}

TEST_F(IniSettingsStoreTest, ChangeByAnotherProgramIsNoticed)
{
    writeFile("[Setting]\nComport=COM2\n");
    IniSettingsStore store(path());
    ASSERT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM2"_s);

    writeFileLater("[Setting]\nComport=COM3\n");
    EXPECT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM3"_s) << "same size, newer file";

    writeFileLater("[Setting]\nComport=COM14\n");
    EXPECT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM14"_s);

    ASSERT_TRUE(QFile::remove(path()));
    EXPECT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM1"_s) << "file deleted";
}

TEST_F(IniSettingsStoreTest, ReadingDoesNotWriteTheFile)
{
    writeFile("[Setting]\nComport=COM2\n");
    const QDateTime before = QFileInfo(path()).lastModified();
    const QByteArray contents = fileContents();
    IniSettingsStore store(path());
    for (int i = 0; i < 50; ++i)
        store.read(u"Baud"_s, u"9600"_s);
    EXPECT_EQ(fileContents(), contents);
    EXPECT_EQ(QFileInfo(path()).lastModified(), before);
}

TEST_F(IniSettingsStoreTest, GarbageFileGivesDefaultsAndCanBeOverwritten)
{
    std::mt19937 random(7);
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary.append(char(random() % 256));
    const QByteArray garbage[] = {
            binary,
            QByteArray("\xEF\xBB\xBF[[[Setting\n=\n=x\n[\n\\\n\"unterminated\n"),
            QByteArray(100000, '['),
    };
    for (const QByteArray &contents : garbage) {
        SCOPED_TRACE(contents.left(40).toHex().toStdString());
        writeFile(contents);
        IniSettingsStore store(path());
        EXPECT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM1"_s);
        store.save(u"Comport"_s, u"COM7"_s);
        EXPECT_FALSE(store.saveFailed());
        EXPECT_EQ(IniSettingsStore(path()).read(u"Comport"_s, u"COM1"_s), u"COM7"_s);
    }
}

TEST_F(IniSettingsStoreTest, DirectoryInPlaceOfTheFile)
{
    ASSERT_TRUE(QDir().mkpath(path()));
    IniSettingsStore store(path());
    EXPECT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM1"_s);
    store.save(u"Comport"_s, u"COM7"_s);
    EXPECT_TRUE(store.saveFailed());
    EXPECT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM1"_s);
    EXPECT_TRUE(QFileInfo(path()).isDir());
}

TEST_F(IniSettingsStoreTest, SomethingOtherThanAFileIsNeverOpenedUntilAFileTakesItsPlace)
{
    QDir().mkpath(QFileInfo(path()).absolutePath());
    ASSERT_EQ(::mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
    Watchdog watchdog("a settings store on a FIFO");
    IniSettingsStore store(path());
    EXPECT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM1"_s);
    store.save(u"Comport"_s, u"COM7"_s);
    EXPECT_TRUE(store.saveFailed());
    EXPECT_TRUE(store.saveError().contains(u"管道"_s)) << store.saveError().toStdString();
    EXPECT_FALSE(QFileInfo(path()).isFile()) << "the save replaced the FIFO";

    // Once a regular file stands there, the same store reads and writes it.
    ASSERT_TRUE(QFile::remove(path()));
    writeFile("[Setting]\nComport=COM4\n");
    EXPECT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM4"_s);
    store.save(u"Comport"_s, u"COM7"_s);
    EXPECT_FALSE(store.saveFailed());
    EXPECT_EQ(IniSettingsStore(path()).read(u"Comport"_s, u"COM1"_s), u"COM7"_s);

    // And a FIFO put back later is let go of, not read.
    ASSERT_TRUE(QFile::remove(path()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
    EXPECT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM1"_s);
}

TEST_F(IniSettingsStoreTest, UnreadableFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root";
    writeFile("[Setting]\nComport=COM2\n");
    ASSERT_TRUE(QFile::setPermissions(path(), QFileDevice::Permissions()));
    IniSettingsStore store(path());
    EXPECT_EQ(store.read(u"Comport"_s, u"COM1"_s), u"COM1"_s);
    store.save(u"Comport"_s, u"COM7"_s);
    EXPECT_TRUE(store.saveFailed());
    QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

TEST(ConfigPaths, FollowTheConfigHomeAndTheApplicationName)
{
    EXPECT_EQ(ConfigPaths::configHomeFrom(u"/tmp/velmir-config/"_s), u"/tmp/velmir-config"_s);
    EXPECT_EQ(ConfigPaths::configHomeFrom(u"relative/config"_s), QDir::homePath() + u"/.config"_s)
            << "a relative path is ignored";
    EXPECT_EQ(ConfigPaths::configHomeFrom(QString()), QDir::homePath() + u"/.config"_s);

    const QString previous = ConfigPaths::configHome();
    ConfigPaths::setConfigHome(u"/tmp/velmir-config"_s);
    EXPECT_EQ(ConfigPaths::settingsFile(), u"/tmp/velmir-config/velmir-rs232/velmir-rs232.ini"_s);
    EXPECT_EQ(ConfigPaths::portsDir(), u"/tmp/velmir-config/velmir-rs232/ports"_s);
    {
        // A copy of the program under another name keeps settings of its own.
        int argc = 1;
        char name[] = "renamed-terminal";
        char *argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        EXPECT_EQ(ConfigPaths::appName(), u"renamed-terminal"_s);
        EXPECT_EQ(ConfigPaths::settingsFile(),
                  u"/tmp/velmir-config/renamed-terminal/renamed-terminal.ini"_s);
    }
    ConfigPaths::setConfigHome(previous);
}
