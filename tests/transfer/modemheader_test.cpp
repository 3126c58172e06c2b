// What a YMODEM sender says about its file (block 0's name and size) and how the program tells
// the user: sizes no file can have, and sizes in words a person reads.

#include "core/messages.h"
#include "transfer/modemframe.h"
#include "transfer/receivefolder.h"

#include "support/qtprinters.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>

using namespace Qt::StringLiterals;

namespace {

TEST(ModemHeaderTest, SizeIsReadWholeOrNotAtAll)
{
    const struct
    {
        QByteArray info; // what follows the name's NUL
        qint64 size;
    } cases[] = {
            {"5000 14330572341", 5000},
            {"0", 0},
            {"", -1},
            {" 5000", -1},
            {"9223372036854775807 0", 9223372036854775807LL},
            // One digit more than fits: its first 18 digits would be a size the sender never gave.
            {"1000000000000000000 0", 1000000000000000000LL},
            {"10000000000000000000 0", -1},
            {"99999999999999999999999", -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.info.toStdString());
        const QByteArray data = QByteArray("a.bin", 6) + c.info;
        const std::optional<Modem::Header> header = Modem::parseHeader(data);
        ASSERT_TRUE(header.has_value());
        EXPECT_EQ(header->name, "a.bin");
        EXPECT_EQ(header->size, c.size);
    }
}

TEST(ModemHeaderTest, SizesCarryUnits)
{
    const struct
    {
        qint64 bytes;
        QString text;
    } cases[] = {
            {0, u"0 字节"_s},
            {1023, u"1023 字节"_s},
            {1024, u"1.0 KiB（1024 字节）"_s},
            {102400, u"100 KiB（102400 字节）"_s},
            {5 * 1024 * 1024 + 1, u"5.0 MiB（5242881 字节）"_s},
            {1000000000000000000LL, u"888 PiB"_s},
            {9223372036854775807LL, u"8.0 EiB"_s},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Messages::byteSize(c.bytes), c.text) << c.bytes;
}

TEST(ModemHeaderTest, NamesAreReadInTheLinesEncodingAndFitTheDisk)
{
    // 500 times "长" in code page 936: a name as long as a 1024-byte header holds.
    QByteArray longName;
    for (int i = 0; i < 500; ++i)
        longName += "\xb3\xa4";
    const struct
    {
        const char *what;
        QByteArray sent;
        QString saved;
    } cases[] = {
            {"code page 936", "\xd6\xd0\xce\xc4\xc3\xfb.txt", u"中文名.txt"_s},
            {"a byte that starts no character", "bad\xff.bin", u"bad\ufffd.bin"_s},
            {"a lead byte before a separator", "dir\x81/x.bin", u"x.bin"_s},
            {"longer than the file system takes", longName + ".bin", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        ReceiveFolder folder(dir.path());
        ASSERT_TRUE(folder.begin(c.sent, 4).ok());
        ASSERT_TRUE(folder.write("data").ok());
        const Expected<QString> saved = folder.complete();
        ASSERT_TRUE(saved.ok()) << saved.message().toStdString();
        const QString name = (*saved).mid(dir.path().size() + 1);
        if (!c.saved.isEmpty()) {
            EXPECT_EQ(name, c.saved);
        } else {
            EXPECT_TRUE(name.startsWith(u"长长长"_s) && name.endsWith(u"….bin"_s)) << name.size();
            EXPECT_LE(QFile::encodeName(name).size(), 255 - 18);
        }
        QFile file(*saved);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), "data");
    }
}

TEST(ModemHeaderTest, FileErrorsReadInChineseWithTheNameWhole)
{
    const QString folder = u"/media/"_s + QString(900, u'd') + u"/in"_s;
    const QString path = folder + u"/offered.bin.未完成"_s;
    const struct
    {
        int error;
        QString reason;
    } cases[] = {
            {EROFS, u"磁盘是只读的"_s},
            {EPERM, u"系统不允许此操作"_s},
            {ENAMETOOLONG, u"文件名太长"_s},
    };
    for (const auto &c : cases) {
        const QString text = Messages::transferWriteFailed(path, qt_error_string(c.error));
        EXPECT_TRUE(text.contains(c.reason)) << text.toStdString();
        EXPECT_TRUE(text.contains(u"/offered.bin.未完成”"_s)) << text.toStdString();
        EXPECT_TRUE(text.contains(u"/media/"_s)) << text.toStdString();
        EXPECT_LT(text.size(), 160) << text.toStdString();
    }
}

} // namespace
