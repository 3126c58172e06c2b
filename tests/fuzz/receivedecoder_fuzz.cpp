// libFuzzer target for the decoding of received bytes: a stream cut into chunks anywhere must
// show the same text as the stream in one piece, and no chunk may break the decoder or the
// hexadecimal dump line.
#include "receive/hextext.h"
#include "receive/receivedecoder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

void fail(const char *what, QByteArrayView stream)
{
    std::fprintf(stderr, "receivedecoder_fuzz: %s; stream %s\n", what,
                 stream.toByteArray().toHex(' ').constData());
    std::abort();
}

// The text of one insertion as the terminal shows it: CR LF, CR and LF alike are one line break.
// A CR at the end of one insertion and an LF at the start of the next are two.
QString shown(QString text)
{
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte says how many cut lengths follow and in which encoding the stream is read;
    // the rest is the stream.
    if (size < 1)
        return 0;
    const TextEncoding encoding = data[0] & 0x10 ? TextEncoding::Utf8 : TextEncoding::Gbk;
    const size_t cuts = std::min<size_t>(data[0] % 16, size - 1);
    const QByteArrayView stream(reinterpret_cast<const char *>(data + 1 + cuts),
                                qsizetype(size - 1 - cuts));

    ReceiveDecoder whole;
    whole.setEncoding(encoding);
    // Decoded before the flush: an expression would leave their order open.
    QString expected = shown(whole.decode(stream));
    expected += whole.flush();

    // Chunks of the given lengths, empty ones included, then the rest in one.
    ReceiveDecoder split;
    split.setEncoding(encoding);
    QString text;
    qsizetype at = 0;
    for (size_t i = 0; i < cuts; ++i) {
        const qsizetype length = qMin<qsizetype>(data[1 + i] % 8, stream.size() - at);
        const QByteArrayView chunk = stream.sliced(at, length);
        text += shown(split.decode(chunk));
        const QString dump = hexDumpLine(chunk, encoding);
        if (!dump.endsWith(u"\r\n"_s) || !dump.contains(u": "_s))
            fail("a dump line lacks its separator or its line end", chunk);
        at += length;
    }
    text += shown(split.decode(stream.sliced(at)));
    text += split.flush();

    if (text != expected)
        fail("the text depends on where the stream was cut", stream);
    // A character beyond U+FFFF (UTF-8 only) is a whole pair; nothing else is a surrogate.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = encoding == TextEncoding::Utf8 && text[i].isHighSurrogate()
                          && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        if (pair)
            ++i;
        else if (text[i].isSurrogate())
            fail("the text holds a lone surrogate", stream);
    }
    if (text.size() > stream.size() + 1)
        fail("more characters than bytes", stream);
    return 0;
}
