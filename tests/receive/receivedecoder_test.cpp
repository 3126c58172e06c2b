#include "receive/receivedecoder.h"

#include <QStringEncoder>

#include "support/qtprinters.h"

#include <gtest/gtest.h>

#include <random>

using namespace Qt::StringLiterals;

namespace {

// What the terminal box makes of one inserted text: CR LF, a lone CR and a lone LF are one
// line break each.
QString asShown(QString text)
{
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    return text;
}

// The terminal text after the stream arrived cut at the given places (empty chunks included),
// each chunk's text inserted on its own, then the decoder flushed.
QString shownAfterSplit(const QByteArray &stream, std::vector<qsizetype> cuts,
                        TextEncoding encoding = TextEncoding::Gbk)
{
    std::sort(cuts.begin(), cuts.end());
    ReceiveDecoder decoder;
    decoder.setEncoding(encoding);
    QString shown;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        shown += asShown(decoder.decode(QByteArrayView(stream).sliced(from, cut - from)));
        from = cut;
    }
    shown += asShown(decoder.decode(QByteArrayView(stream).sliced(from)));
    shown += decoder.flush();
    return shown;
}

} // namespace

TEST(ReceiveDecoder, ChunkSequences)
{
    struct Case
    {
        std::vector<QByteArray> chunks;
        QString expected;
        const char *guards;
    };
    const Case cases[] = {
            {{"AT\r\n"}, u"AT\r\n"_s, "CR LF within a chunk stays"},
            {{bytes({0xB0, 0xA1})}, u"啊"_s, "double-byte character"},
            {{bytes({0xB0}), bytes({0xA1})}, u"啊"_s, "character split between chunks"},
            {{bytes({0x41, 0xB0}), {}, bytes({0xA1, 0x42})},
             u"A啊B"_s,
             "lead byte survives an empty chunk"},
            {{bytes({0xB0, 0x0A})}, u"\uFFFD\n"_s, "lead byte does not swallow a line feed"},
            {{bytes({0xB0}), "\n"}, u"\uFFFD\n"_s, "nor across chunks"},
            {{bytes({0xB0}), bytes({0xB0, 0xA1})},
             u"鞍"_s,
             "carried lead pairs with the next byte, the last lead waits"},
            {{"\r", "\nX"}, u"\rX"_s, "LF completing a cut CR LF is dropped"},
            {{"\r", {}, "\n"}, u"\r"_s, "also after an empty chunk"},
            {{"\r", "\r\n"}, u"\r\r\n"_s, "only the LF right after the CR"},
            {{"\r", "A\n"}, u"\rA\n"_s, "a later LF is kept"},
            {{"\n", "\n"}, u"\n\n"_s, "lone LFs are kept"},
            {{"\r\n", "\n"}, u"\r\n\n"_s, "an LF after a whole CR LF is a new line"},
            {{bytes({0x80})}, u"€"_s, "euro sign"},
            {{bytes({0xFF, 0x41})}, u"\uFFFDA"_s, "0xFF starts nothing"},
            {{bytes({0x81, 0x7F})}, u"\uFFFD\u007F"_s, "0x7F is never a trail"},
            {{QByteArray(3, '\0')}, QString(3, QChar(0)), "NUL bytes kept"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        ReceiveDecoder decoder;
        QString out;
        for (const QByteArray &chunk : c.chunks)
            out += decoder.decode(chunk);
        EXPECT_EQ(out, c.expected);
    }
}

TEST(ReceiveDecoder, SplitCharacterAppearsWholeWithItsTrail)
{
    ReceiveDecoder decoder;
    EXPECT_EQ(decoder.decode(bytes({0x41, 0xB0})), u"A"_s);
    EXPECT_EQ(decoder.decode(bytes({0xA1})), u"啊"_s);
}

TEST(ReceiveDecoder, FlushAndResetForgetTheCarriedState)
{
    ReceiveDecoder decoder;
    EXPECT_EQ(decoder.decode(bytes({0xB0})), QString());
    EXPECT_EQ(decoder.flush(), u"\uFFFD"_s);
    EXPECT_EQ(decoder.flush(), QString());
    EXPECT_EQ(decoder.decode(bytes({0x41})), u"A"_s);

    EXPECT_EQ(decoder.decode(bytes({0xB0})), QString());
    decoder.reset();
    EXPECT_EQ(decoder.decode(bytes({0x41})), u"A"_s);

    EXPECT_EQ(decoder.decode("\r"), u"\r"_s);
    decoder.reset();
    EXPECT_EQ(decoder.decode("\n"), u"\n"_s);
}

TEST(ReceiveDecoder, TextRoundTripsWhereverTheStreamIsCut)
{
    const QString text = u"AT+CSQ\r\n中文测试 €25 啊!\r\n+CMT: \"短信\"\n\r"_s.repeated(20);
    QStringEncoder encoder("GBK");
    const QByteArray stream = encoder.encode(text);
    ASSERT_FALSE(encoder.hasError());

    std::mt19937 random(936);
    for (int round = 0; round < 300; ++round) {
        std::uniform_int_distribution<qsizetype> place(0, stream.size());
        std::vector<qsizetype> cuts(size_t(random() % 40));
        for (auto &cut : cuts)
            cut = place(random);
        SCOPED_TRACE(round);
        EXPECT_EQ(shownAfterSplit(stream, cuts), asShown(text));
    }
}

TEST(ReceiveDecoder, ShownTextDoesNotDependOnTheSplitForAnyBytes)
{
    // Bytes weighted towards the awkward ones of both encodings: leads, trails, continuation
    // bytes, the leads with narrowed second bytes, CR, LF, 0x7F, 0x80, 0xFF.
    const int awkward[] = {0x0D, 0x0A, 0x81, 0xB0, 0xA1, 0xFE, 0x40, 0x7F, 0x80, 0xFF, 0x41,
                           0xC2, 0xE0, 0xE4, 0xED, 0xF0, 0xF4, 0xBD, 0x9F, 0x90, 0xC0};
    std::mt19937 random(2024);
    for (int round = 0; round < 600; ++round) {
        const TextEncoding encoding = round % 2 ? TextEncoding::Utf8 : TextEncoding::Gbk;
        QByteArray stream;
        const int length = int(random() % 200);
        for (int i = 0; i < length; ++i) {
            stream.append(random() % 2 ? char(awkward[random() % std::size(awkward)])
                                       : char(random() % 256));
        }
        const QString whole = shownAfterSplit(stream, {}, encoding);
        std::uniform_int_distribution<qsizetype> place(0, stream.size());
        std::vector<qsizetype> cuts(size_t(random() % 30));
        for (auto &cut : cuts)
            cut = place(random);
        SCOPED_TRACE(stream.toHex(' ').toStdString());
        EXPECT_EQ(shownAfterSplit(stream, cuts, encoding), whole);

        // One byte at a time is the harshest split.
        std::vector<qsizetype> everyByte;
        for (qsizetype i = 1; i < stream.size(); ++i)
            everyByte.push_back(i);
        EXPECT_EQ(shownAfterSplit(stream, everyByte, encoding), whole);
    }
}

TEST(ReceiveDecoder, Utf8ChunkSequences)
{
    struct Case
    {
        std::vector<QByteArray> chunks;
        QString expected;
        const char *guards;
    };
    const Case cases[] = {
            {{"\xE4\xBD\xA0\xE5\xA5\xBD"}, u"你好"_s, "not read as code page 936"},
            {{"\xE4", "\xBD", "\xA0"}, u"你"_s, "three bytes in three chunks"},
            {{"\xE4\xBD",
              {},
              "\xA0"
              "A"},
             u"你A"_s,
             "carried bytes survive an empty chunk"},
            {{"\xF0\x9F", "\x98\x80"}, u"\U0001F600"_s, "four bytes, a surrogate pair"},
            {{"\xE2\x97\x8F \xE2\x94\x9C\xE2\x94\x80"},
             u"● ├─"_s,
             "systemd's bullet and tree's lines"},
            {{"\xE4\xBD", "\n"}, u"\uFFFD\n"_s, "a cut character does not swallow a line feed"},
            {{"\xE4\xBD"
              "A"},
             u"\uFFFDA"_s,
             "a broken character is one U+FFFD"},
            {{"\x80\xBF"}, u"\uFFFD\uFFFD"_s, "continuation bytes on their own"},
            {{"\xC0\xAF"}, u"\uFFFD\uFFFD"_s, "overlong form"},
            {{"\xE0\x80\x80"}, u"\uFFFD\uFFFD\uFFFD"_s, "overlong three-byte form"},
            {{"\xED\xA0\x80"}, u"\uFFFD\uFFFD\uFFFD"_s, "a surrogate is no character"},
            {{"\xF4\x90\x80\x80"}, QString(4, QChar::ReplacementCharacter), "above U+10FFFF"},
            {{"\xF0", "\x90\x80", "\x80"}, u"\U00010000"_s, "lowest four-byte character"},
            {{"\xFF\xFE"}, u"\uFFFD\uFFFD"_s, "bytes that start nothing"},
            {{"\xE4\xBD", "\xE4\xBD\xA0"}, u"\uFFFD你"_s, "a new lead ends the carried one"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        ReceiveDecoder decoder;
        decoder.setEncoding(TextEncoding::Utf8);
        QString out;
        for (const QByteArray &chunk : c.chunks)
            out += decoder.decode(chunk);
        EXPECT_EQ(out, c.expected);
    }
}

TEST(ReceiveDecoder, Utf8TextReadsRightAtEveryCut)
{
    const QString text = u"root@board:~# ls\r\n你好.txt  ● 运行中 ├── 😀\r\n"_s;
    const QByteArray stream = text.toUtf8();
    for (qsizetype first = 0; first <= stream.size(); ++first) {
        for (qsizetype second = first; second <= stream.size(); ++second) {
            SCOPED_TRACE(testing::Message() << first << ", " << second);
            ASSERT_EQ(shownAfterSplit(stream, {first, second}, TextEncoding::Utf8), asShown(text));
        }
    }
}

TEST(ReceiveDecoder, ChangingTheEncodingDropsWhatWaitsForTheOldOne)
{
    ReceiveDecoder decoder;
    EXPECT_EQ(decoder.decode("\xB0"), QString());
    decoder.setEncoding(TextEncoding::Utf8);
    EXPECT_EQ(decoder.decode("\xA1"), u"\uFFFD"_s);
    EXPECT_EQ(decoder.flush(), QString());
}
