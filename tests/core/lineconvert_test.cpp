#include "core/lineconvert.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(LineConvert, EscapesCarriageReturnsAndCount)
{
    struct Case
    {
        QString line;
        bool sendCr;
        QByteArray expected;
        int count;
        const char *guards;
    };
    const Case cases[] = {
            {u"AT"_s, true, "AT\r", 3, "typed line with CR appended"},
            {u"AT"_s, false, "AT", 2, "no CR when the option is off"},
            {u""_s, true, "\r", 1, "empty line sends just CR"},
            {u""_s, false, "", 0, "empty line sends nothing"},
            {u"A\rT\r"_s, false, "AT", 2, "typed CRs never reach the port"},
            {u"<1\r3>"_s, false, "\r", 1, "CRs go before escapes are read"},
            {u"<13>"_s, true, "\r\r", 2, "escaped CR counts like any character"},
            {u"<0>"_s, false, bytes({0}), 1, "NUL byte"},
            {u"<10>"_s, false, "\n", 1, "line feed"},
            {u"<255>"_s, false, bytes({0xFF}), 1, "highest byte"},
            {u"<128><176><161>"_s, false, bytes({0x80, 0xB0, 0xA1}), 3,
             "high bytes go out unchanged, one character each"},
            {u"<72><73>"_s, false, "HI", 2, "escapes back to back"},
            {u"<72><72>"_s, false, "HH", 2, "the same escape twice"},
            {u"x<65>y"_s, false, "xAy", 3, "escape between typed text"},
            {u"<256>"_s, false, "<256>", 5, "beyond a byte"},
            {u"<-1>"_s, false, "<-1>", 4, "sign"},
            {u"<007>"_s, false, "<007>", 5, "leading zeros"},
            {u"<00>"_s, false, "<00>", 4, "zero with a leading zero"},
            {u"<1 3>"_s, false, "<1 3>", 5, "blank inside"},
            {u"< 13>"_s, false, "< 13>", 5, "blank before"},
            {u"<0D>"_s, false, "<0D>", 4, "hexadecimal is not an escape"},
            {u"<13"_s, false, "<13", 3, "unterminated"},
            {u"<>"_s, false, "<>", 2, "no digits"},
            {u"<<65>>"_s, false, "<A>", 3, "brackets around an escape"},
            {u"<6<55>>"_s, false, "C", 1, "a produced digit completes a larger escape"},
            {u"<1<55>>"_s, false, "<17>", 4, "a completed smaller escape stays text"},
            {u"<60>65>"_s, false, "A", 1, "a produced '<' opens a later escape"},
            {u"<1<50>0>"_s, false, "x", 1, "cascade through three digits"},
            {u"<1<50><52>>"_s, false, bytes({124}), 1, "two produced digits"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        const ConvertedLine converted = convertLine(c.line, c.sendCr);
        EXPECT_EQ(converted.bytes, c.expected);
        EXPECT_EQ(converted.count, c.count);
    }
}

TEST(LineConvert, TypedTextGoesOutInCodePage936)
{
    struct Case
    {
        QString line;
        QByteArray expected;
        int count;
        const char *guards;
    };
    const Case cases[] = {
            {u"啊"_s, bytes({0xB0, 0xA1}), 1, "double-byte character counts one"},
            {u"a啊<13>"_s, bytes({0x61, 0xB0, 0xA1, 0x0D}), 3, "mixed with an escape"},
            {u"中文"_s, bytes({0xD6, 0xD0, 0xCE, 0xC4}), 2, "a run of characters"},
            {u"€"_s, bytes({0x80}), 1, "euro sign is the single byte 0x80"},
            {u"°"_s, bytes({0xA1, 0xE3}), 1, "typed U+00B0 is not the escaped byte 0xB0"},
            {u"😀"_s, "?", 1, "a character outside the code page is one '?'"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        const ConvertedLine converted = convertLine(c.line, false);
        EXPECT_EQ(converted.bytes.toHex(' '), c.expected.toHex(' '));
        EXPECT_EQ(converted.count, c.count);
    }
}

TEST(LineConvert, LongPastedLineIsConvertedWhole)
{
    // A pasted line of 100 KB, escapes throughout: every one expanded, none lost at a seam.
    const QString line = u"<65>b<66>啊"_s.repeated(12800);
    const ConvertedLine converted = convertLine(line, true);
    const QByteArray piece = QByteArray("Ab") + 'B' + bytes({0xB0, 0xA1});
    EXPECT_EQ(converted.bytes, piece.repeated(12800) + '\r');
    EXPECT_EQ(converted.count, 4 * 12800 + 1);
}

TEST(LineConvert, Utf8TypedText)
{
    struct Case
    {
        QString line;
        QByteArray expected;
        int count;
        const char *guards;
    };
    const Case cases[] = {
            {u"你好"_s, "\xE4\xBD\xA0\xE5\xA5\xBD\r", 3, "three bytes a character, one count"},
            {u"ls 文件<13>"_s, "ls \xE6\x96\x87\xE4\xBB\xB6\r\r", 7, "escape between"},
            {u"<228><189><160>"_s, "\xE4\xBD\xA0\r", 4, "escaped bytes stay bytes"},
            {u"\U0001F600"_s, "\xF0\x9F\x98\x80\r", 2, "four bytes from a surrogate pair"},
            {QString(QChar(0xD800)), "?\r", 2, "a lone surrogate still reaches the line"},
            {u"€"_s, "\xE2\x82\xAC\r", 2, "not the code page's 0x80"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        const ConvertedLine converted = convertLine(c.line, true, TextEncoding::Utf8);
        EXPECT_EQ(converted.bytes, c.expected);
        EXPECT_EQ(converted.count, c.count);
    }
    EXPECT_EQ(encodeText(u"好"_s, TextEncoding::Utf8), QByteArray("\xE5\xA5\xBD"));
    EXPECT_EQ(encodeText(u"好"_s, TextEncoding::Gbk), QByteArray("\xBA\xC3"));
}
