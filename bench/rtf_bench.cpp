// Figures for saving and loading the workspace: a long terminal session as rich text.
#include "benchsupport.h"
#include "rtf/rtfreader.h"
#include "rtf/rtfwriter.h"
#include "core/colors.h"

#include <QElapsedTimer>

#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

// A session of typed commands and received answers, one run per line as the terminal keeps it.
TextRuns session(int lines, const QString &typed, const QString &received)
{
    TextRuns runs;
    for (int line = 0; line < lines; ++line) {
        const bool rx = line % 2 == 1;
        runs.append(TextRun{u"%1 %2\n"_s.arg(line).arg(rx ? received : typed),
                            rx ? TerminalColors::Received : TerminalColors::Typed, rx});
    }
    return runs;
}

qsizetype readSize(const QByteArray &rtf)
{
    const Expected<TextRuns> runs = readRtf(rtf);
    return runs.ok() ? runs.value().size() : -1;
}

} // namespace

int main()
{
    const TextRuns ascii = session(20000, u"AT+CSQ;+CREG?;+COPS?;+CGATT?;+CGDCONT?"_s,
                                   u"+CSQ: 23,99 +CREG: 0,1 +COPS: 0,0,\"CHINA MOBILE\",7 OK"_s);
    const QByteArray asciiRtf = writeRtf(ascii);
    std::printf("20,000 ASCII lines: %lld bytes of RTF\n", static_cast<long long>(asciiRtf.size()));
    measure("writeRtf, 20,000 ASCII lines", 10, [&] { return writeRtf(ascii).size(); });
    measure("readRtf, 20,000 ASCII lines", 10, [&] { return readSize(asciiRtf); });

    const TextRuns chinese = session(20000, u"发送短信 AT+CMGS=\"13800138000\" 内容：中文测试"_s,
                                     u"收到短信：串口调试助手，端口已打开，数据接收正常 OK"_s);
    const QByteArray chineseRtf = writeRtf(chinese);
    std::printf("20,000 Chinese lines: %lld bytes of RTF\n",
                static_cast<long long>(chineseRtf.size()));
    measure("writeRtf, 20,000 Chinese lines", 10, [&] { return writeRtf(chinese).size(); });
    measure("readRtf, 20,000 Chinese lines", 10, [&] { return readSize(chineseRtf); });

    // Every character of the BMP once: the writer's fallback cache at its largest.
    QString every;
    for (char16_t c = 0x80; c < 0xd800; ++c)
        every += QChar(c);
    const TextRuns all{TextRun{every, TerminalColors::Received, true}};
    measure("writeRtf, 55,000 distinct characters", 3, [&] { return writeRtf(all).size(); });

    // A document of nothing but control words and groups, the reader's slowest kind of input.
    const QByteArray words = "{\\rtf1"
                             + QByteArray("{\\cf1\\f2\\u20320\\'c4\\'e3\\b\\par}").repeated(200000)
                             + "}";
    std::printf("control-word document: %lld bytes\n", static_cast<long long>(words.size()));
    measure("readRtf, control words and groups", 5, [&] { return readSize(words); });
}
