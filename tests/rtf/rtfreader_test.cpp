#include "rtf/rtfreader.h"

#include "core/messages.h"
#include "rtf/rtfwriter.h"
#include "core/colors.h"

#include "support/textrunprinters.h"

#include <QFile>

#include <gtest/gtest.h>

#include <random>

using namespace Qt::StringLiterals;

namespace {

constexpr RgbColor red = rgbColor(255, 0, 0);
constexpr RgbColor blue = rgbColor(0, 0, 255);

TextRun run(const QString &text, RgbColor color = rtfAutoColor, bool received = false)
{
    return TextRun{text, color, received};
}

TextRuns plain(const QString &text)
{
    return {run(text)};
}

QString textOf(const TextRuns &runs)
{
    QString text;
    for (const TextRun &r : runs)
        text += r.text;
    return text;
}

// Whatever the input, the reader hands the terminal runs it can show as they are.
void expectWellFormed(const TextRuns &runs)
{
    for (qsizetype i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(runs[i].text.isEmpty());
        EXPECT_EQ(runs[i].color >> 24, 0xffu);
        if (i > 0) {
            EXPECT_FALSE(runs[i].color == runs[i - 1].color
                         && runs[i].received == runs[i - 1].received);
        }
    }
}

QByteArray document(const QByteArray &body)
{
    return "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}"
           "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}"
           + body + "}";
}

QByteArray dataFile(const QString &name)
{
    QFile file(QStringLiteral(VELMIR_TEST_DATA "/rtf/") + name);
    if (!file.open(QIODevice::ReadOnly))
        ADD_FAILURE() << "cannot read " << file.fileName().toStdString();
    return file.readAll();
}

} // namespace

