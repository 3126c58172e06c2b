// libFuzzer target for the workspace reader: it must survive any bytes, read the same text
// however the bytes are cut into pieces, and whatever it accepts the writer must write so that it
// reads back the same.
#include "rtf/rtfreader.h"
#include "rtf/rtfwriter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The document fed in pieces of 1 to 61 bytes, cut where the data's own bytes say; runs of one
// colour joined as the terminal joins them.
Expected<TextRuns> readInPieces(QByteArrayView data)
{
    RtfReader reader;
    TextRuns runs;
    const auto take = [&] {
        for (TextRun &r : reader.takeRuns()) {
            if (!runs.isEmpty() && runs.last().color == r.color
                && runs.last().received == r.received) {
                runs.last().text += r.text;
            } else {
                runs.append(std::move(r));
            }
        }
    };
    quint32 cut = data.isEmpty() ? 1u : quint32(quint8(data.front()));
    for (qsizetype at = 0; at < data.size();) {
        cut = cut * 1103515245u + 12345u;
        const qsizetype size = std::min<qsizetype>(1 + (cut >> 16) % 61, data.size() - at);
        if (const Result fed = reader.feed(data.sliced(at, size)); !fed.ok())
            return Expected<TextRuns>::failure(fed.message());
        at += size;
        take();
    }
    if (const Result done = reader.finish(); !done.ok())
        return Expected<TextRuns>::failure(done.message());
    take();
    return runs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const Expected<TextRuns> runs = readRtf(bytes);
    const Expected<TextRuns> pieces = readInPieces(bytes);
    if (pieces.ok() != runs.ok() || (runs.ok() && *pieces != *runs)) {
        std::fprintf(stderr, "read in pieces, the text differs from the text read whole\n");
        std::abort();
    }
    if (!runs.ok())
        return 0;
    const Expected<TextRuns> again = readRtf(writeRtf(*runs));
    if (!again.ok() || *again != *runs) {
        std::fprintf(stderr,
                     "written and read again, the runs differ (%lld runs before, %lld after)\n",
                     static_cast<long long>(runs.value().size()),
                     static_cast<long long>(again.ok() ? again.value().size() : -1));
        std::abort();
    }
    return 0;
}
