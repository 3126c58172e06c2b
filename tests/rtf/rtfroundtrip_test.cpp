#include "rtf/rtfreader.h"
#include "rtf/rtfwriter.h"
#include "core/colors.h"

#include "support/textrunprinters.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <cctype>

using namespace Qt::StringLiterals;

namespace {

TextRun run(const QString &text, RgbColor color, bool received = false)
{
    return TextRun{text, color, received};
}

// What the reader gives back for the runs it was handed: no empty runs, and neighbours of one
// colour and mark joined.
TextRuns joined(const TextRuns &runs)
{
    TextRuns out;
    for (const TextRun &r : runs) {
        if (r.text.isEmpty())
            continue;
        if (!out.isEmpty() && out.last().color == r.color && out.last().received == r.received)
            out.last().text += r.text;
        else
            out.append(r);
    }
    return out;
}

// What a reader that knows no Unicode shows: \uN ignored, the fallback bytes behind it decoded
// as GBK, the font and colour tables skipped.
QString textWithoutUnicode(const QByteArray &rtf)
{
    QByteArray bytes;
    int depth = 0;
    int skippedDepth = 0;
    for (qsizetype i = 0; i < rtf.size(); ++i) {
        const char c = rtf[i];
        if (c == '{') {
            ++depth;
            const QByteArray next = rtf.mid(i + 1, 9);
            if (skippedDepth == 0 && (next.startsWith("\\fonttbl") || next == "\\colortbl"))
                skippedDepth = depth;
        } else if (c == '}') {
            if (depth == skippedDepth)
                skippedDepth = 0;
            --depth;
        } else if (skippedDepth != 0 || c == '\r' || c == '\n') {
            continue;
        } else if (c != '\\') {
            bytes += c;
        } else if (rtf[i + 1] == '\'') {
            bytes += char(rtf.mid(i + 2, 2).toInt(nullptr, 16));
            i += 3;
        } else if (!std::isalpha(static_cast<unsigned char>(rtf[i + 1]))) {
            bytes += rtf[++i];
        } else {
            qsizetype end = i + 1;
            while (std::isalpha(static_cast<unsigned char>(rtf[end])))
                ++end;
            const QByteArray word = rtf.mid(i + 1, end - i - 1);
            while (rtf[end] == '-' || std::isdigit(static_cast<unsigned char>(rtf[end])))
                ++end;
            if (rtf[end] == ' ')
                ++end;
            i = end - 1;
            if (word == "par")
                bytes += '\n';
            else if (word == "tab")
                bytes += '\t';
        }
    }
    return QStringDecoder("GBK").decode(bytes);
}

} // namespace

TEST(RtfRoundTrip, KeepsTextColoursAndReceivedMark)
{
    using namespace TerminalColors;
    QString controls;
    for (char16_t c = 0; c < 0x20; ++c) {
        if (c != u'\n')
            controls += QChar(c);
    }
    controls += QChar(0x7f);

    struct Case
    {
        const char *what;
        TextRuns runs;
    };
    const Case cases[] = {
            {"every colour the terminal writes, received or not",
             {run(u"rx data"_s, Received, true), run(u"AT+GMR"_s, Typed),
              run(u" [6 bytes]"_s, Count), run(u" port closed\n"_s, Notice), run(u"41 42 "_s, Echo),
              run(u"more rx"_s, Received, true),
              run(u"typed but in the received colour"_s, Received)}},
            {"Chinese text",
             {run(u"收到：你好，世界！\n端口未打开"_s, Received, true),
              run(u"发送 打开串口 €"_s, Typed)}},
            {"control characters, NUL and DEL",
             {run(controls, Echo), run(controls, Received, true)}},
            {"the format's own syntax as text",
             {run(u"\\{}\\par {\\rtf1 \\'41\\u65 ?}\\"_s, Typed), run(u"}{"_s, Received, true)}},
            {"characters GBK lacks, and beyond 16 bits",
             {run(u"ก ä ñ Ω 😀 \U0001F600x \uFFFF \uFFFD \uE000"_s, Received, true)}},
            {"runs that start with a space, a digit or hex letters after a control word",
             {run(u" lead"_s, Typed), run(u"1234"_s, Received, true), run(u"ab"_s, Count),
              run(u"ä1f"_s, Notice), run(u"你ab"_s, Typed)}},
            {"line breaks at the edges of runs and empty lines",
             {run(u"\n"_s, Typed), run(u"\n\nx\n"_s, Received, true), run(u"\r\n\t\n"_s, Echo)}},
            {"nothing", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Expected<TextRuns> back = readRtf(writeRtf(c.runs));
        ASSERT_TRUE(back.ok()) << back.message().toStdString();
        EXPECT_EQ(*back, joined(c.runs));
    }
}

TEST(RtfRoundTrip, JoinsNeighboursOfOneColourAndDropsEmptyRuns)
{
    using namespace TerminalColors;
    const TextRuns runs{run(u"a"_s, Typed), run({}, Received, true), run(u"b"_s, Typed),
                        run(u"c"_s, Typed, true), run({}, Notice)};
    const Expected<TextRuns> back = readRtf(writeRtf(runs));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, (TextRuns{run(u"ab"_s, Typed), run(u"c"_s, Typed, true)}));
}

