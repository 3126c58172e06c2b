// libFuzzer target for the RFC 2217 session: whatever a server sends, cut anywhere and with
// subnegotiations of any length, the session must neither break nor keep more than its bounds,
// open at most once, and say why whenever it fails.
#include "port/rfc2217session.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

void fail(const char *what)
{
    std::fprintf(stderr, "rfc2217session_fuzz: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte says how many cut lengths follow, the second how many KiB of a
    // subnegotiation without end go in the middle of the stream; the rest is the stream.
    if (size < 2)
        return 0;
    const size_t cuts = std::min<size_t>(data[0] % 16, size - 2);
    const qsizetype endlessKiB = data[1] % 80;
    const uint8_t *lengths = data + 2;
    QByteArray stream(reinterpret_cast<const char *>(data + 2 + cuts), qsizetype(size - 2 - cuts));
    if (endlessKiB > 0) {
        QByteArray endless("\xff\xfa\x2c", 3);
        endless += QByteArray(endlessKiB * 1024, '\x07');
        stream.insert(stream.size() / 2, endless);
    }

    Rfc2217Session::LineParameters line;
    line.handshaking = int(size % 4);
    Rfc2217Session session(u"rfc2217://fuzz:1"_s, line);
    QByteArray wire = session.start();
    qsizetype from = 0;
    size_t next = 0;
    int opened = 0;
    qsizetype dataBytes = 0;
    while (from < stream.size()) {
        const qsizetype piece = cuts > 0 ? 1 + lengths[next++ % cuts] * 17 : stream.size();
        const qsizetype take = std::min(piece, stream.size() - from);
        Rfc2217Session::Output out;
        session.receive(QByteArrayView(stream).sliced(from, take), out);
        from += take;
        opened += out.opened;
        dataBytes += out.data.size();
        wire += out.wire;
        if (from == take && next % 3 == 1)
            wire += session.setLineParameters(line);
    }
    if (opened > 1)
        fail("opened twice");
    if (dataBytes > stream.size())
        fail("more data than was received");
    if ((session.state() == Rfc2217Session::State::Failed) == session.failure().isEmpty())
        fail("a failure without a reason, or a reason without a failure");
    if (session.state() != Rfc2217Session::State::Open && (session.cd() || session.cts()))
        fail("modem lines while not open");
    (void)session.hungUpWhileOpening();
    (void)session.openTimedOut(10);
    return 0;
}
