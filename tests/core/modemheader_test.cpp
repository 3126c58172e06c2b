// What a YMODEM sender says about its file (block 0's name and size) and how the program tells
// the user: sizes no file can have, and sizes in words a person reads.

#include "core/messages.h"
#include "transfer/modemframe.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

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

} // namespace
