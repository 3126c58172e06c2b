// libFuzzer target for the workspace reader: it must survive any bytes, and whatever it accepts
// the writer must write so that it reads back the same.
#include "platform/rtfreader.h"
#include "platform/rtfwriter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Expected<TextRuns> runs
            = readRtf(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
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