TEST(RtfRoundTrip, TwentyThousandLines)
{
    TextRuns runs;
    for (int line = 0; line < 20000; ++line) {
        const bool received = line % 2 == 1;
        runs.append(run(u"%1 %2\n"_s.arg(line, 5, 10, QChar(u'0'))
                                .arg(received ? u"+CSQ: 23,99 收到"_s : u"AT+CSQ"_s),
                        received ? TerminalColors::Received : TerminalColors::Typed, received));
    }
    const Expected<TextRuns> back = readRtf(writeRtf(runs));
    ASSERT_TRUE(back.ok());
    ASSERT_EQ(back.value().size(), runs.size());
    EXPECT_EQ(*back, runs);
}

TEST(RtfWriter, DeclaresAChineseDocumentWithTheColoursUsed)
{
    using namespace TerminalColors;
    const QByteArray rtf = writeRtf({run(u"a"_s, Typed), run(u"b"_s, Received, true),
                                     run({}, Notice), run(u"c"_s, Typed), run(u"d"_s, Echo)});
    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg936\\deff0")) << rtf.left(40).toStdString();

    const QString text = QString::fromLatin1(rtf);
    const QRegularExpressionMatch font
            = QRegularExpression(uR"(\{\\fonttbl\{\\f0\\[^;]*\\fcharset134 [^;]+;\}\})"_s)
                      .match(text);
    EXPECT_TRUE(font.hasMatch()) << "the default font must be a GBK (charset 134) font";

    // Only colours of text, each once, in order of first use; entry 0 stays automatic.
    const QRegularExpressionMatch colors
            = QRegularExpression(uR"(\{\\colortbl;([^}]*)\})"_s).match(text);
    ASSERT_TRUE(colors.hasMatch());
    EXPECT_EQ(colors.captured(1),
              u"\\red0\\green192\\blue192;\\red192\\green192\\blue0;\\red0\\green0\\blue0;"_s);
}

TEST(RtfWriter, WritesUnicodeAsSigned16BitNumbers)
{
    const QString rtf = QString::fromLatin1(
            writeRtf({run(u"A马😀\uFFFF\u7FFF\u8000"_s, TerminalColors::Typed)}));
    QList<int> numbers;
    for (const QRegularExpressionMatch &m : QRegularExpression(uR"(\\u(-?\d+))"_s).globalMatch(rtf))
        numbers.append(m.captured(1).toInt());
    EXPECT_EQ(numbers, (QList<int>{-26004, -10179, -8704, -1, 32767, -32768})) << rtf.toStdString();
}

TEST(RtfWriter, ReadersWithoutUnicodeSeeTheGbkFallback)
{
    const QByteArray rtf = writeRtf(
            {run(u"收到 ก é € 😀 ä\x01\t{}\\ end\n你好"_s, TerminalColors::Received, true)});
    EXPECT_EQ(textWithoutUnicode(rtf), u"收到 ? é € ?? ??\t{}\\ end\n你好"_s);
}
