// Figures for the text paths that run per keystroke, per received chunk and per status tick.
#include "benchsupport.h"
#include "core/inisettingsstore.h"
#include "core/typednumber.h"
#include "receive/hextext.h"
#include "core/lineconvert.h"
#include "receive/receivedecoder.h"
#include "receive/consoleinterpreter.h"

#include <QElapsedTimer>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

// Feeds the stream in chunks of the given size, as the port would deliver it.
qsizetype decodeInChunks(const QByteArray &stream, qsizetype chunkSize,
                         TextEncoding encoding = TextEncoding::Gbk)
{
    ReceiveDecoder decoder;
    decoder.setEncoding(encoding);
    qsizetype total = 0;
    for (qsizetype from = 0; from < stream.size(); from += chunkSize)
        total += decoder.decode(QByteArrayView(stream).sliced(
                                        from, qMin(chunkSize, stream.size() - from)))
                         .size();
    return total;
}

// Decoding and the console's reading together, as the receive pipeline does them in text mode.
qsizetype interpretInChunks(const QByteArray &stream, qsizetype chunkSize)
{
    ReceiveDecoder decoder(false);
    ConsoleInterpreter console;
    qsizetype total = 0;
    for (qsizetype from = 0; from < stream.size(); from += chunkSize) {
        TextRuns runs;
        console.feed(decoder.decode(QByteArrayView(stream).sliced(
                             from, qMin(chunkSize, stream.size() - from))),
                     runs);
        total += runs.size();
    }
    return total;
}

// Lines as ls --color writes them: every name between an SGR pair. Without escapes, the same
// text as it is shown.
QByteArray lsColorLines(qsizetype lines, bool escapes)
{
    static const char *const colours[] = {"01;34", "01;36", "01;32", "00", "01;31", "40;33;01"};
    QByteArray out;
    for (qsizetype k = 0; k < lines; ++k) {
        for (int w = 0; w < 8; ++w) {
            const QByteArray name = "name" + QByteArray::number((k * 8 + w) % 100000);
            if (escapes) {
                out += "\x1b[" + QByteArray(colours[(k + w) % 6]) + 'm' + name + "\x1b[0m";
            } else {
                out += name;
            }
            out += w < 7 ? "  " : "\r\n";
        }
    }
    return out;
}

} // namespace

int main()
{
    const QString pasted = u"AT+CMGS=<34>13800138000<34><13>短信内容"_s.repeated(100 * 1024 / 40);
    measure("convertLine, 100 KB line with escapes", 10,
            [&] { return convertLine(pasted, true).bytes.size(); });
    const QString brackets = u"<"_s.repeated(100 * 1024);
    measure("convertLine, 100 KB of '<'", 10,
            [&] { return convertLine(brackets, true).bytes.size(); });

    const QByteArray ascii
            = QByteArray("OK\r\n+CSQ: 23,99\r\nRING\r\n").repeated(8 * 1024 * 1024 / 24);
    measure("ReceiveDecoder, 8 MB ASCII in 4 KB chunks", 5,
            [&] { return decodeInChunks(ascii, 4096); });
    QStringEncoder encoder("GBK");
    const QByteArray chinese
            = encoder.encode(u"收到短信：中文测试 OK\r\n"_s.repeated(8 * 1024 * 1024 / 24));
    measure("ReceiveDecoder, 8 MB mixed GBK in 4 KB chunks", 5,
            [&] { return decodeInChunks(chinese, 4096); });
    measure("ReceiveDecoder, 1 MB mixed GBK in 1 byte chunks", 1,
            [&] { return decodeInChunks(chinese.left(1024 * 1024), 1); });
    const QByteArray utf8 = u"收到短信：中文测试 OK\r\n"_s.repeated(8 * 1024 * 1024 / 32).toUtf8();
    measure("ReceiveDecoder, 8 MB mixed UTF-8 in 4 KB chunks", 5,
            [&] { return decodeInChunks(utf8, 4096, TextEncoding::Utf8); });

    measure("ReceiveDecoder + ConsoleInterpreter, 8 MB ASCII in 4 KB chunks", 5,
            [&] { return interpretInChunks(ascii, 4096); });
    const QByteArray coloured = lsColorLines(5 * 1024 * 1024 / 190, true);
    const QByteArray uncoloured = lsColorLines(5 * 1024 * 1024 / 190, false);
    std::printf("ls --color lines: %lld bytes with escapes, %lld without\n",
                static_cast<long long>(coloured.size()), static_cast<long long>(uncoloured.size()));
    measure("ReceiveDecoder + ConsoleInterpreter, ls --color text without escapes", 5,
            [&] { return interpretInChunks(uncoloured, 4096); });
    measure("ReceiveDecoder + ConsoleInterpreter, ls --color lines, 4 KB chunks", 5,
            [&] { return interpretInChunks(coloured, 4096); });

    const QByteArray chunk = chinese.left(4096);
    measure("hexDumpLine, 4 KB chunk", 100, [&] { return hexDumpLine(chunk).size(); });

    const QString digits = u"9"_s.repeated(1000 * 1000);
    measure("leadingNumber, a million digits", 5,
            [&] { return qsizetype(leadingNumber(digits) > 0); });

    QTemporaryDir dir;
    IniSettingsStore store(dir.filePath(u"bench.ini"_s));
    store.save(u"Comport"_s, u"COM3"_s);
    measure("IniSettingsStore::read, unchanged file", 10000,
            [&] { return store.read(u"Comport"_s, u"COM1"_s).size(); });
    return 0;
}
