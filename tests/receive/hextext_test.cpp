#include "receive/hextext.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(HexText, CodesAreTwoUppercaseDigitsAndABlank)
{
    EXPECT_EQ(hexCode(0), u"00 "_s);
    EXPECT_EQ(hexCode(7), u"07 "_s);
    EXPECT_EQ(hexCode(10), u"0A "_s);
    EXPECT_EQ(hexCode(0x7F), u"7F "_s);
    EXPECT_EQ(hexCode(255), u"FF "_s);
    EXPECT_EQ(hexCodes(bytes({0x41, 0x0D, 0xAB})), u"41 0D AB "_s);
    EXPECT_EQ(hexCodes({}), QString());
}

TEST(HexText, ViewCharacterColumnShowsOnlyPrintableAscii)
{
    struct Case
    {
        int byte;
        QChar expected;
    };
    const Case cases[] = {{0, u'.'},   {32, u'.'},  {33, u'!'},  {65, u'A'},
                          {126, u'~'}, {127, u'.'}, {128, u'.'}, {255, u'.'}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.byte);
        EXPECT_EQ(hexViewChar(quint8(c.byte)), c.expected);
    }
}

TEST(HexText, ViewLineLayout)
{
    QByteArray full;
    for (int i = 0; i < 24; ++i)
        full.append(char(0x30 + i));
    const QString line = hexViewLine(full);
    EXPECT_EQ(line.size(), 72 + 2 + 24 + 2);
    EXPECT_TRUE(line.startsWith(u"30 31 32 "_s));
    EXPECT_TRUE(line.endsWith(u"47  :0123456789:;<=>?@ABCDEFG\r\n"_s));

    EXPECT_EQ(hexViewLine(bytes({0x21})), u"21  :!\r\n"_s);
    EXPECT_EQ(hexViewLine(bytes({0x20, 0x7F, 0x0A})), u"20 7F 0A  :...\r\n"_s);
}

TEST(HexText, SendEchoBreaksAfterEvery16thCode)
{
    int column = 0;
    const QString sixteen = sendEchoText(QByteArray(16, 'A'), column);
    EXPECT_TRUE(sixteen.endsWith(u"41 \r\n"_s));
    EXPECT_EQ(sixteen.count(u"\r\n"_s), 1);
    EXPECT_EQ(column, 0);

    column = 0;
    const QString seventeen = sendEchoText(QByteArray(17, 'A'), column);
    EXPECT_EQ(seventeen, u"41 "_s.repeated(16) + u"\r\n41 "_s);
    EXPECT_EQ(column, 1);

    // The column carries over, as when a file is echoed one byte at a time.
    column = 0;
    QString echoed;
    for (int i = 0; i < 33; ++i)
        echoed += sendEchoText(bytes({i}), column);
    EXPECT_EQ(echoed.count(u"\r\n"_s), 2);
    EXPECT_TRUE(echoed.endsWith(u"1F \r\n20 "_s));
    EXPECT_EQ(column, 1);
}

TEST(HexText, DumpLineOfOneReceivedChunk)
{
    struct Case
    {
        QByteArray chunk;
        QString expected;
        const char *guards;
    };
    const Case cases[] = {
            {"AT\r\n", u"41 54 0D 0A : AT\r\n\r\n"_s, "text with its own line end"},
            {"\r\n", u"0D 0A : \r\n\r\n"_s, "line end only"},
            {"", u": \r\n"_s, "empty chunk"},
            {bytes({0x07, 0x7F}), u"07 7F : \a\u007F\r\n"_s, "control characters unchanged"},
            {bytes({0xB0, 0xA1}), u"B0A1 : 啊\r\n"_s, "double-byte character, four digits"},
            {bytes({0x41, 0xB0, 0xA1, 0x42}), u"41 B0A1 42 : A啊B\r\n"_s, "pair between ASCII"},
            {bytes({0xB0}), u"B0 : \uFFFD\r\n"_s, "lead byte cut off at the end"},
            {bytes({0xB0, 0x0A}), u"B0 0A : \uFFFD\n\r\n"_s, "invalid trail is its own group"},
            {bytes({0xB0, 0xB0, 0xA1}), u"B0B0 A1 : 鞍\uFFFD\r\n"_s,
             "pairs are taken from the left"},
            {bytes({0x81, 0x40}), u"8140 : \u4E02\r\n"_s, "lowest lead and trail"},
            {bytes({0x81, 0x7F}), u"81 7F : \uFFFD\u007F\r\n"_s, "0x7F is never a trail"},
            {bytes({0x80}), u"80 : €\r\n"_s, "euro sign"},
            {bytes({0xFF}), u"FF : \uFFFD\r\n"_s, "0xFF starts nothing"},
            {QByteArray(1, '\0'), u"00 : "_s + QChar(0) + u"\r\n"_s, "NUL kept in the text"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        EXPECT_EQ(hexDumpLine(c.chunk), c.expected);
    }
}

TEST(HexText, Utf8DumpGroupsEachCharactersBytes)
{
    struct Case
    {
        QByteArray chunk;
        QString expected;
        const char *guards;
    };
    const Case cases[] = {
            {"\xE4\xBD\xA0\xE5\xA5\xBD", u"E4BDA0 E5A5BD : 你好\r\n"_s, "three bytes, one group"},
            {"A\xC2\xB0", u"41 C2B0 : A°\r\n"_s, "two-byte character after ASCII"},
            {"\xF0\x9F\x98\x80", u"F09F9880 : \U0001F600\r\n"_s, "four bytes"},
            {"\xE4\xBD", u"E4 BD : \uFFFD\uFFFD\r\n"_s, "cut off at the end: each byte itself"},
            {"\xE4\xBD"
             "A",
             u"E4 BD 41 : \uFFFD\uFFFDA\r\n"_s, "broken character"},
            {"\xB0\xA1", u"B0 A1 : \uFFFD\uFFFD\r\n"_s, "code page 936 bytes are not UTF-8"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        EXPECT_EQ(hexDumpLine(c.chunk, TextEncoding::Utf8), c.expected);
    }
}
