// The checks appended to a frame and the hexadecimal a user types: catalogued check values,
// the byte order each frame carries, and every way of typing bytes that a panel accepts or
// must refuse with the position of the fault.

#include "core/checksum.h"
#include "core/hexinput.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(ChecksumTest, CatalogueCheckValuesAndWireOrder)
{
    const QByteArray nine = "123456789";
    EXPECT_EQ(crc16Modbus(nine), 0x4B37);
    EXPECT_EQ(crc16CcittFalse(nine), 0x29B1);
    EXPECT_EQ(crc16Xmodem(nine), 0x31C3);
    EXPECT_EQ(crc32(nine), 0xCBF43926u);
    EXPECT_EQ(sum8(nine), quint8(0xDD));
    EXPECT_EQ(xor8(nine), quint8(0x31));

    struct Case
    {
        const char *what;
        ChecksumKind kind;
        QByteArray data;
        QByteArray appended;
    } cases[] = {
            {"Modbus read request, low byte first", ChecksumKind::Modbus,
             QByteArray::fromHex("0103000A0002"), QByteArray::fromHex("E409")},
            {"CCITT high byte first", ChecksumKind::CcittFalse, nine, QByteArray::fromHex("29B1")},
            {"XMODEM high byte first", ChecksumKind::Xmodem, nine, QByteArray::fromHex("31C3")},
            {"CRC-32 most significant first", ChecksumKind::Crc32, nine,
             QByteArray::fromHex("CBF43926")},
            {"LRC of raw bytes is one byte", ChecksumKind::Lrc, QByteArray::fromHex("010300000002"),
             QByteArray::fromHex("FA")},
            {"LRC of a Modbus ASCII frame is two digits", ChecksumKind::Lrc, ":010300000002", "FA"},
            {"nothing for none", ChecksumKind::None, nine, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(checksumBytes(c.kind, c.data).toHex(), c.appended.toHex());
    }
    for (const ChecksumKind kind : AllChecksumKinds) {
        EXPECT_EQ(checksumFromName(checksumName(kind)), kind);
    }
    EXPECT_FALSE(checksumFromName(u"crc64").has_value());
}

TEST(HexInputTest, AcceptsEveryCommonSpellingAndPlacesTheFault)
{
    struct Case
    {
        const char *what;
        QString text;
        QByteArray bytes;
        qsizetype errorPosition;
    } cases[] = {
            {"blank separated", u"01 03 00 0A"_s, QByteArray::fromHex("0103000A"), 0},
            {"run together", u"0103000a"_s, QByteArray::fromHex("0103000A"), 0},
            {"prefixed with commas", u"0x01,0x3, 0XfF"_s, QByteArray::fromHex("0103FF"), 0},
            {"line breaks and tabs", u"01\n02\t03"_s, QByteArray::fromHex("010203"), 0},
            {"empty", u"  "_s, {}, 0},
            {"a wrong digit", u"01 0G"_s, {}, 5},
            {"an odd count", u"01 030"_s, {}, 6},
            {"a bare prefix", u"01 0x"_s, {}, 4},
            {"a prefix with three digits", u"0x123"_s, {}, 1},
            {"a Chinese character", u"01 数"_s, {}, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const HexInput input = parseHexInput(c.text);
        EXPECT_EQ(input.errorPosition, c.errorPosition) << input.error.toStdString();
        if (c.errorPosition == 0) {
            EXPECT_EQ(input.bytes.toHex(), c.bytes.toHex());
        } else {
            EXPECT_TRUE(input.error.contains(QString::number(c.errorPosition)));
        }
    }
}
