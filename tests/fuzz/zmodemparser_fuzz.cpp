// libFuzzer target for the ZMODEM header and subpacket reader: whatever the line carries, in
// whatever pieces, it must not crash, must hand over only subpackets within the size limit that
// end the way the protocol lets them end, and what the encoder wrote from the input (escaped
// either way, with either CRC) must read back exactly, however it is cut.
#include "transfer/zmodemframe.h"

#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char *what)
{
    std::fprintf(stderr, "zmodemparser_fuzz: %s\n", what);
    std::abort();
}

struct Recorder : Zmodem::Parser::Events
{
    QList<Zmodem::Header> headers;
    QList<QByteArray> subpackets;
    int damage = 0;
    int cancels = 0;

    void header(const Zmodem::Header &h, bool) override { headers << h; }
    void subpacket(QByteArrayView data, char end) override
    {
        if (data.size() > Zmodem::MaxSubpacket)
            fail("a subpacket longer than the limit");
        if (end != Zmodem::ZCRCE && end != Zmodem::ZCRCG && end != Zmodem::ZCRCQ
            && end != Zmodem::ZCRCW)
            fail("a subpacket with an end the protocol does not have");
        subpackets << data.toByteArray();
    }
    void damaged() override { ++damage; }
    void cancelled() override { ++cancels; }
};

// Feeds bytes in pieces whose sizes come from step.
void feedInPieces(Zmodem::Parser &parser, QByteArrayView bytes, Recorder &events, quint8 step)
{
    const qsizetype piece = 1 + step % 61;
    for (qsizetype at = 0; at < bytes.size(); at += piece) {
        const QByteArrayView part = bytes.sliced(at, qMin(piece, bytes.size() - at));
        if (parser.feed(part, events) != part.size())
            fail("the reader stopped without being asked to");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const quint8 control = data[0];
    const QByteArrayView input(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);

    // Anything at all.
    {
        Zmodem::Parser parser;
        Recorder events;
        feedInPieces(parser, input, events, control);
    }

    // A frame made of the input reads back exactly.
    const QByteArrayView payload = input.first(qMin(input.size(), Zmodem::MaxSubpacket));
    const bool crc32 = control & 1;
    const Zmodem::Encoder encoder(control & 2);
    const char ends[] = {Zmodem::ZCRCE, Zmodem::ZCRCG, Zmodem::ZCRCQ, Zmodem::ZCRCW};
    const char end = ends[(control >> 2) & 3];
    const Zmodem::Header header = Zmodem::Header::at(Zmodem::ZDATA, qint64(size) * 977);
    QByteArray line = encoder.binaryHeader(header, crc32);
    encoder.appendSubpacket(line, payload, end, crc32);
    if (end == Zmodem::ZCRCG || end == Zmodem::ZCRCQ)
        encoder.appendSubpacket(line, {}, Zmodem::ZCRCE, crc32);
    line += Zmodem::Encoder::hexHeader(Zmodem::Header::at(Zmodem::ZEOF, payload.size()));
    Zmodem::Parser parser;
    Recorder events;
    feedInPieces(parser, line, events, control >> 4);
    if (events.damage != 0 || events.cancels != 0)
        fail("a well-formed frame read as damaged or cancelled");
    if (events.headers.size() != 2 || events.headers[0].type != Zmodem::ZDATA
        || events.headers[0].pos() != header.pos() || events.headers[1].type != Zmodem::ZEOF
        || events.headers[1].pos() != quint32(payload.size()))
        fail("the headers did not read back");
    if (events.subpackets.isEmpty() || events.subpackets.first() != payload)
        fail("the subpacket did not read back");
    return 0;
}
