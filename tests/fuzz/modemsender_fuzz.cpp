// libFuzzer target for the XMODEM/YMODEM sender's reading of answers: whatever a receiver or the
// line sends back, in whatever pieces and with whatever silences between, the sender must not
// crash, must put only whole blocks, EOT or CANs on the line, must never count more acknowledged
// than it has sent, nor end complete with less than the whole file acknowledged. One chunk
// acknowledges one block at most: what arrived with the answer was on the line before the next
// block went out, and cannot answer it.
#include "transfer/modemframe.h"
#include "transfer/modemsender.h"

#include <QBuffer>
#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char *what)
{
    std::fprintf(stderr, "modemsender_fuzz: %s\n", what);
    std::abort();
}

bool wellFormed(const QByteArray &bytes)
{
    if (bytes == QByteArray(1, Modem::EOT) || bytes == Modem::cancelSequence())
        return true;
    if (bytes.isEmpty() || (bytes[0] != Modem::SOH && bytes[0] != Modem::STX))
        return false;
    const qsizetype size = bytes[0] == Modem::STX ? Modem::LongBlock : Modem::ShortBlock;
    return (bytes.size() == size + 5 || bytes.size() == size + 4)
           && quint8(bytes[1]) == quint8(~quint8(bytes[2]));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Timers need an event dispatcher; silences are played by letting zero-length timers fire.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the protocol and the file's length (up to 4 KiB, a few blocks).
    const bool ymodem = data[0] & 1;
    QByteArray file(qsizetype(data[0]) * 16, 'x');
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    ModemSender sender(ymodem ? ModemSender::Protocol::Ymodem : ModemSender::Protocol::Xmodem,
                       {&buffer, "f.bin", file.size(), 0});
    sender.setTiming({0, 0, 0});
    bool ended = false;
    Modem::Outcome outcome;
    qint64 framed = 0; // data bytes of the distinct blocks sent, an upper bound of what is acked
    QByteArray last;
    QObject::connect(&sender, &ModemSender::output, [&](const QByteArray &bytes) {
        if (ended)
            fail("output after the end");
        if (!wellFormed(bytes))
            fail("output that is no block, EOT or cancel");
        if ((bytes[0] == Modem::SOH || bytes[0] == Modem::STX) && bytes[1] != 0 && bytes != last)
            framed += bytes[0] == Modem::STX ? Modem::LongBlock : Modem::ShortBlock;
        last = bytes;
    });
    QObject::connect(&sender, &ModemSender::finished, [&](const Modem::Outcome &o) {
        if (ended)
            fail("finished twice");
        ended = true;
        outcome = o;
    });
    int acknowledgements = 0;
    QObject::connect(&sender, &ModemSender::progress, [&] { ++acknowledgements; });
    qint64 acked = 0;
    const auto check = [&] {
        if (sender.acknowledged() < acked)
            fail("the acknowledged count went back");
        acked = sender.acknowledged();
        if (acked > file.size() || acked > framed)
            fail("more acknowledged than was sent");
    };
    sender.start();

    // Each piece: a byte whose top bit means "the line is silent a while", else the length
    // (up to 127) of the chunk that follows.
    size_t at = 1;
    while (at < size && !ended) {
        const uint8_t op = data[at++];
        if (op & 0x80) {
            QCoreApplication::processEvents();
            check();
            continue;
        }
        const size_t length = std::min<size_t>(op, size - at);
        const QByteArrayView chunk(reinterpret_cast<const char *>(data + at), qsizetype(length));
        acknowledgements = 0;
        const qsizetype taken = sender.feed(chunk);
        if (acknowledgements > 1)
            fail("one chunk acknowledged more than one block");
        if (taken < 0 || taken > chunk.size() || (!ended && taken != chunk.size()))
            fail("the sender took a wrong share of a chunk");
        check();
        at += length;
    }
    sender.cancel();
    if (!ended)
        fail("a stop did not end the transfer");
    if (outcome.completed() && sender.acknowledged() != file.size())
        fail("complete without the whole file acknowledged");
    return 0;
}