TEST(RtfReader, ReadsWhatWordProcessorsWrite)
{
    struct Case
    {
        const char *what;
        QByteArray body;
        TextRuns expected;
    };
    const Case cases[] = {
            {"paragraph, line, section and page breaks", R"(a\par b\line c\sect d\page e)",
             plain(u"a\nb\nc\nd\ne"_s)},
            {"one space ends a control word, a second one is text", R"(\b bold\b0  two\i\i0 x)",
             plain(u"bold twox"_s)},
            {"tabs, written as a word or literally", "a\\tab b\tc", plain(u"a\tb\tc"_s)},
            {"table cells apart by tabs, rows on lines",
             R"(\trowd\cellx1000\cellx2000\intbl a\cell b\cell\row\intbl c\cell d\cell\row e)",
             plain(u"a\tb\nc\td\ne"_s)},
            {"special characters",
             R"(\emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote\~\_\-x\emspace\enspace)",
             plain(u"—–•‘’“”\u00a0\u2011x\u2003\u2002"_s)},
            {"escaped syntax characters", R"(\\ \{ \})", plain(u"\\ { }"_s)},
            {"raw line ends are no text, a backslash before one is a paragraph", "a\r\nb\\\nc",
             plain(u"ab\nc"_s)},
            {"unknown control words and symbols show nothing", R"(a\foo b\barbaz12 c\|\:d)",
             plain(u"abcd"_s)},
            {"colours from the table; cf0, missing entries and no cf are automatic",
             R"(a\cf1 b\cf2 c\cf0 d\cf7 e)",
             {run(u"a"_s), run(u"b"_s, red), run(u"c"_s, blue), run(u"de"_s)}},
            {"colours belong to their group",
             R"({\cf1 a{\cf2 b}c}d)",
             {run(u"a"_s, red), run(u"b"_s, blue), run(u"c"_s, red), run(u"d"_s)}},
            {"plain resets the colour and the received mark",
             R"(\cf1\protect a\plain b)",
             {run(u"a"_s, red, true), run(u"b"_s)}},
            {"protect marks received text until protect0",
             R"(a\protect b\protect0 c)",
             {run(u"a"_s), run(u"b"_s, rtfAutoColor, true), run(u"c"_s)}},
            {"hidden text is not shown", R"(a{\v hidden}b\v c\v0 d)", plain(u"abd"_s)},
            {"unicode with a one-character fallback", R"(\u20320?\u22909?)", plain(u"你好"_s)},
            {"uc0: no fallback", R"(\uc0\u20320 x)", plain(u"你x"_s)},
            {"uc2: fallback of hex bytes and literal characters",
             R"(\uc2\u20320\'c4\'e3\u22909??ok)", plain(u"你好ok"_s)},
            {"a fallback ends with its group", R"({\uc3\u20320 a}bc)", plain(u"你bc"_s)},
            {"a fallback ends where a group starts",
             R"(\u20320{\cf1 x})",
             {run(u"你"_s), run(u"x"_s, red)}},
            {"uc belongs to its group", R"({\uc2\u20320\'c4\'e3}\u22909?)", plain(u"你好"_s)},
            {"negative values and surrogate pairs", R"(\u-26004?\u-10179?\u-8704?)",
             plain(u"马😀"_s)},
            {"a surrogate without its partner is U+FFFD", R"(\u-10179?x\u-8704?)",
             plain(u"\uFFFDx\uFFFD"_s)},
            {"destinations that show nothing",
             R"({\*\unknowndest x}{\stylesheet{\s0 Normal;}}{\info{\title t}{\author me}})"
             R"({\header h}{\footerl f}{\*\themedata 0a0b}{\*\datastore 0c}{\xe index}a)",
             plain(u"a"_s)},
            {"field results shown, their instructions not",
             R"({\field{\*\fldinst HYPERLINK "http://x"}{\fldrslt link}} {\field{\fldinst PAGE}{\fldrslt 1}})",
             plain(u"link 1"_s)},
            {"pictures and their binary data, braces included",
             R"({\pict\wmetafile8\picw10 \bin5 }}{{\x}after{\*\shppict{\pict 0102}}{\nonshppict{\pict 0304}})",
             plain(u"after"_s)},
            {"embedded objects",
             R"({\object\objemb{\*\objclass Paint}{\*\objdata 0102}{\result{\pict 00}}}z)",
             plain(u"z"_s)},
            {"characters inside skipped groups stay hidden", R"({\*\x \u20320?\emdash\par\'41}a)",
             plain(u"a"_s)},
            {"a hex escape needs two digits", R"(a\'4 b\'zz)", plain(u"a bzz"_s)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Expected<TextRuns> runs = readRtf(document(c.body));
        ASSERT_TRUE(runs.ok()) << runs.message().toStdString();
        EXPECT_EQ(*runs, c.expected);
    }
}

TEST(RtfReader, DecodesBytesInTheCodePageOfTheFont)
{
    const QByteArray header
            = R"({\rtf1\ansi\ansicpg1251\deff0{\fonttbl{\f0\fswiss\fcharset0 Arial;})"
              R"({\f1\fnil\fcharset134 SimSun;}{\f2\fnil\fcharset128 MS Gothic;})"
              R"({\f3\fnil\fcharset136 MingLiU;}{\f4\fnil\fcharset129 Gulim;})"
              R"({\f5\fnil\fcharset204 Arial Cyr;}{\f6\fnil\fcharset161 Arial Greek;})"
              R"({\f7\fnil\fcharset238 Arial CE;}{\f8\fnil\fcharset222 Tahoma;})"
              R"({\f9\fnil\fcharset162 Arial Tur;}{\f10\fnil\fcharset177 Arial Hebrew;})"
              R"({\f11\fnil\fcharset178 Arial Arabic;}{\f12\fnil\fcharset186 Arial Baltic;})"
              R"({\f13\fnil\fcharset1 Default;}{\f14\fnil\fcharset0\cpg950 Big5 by code page;})"
              R"({\f15\fnil\fcharset163 Vietnamese;}})";
    struct Case
    {
        const char *what;
        QByteArray body;
        QString expected;
    };
    const Case cases[] = {
            {"charset 0 is code page 1252", R"(\f0\'80\'e9\'9f)", u"€éŸ"_s},
            {"without \\f the default font", R"(\'80\'e9)", u"€é"_s},
            {"134 GBK, a trail byte may be a literal character", R"(\f1\'c4\'e3\'81@\'81\'40)",
             u"你丂丂"_s},
            {"128 Shift-JIS, a trail byte may be an escaped backslash", R"(\f2\'82\'a0\'95\\)",
             u"あ表"_s},
            {"136 Big5", R"(\f3\'a7A\'a6n)", u"你好"_s},
            {"129 Korean", R"(\f4\'b0\'a1)", u"가"_s},
            {"204 Cyrillic", R"(\f5\'c0)", u"А"_s},
            {"161 Greek", R"(\f6\'e1)", u"α"_s},
            {"238 Central European", R"(\f7\'b9)", u"ą"_s},
            {"222 Thai", R"(\f8\'a1)", u"ก"_s},
            {"162 Turkish", R"(\f9\'fd)", u"ı"_s},
            {"177 Hebrew", R"(\f10\'e0)", u"א"_s},
            {"178 Arabic", R"(\f11\'c7)", u"ا"_s},
            {"186 Baltic", R"(\f12\'e0)", u"ą"_s},
            {"163 Vietnamese", R"(\f15\'f5)", u"ơ"_s},
            {"default charset: the document's code page", R"(\f13\'c0)", u"А"_s},
            {"a font missing from the table: the document's code page", R"(\f99\'c0)", u"А"_s},
            {"a font's own code page wins over its charset", R"(\f14\'a4\'a4)", u"中"_s},
            {"plain returns to the default font", R"(\f1\plain\'e9)", u"é"_s},
            {"the font belongs to its group", R"({\f1\'c4\'e3}\'e9)", u"你é"_s},
            {"a lead byte cut off from its trail is U+FFFD", R"(\f1\'c4\par\'c4\'e3)",
             u"\uFFFD\n你"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Expected<TextRuns> runs = readRtf(QByteArray(header + c.body + "}"));
        ASSERT_TRUE(runs.ok());
        EXPECT_EQ(textOf(*runs), c.expected);
    }

    struct DocumentCase
    {
        QByteArray rtf;
        QString expected;
    };
    const DocumentCase documents[] = {
            {R"({\rtf1\ansi\ansicpg936 \'c4\'e3})", u"你"_s},
            {R"({\rtf1\mac \'8e})", u"é"_s},
            {R"({\rtf1\pc \'82})", u"é"_s},
            {R"({\rtf1\ansi\ansicpg99999 \'e9})", u"é"_s},
    };
    for (const DocumentCase &c : documents) {
        SCOPED_TRACE(c.rtf.toStdString());
        const Expected<TextRuns> runs = readRtf(c.rtf);
        ASSERT_TRUE(runs.ok());
        EXPECT_EQ(textOf(*runs), c.expected);
    }
}

TEST(RtfReader, LoadsFilesOfOtherWriters)
{
    using namespace TerminalColors;
    struct Case
    {
        const char *file;
        TextRuns expected;
    };
    const Case cases[] = {
            {"libreoffice-colours.rtf",
             {run(u"AT+GMR"_s, Received), run(u" OK 你好"_s, Typed), run(u"\n"_s),
              run(u"[6 bytes]"_s, Count), run(u" "_s), run(u"端口未打开"_s, Notice),
              run(u"\n41 42 43 {braces} \\backslash & <tag> “quoted” — €\n"_s, Echo)}},
            {"gbk-cp936.rtf",
             {run(u"串口"_s), run(u"打开"_s, Received), run(u"COM1\n"_s),
              run(u"收到丂丂 café €中\n"_s, Typed)}},
            {"unicode-only.rtf",
             {run(u"你好 [世界]\n"_s, Count), run(u"端口"_s, Notice), run(u"马 😀\n"_s, Count)}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const Expected<TextRuns> runs = readRtf(dataFile(QString::fromLatin1(c.file)));
        ASSERT_TRUE(runs.ok()) << runs.message().toStdString();
        EXPECT_EQ(*runs, c.expected);
    }
}

TEST(RtfReader, AcceptsOnlyRichTextFormat)
{
    struct Case
    {
        QByteArray rtf;
        QString expected;
    };
    const Case documents[] = {
            {"{\\rtf1}", QString()},
            {"{\\rtf a}", u"a"_s},
            {"\xef\xbb\xbf \r\n\t{\\rtf1 a}", u"a"_s},
            {"{\\rtf1 a}b{\\cf1 c}", u"a"_s},
            {"{\\rtf1 a{\\cf1 b", u"ab"_s},
    };
    for (const Case &c : documents) {
        SCOPED_TRACE(c.rtf.toStdString());
        const Expected<TextRuns> runs = readRtf(c.rtf);
        ASSERT_TRUE(runs.ok());
        EXPECT_EQ(textOf(*runs), c.expected);
    }

    const QByteArray others[] = {
            "",
            "   ",
            "plain text",
            "{\\rtx1 a}",
            "\\rtf1 a}",
            "{ \\rtf1 a}",
            "{\\RTF1 a}",
            QByteArray("\xff\xfe{\0\\\0r\0t\0f\0", 12),
            "<html><body>a</body></html>",
    };
    for (const QByteArray &data : others) {
        SCOPED_TRACE(data.toStdString());
        const Expected<TextRuns> runs = readRtf(data);
        ASSERT_FALSE(runs.ok());
        EXPECT_EQ(runs.message(), Messages::notRichText());
    }
}

TEST(RtfReader, HostileNestingFailsInsteadOfOverflowing)
{
    const auto nested = [](qsizetype depth) -> QByteArray {
        return "{\\rtf1" + QByteArray(depth - 1, '{') + "x" + QByteArray(depth - 1, '}') + "}";
    };
    const Expected<TextRuns> deepest = readRtf(nested(rtfMaxGroupDepth));
    ASSERT_TRUE(deepest.ok());
    EXPECT_EQ(textOf(*deepest), u"x"_s);

    for (const qsizetype depth : {qsizetype(rtfMaxGroupDepth) + 1, qsizetype(10'000'000)}) {
        SCOPED_TRACE(depth);
        const Expected<TextRuns> runs = readRtf(nested(depth));
        ASSERT_FALSE(runs.ok());
        EXPECT_TRUE(runs.message().contains(u"1000"_s)) << runs.message().toStdString();
    }
}

TEST(RtfReader, HostileNumbersAreClamped)
{
    struct Case
    {
        const char *what;
        QByteArray body;
        TextRuns expected;
    };
    const Case cases[] = {
            {"binary length past the end", R"(a\bin2147483647 bc)", plain(u"a"_s)},
            {"binary length beyond 64 bits", R"(a\bin99999999999999999999999 bc)", plain(u"a"_s)},
            {"negative binary length", R"(a\bin-5 bc)", plain(u"abc"_s)},
            {"huge colour index", R"(\cf99999999999999999999 a)", plain(u"a"_s)},
            {"unicode values out of range", R"(\u99999999999?b\u-99999999999?c)",
             plain(u"\uFFFDb\uFFFDc"_s)},
            {"huge fallback count", R"({\uc99999999999\u20320 abc}d)", plain(u"你d"_s)},
            {"negative fallback count", R"(\uc-3\u20320?)", plain(u"你?"_s)},
            {"huge and negative font numbers", R"(\f-99999999999 \'e9\f99999999999 \'e9)",
             plain(u"éé"_s)},
            {"colour components out of range",
             R"({\colortbl;\red99999999999\green-5\blue256;}\cf1 x)",
             {run(u"x"_s, rgbColor(255, 0, 255))}},
            {"hostile code pages", R"(\ansicpg-1\'e9\ansicpg99999999999 \'e9)", plain(u"éé"_s)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Expected<TextRuns> runs = readRtf(document(c.body));
        ASSERT_TRUE(runs.ok());
        EXPECT_EQ(*runs, c.expected);
    }
}

TEST(RtfReader, TruncatedDocumentsGiveTheTextBeforeTheCut)
{
    using namespace TerminalColors;
    const QByteArray full
            = writeRtf({run(u"收到 line one\n"_s, Received, true), run(u"typed {two}\n"_s, Typed),
                        run(u"你好 three 😀\n"_s, Count), run(u"four"_s, Echo)});
    const QString fullText = textOf(*readRtf(full));
    for (qsizetype cut = 0; cut <= full.size(); ++cut) {
        SCOPED_TRACE(cut);
        const Expected<TextRuns> runs = readRtf(full.left(cut));
        ASSERT_EQ(runs.ok(), cut >= 5);
        if (!runs.ok())
            continue;
        expectWellFormed(*runs);
        // Cut right behind a paragraph, the lines before it are all there.
        if (full.left(cut).endsWith("\\par\r\n")) {
            const QString text = textOf(*runs);
            EXPECT_TRUE(fullText.startsWith(text)) << text.toStdString();
            EXPECT_TRUE(text.endsWith(u'\n'));
        }
    }
}

TEST(RtfReader, GarbageNeverBreaksTheReader)
{
    // Pieces of the syntax in random order reach the corners that real documents never do.
    const QByteArray pieces[] = {
            "{",
            "}",
            "\\u-5",
            "\\u20320",
            "\\'",
            "\\'c4",
            "\\'4",
            "\\bin3 ",
            "\\uc9",
            "\\uc0",
            "\\*",
            "\\fonttbl",
            "\\colortbl",
            ";",
            "\\cf1 ",
            "\\f1",
            "\\fcharset134 ",
            "\\red300",
            "x",
            " ",
            "\\",
            "\\par",
            "\\cell",
            "\\row",
            "\\protect",
            "\\v",
            "\\plain",
            "\\pict",
            "?",
            "\\ansicpg932",
            "\\f",
            "\xe9",
            "\x81",
            "\\u-10179",
            "\\u-8704",
    };
    std::mt19937 random(20240607);
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
    for (int round = 0; round < 2000; ++round) {
        QByteArray rtf = "{\\rtf1";
        const int count = int(random() % 200);
        for (int i = 0; i < count; ++i)
            rtf += pieces[pick(random)];
        SCOPED_TRACE(rtf.toStdString());
        const Expected<TextRuns> runs = readRtf(rtf);
        if (!runs.ok())
            continue;
        expectWellFormed(*runs);
        // What the reader accepts, the writer writes so that it reads the same again.
        const Expected<TextRuns> again = readRtf(writeRtf(*runs));
        ASSERT_TRUE(again.ok());
        ASSERT_EQ(*again, *runs);
    }

    for (int round = 0; round < 200; ++round) {
        QByteArray bytes(int(random() % 4096), Qt::Uninitialized);
        for (char &b : bytes)
            b = char(random());
        const Expected<TextRuns> runs = readRtf(QByteArray("{\\rtf1" + bytes));
        ASSERT_TRUE(runs.ok()) << "random bytes behind the header are text or skipped";
        expectWellFormed(*runs);
        EXPECT_FALSE(readRtf(bytes.prepend('x')).ok());
    }
}

namespace {

// What a reader fed in pieces gives: runs of one colour joined, as the terminal joins them.
struct PieceRead
{
    bool ok = false;
    bool complete = false;
    TextRuns runs;
};

PieceRead readInPieces(const QByteArray &data, std::mt19937 &random, qsizetype largest)
{
    PieceRead read;
    RtfReader reader;
    const auto take = [&] {
        for (TextRun &r : reader.takeRuns()) {
            if (!read.runs.isEmpty() && read.runs.last().color == r.color
                && read.runs.last().received == r.received) {
                read.runs.last().text += r.text;
            } else {
                read.runs.append(std::move(r));
            }
        }
    };
    read.ok = true;
    for (qsizetype at = 0; at < data.size() && read.ok;) {
        const qsizetype size = std::min<qsizetype>(1 + random() % largest, data.size() - at);
        read.ok = reader.feed(QByteArrayView(data).sliced(at, size)).ok();
        at += size;
        take();
    }
    read.ok = read.ok && reader.finish().ok();
    take();
    read.complete = reader.complete();
    return read;
}

} // namespace

TEST(RtfReader, TheSameTextHoweverTheDocumentIsCut)
{
    // A workspace is read a block at a time, and a block may end inside any token: a word, its
    // parameter or sign, \'hh, \binN's data, a multi-byte character or the header itself.
    using namespace TerminalColors;
    QList<QByteArray> documents{
            dataFile(u"gbk-cp936.rtf"_s),
            dataFile(u"libreoffice-colours.rtf"_s),
            dataFile(u"unicode-only.rtf"_s),
            "\xef\xbb\xbf \r\n{\\rtf1 a\\par-5 b\\u-10179\\u-8704 c\\'e9\\'4x\\bin3 }}}d}",
            "{\\rtf1 {\\trowd a\\cell b\\cell\\row}\\uc2\\u20320\\'c4\\'e3x" + QByteArray(40, 'q')
                    + "\\verylongwordthatisnobodysatallreally12 z}",
            writeRtf({run(u"收到 line one\n"_s, Received, true), run(u"typed {two}\n"_s, Typed),
                      run(u"你好 three 😀\n"_s, Count), run(u"four\tfive"_s, Echo)}),
            "{\\rtf1 cut inside \\'c",
            "{\\rtf1 cut inside a word\\pa",
            "{\\rtf1 cut after a sign\\par-",
            "{\\rt",
            "  \xef\xbb\xbf{\\rtf1 a mark after white space is no mark}",
    };
    // And slices of syntax in random order.
    const QByteArray syntax = "\\'\\u-5\\uc1\\cell\\row{\\*\\x}\\bin2 ab\\-x\\par-1 \xe9"
                              "{\\colortbl;\\red9;}\\'c4";
    std::mt19937 random(916);
    for (int round = 0; round < 300; ++round) {
        QByteArray rtf = "{\\rtf1";
        for (int i = 0; i < 100; ++i)
            rtf += syntax.mid(int(random() % syntax.size()), int(random() % 8));
        documents.append(rtf);
    }
    for (const QByteArray &document : std::as_const(documents)) {
        SCOPED_TRACE(document.left(80).toStdString());
        const Expected<TextRuns> whole = readRtf(document);
        for (const qsizetype largest : {1, 2, 3, 7, 64}) {
            SCOPED_TRACE(largest);
            const PieceRead pieces = readInPieces(document, random, largest);
            ASSERT_EQ(pieces.ok, whole.ok());
            if (whole.ok()) {
                ASSERT_EQ(pieces.runs, *whole);
            }
        }
    }
}

TEST(RtfReader, SaysWhetherTheDocumentEnded)
{
    const struct
    {
        const char *what;
        QByteArray data;
        bool complete;
    } rows[] = {
            {"closed", "{\\rtf1 a}", true},
            {"closed, with junk after", "{\\rtf1 a}}}{garbage", true},
            {"cut in the outer group", "{\\rtf1 a\\par b", false},
            {"cut in an inner group", "{\\rtf1 a{\\cf1 b}{\\i c", false},
            {"only the header", "{\\rtf1", false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        RtfReader reader;
        ASSERT_TRUE(reader.feed(row.data).ok());
        ASSERT_TRUE(reader.finish().ok());
        EXPECT_EQ(reader.complete(), row.complete);
    }
}
