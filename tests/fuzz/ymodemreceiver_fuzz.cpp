// libFuzzer target for the YMODEM receiver: whatever a sender or the line puts in front of it,
// in whatever pieces and with whatever silences between, it must not crash, must never hand the
// folder a name that climbs out of it, never write past the size the sender gave, and must end
// (or go on) with its answers confined to the protocol's bytes.
#include "transfer/modemframe.h"
#include "transfer/receivefolder.h"
#include "transfer/ymodemreceiver.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char *what)
{
    std::fprintf(stderr, "ymodemreceiver_fuzz: %s\n", what);
    std::abort();
}

// Files in memory, checked as the folder would check them.
class MemorySink : public ReceiveSink
{
public:
    Result begin(const QByteArray &name, qint64 size) override
    {
        if (open)
            fail("a file began while another was open");
        const QString safe = ReceiveFolder::safeName(name);
        if (safe.isEmpty())
            return Result::failure(QStringLiteral("refused"));
        if (safe.contains(u'/') || safe.contains(u'\\') || safe == QStringLiteral("..")
            || safe == QStringLiteral("."))
            fail("a name that leaves the folder was accepted");
        for (QChar c : safe) {
            if (c.category() == QChar::Other_Control)
                fail("a name kept a control character");
        }
        open = true;
        announced = size;
        written = 0;
        return Result::success();
    }
    Result write(QByteArrayView data) override
    {
        if (!open)
            fail("a write without a file");
        written += data.size();
        if (announced >= 0 && written > announced)
            fail("more written than the sender announced");
        return Result::success();
    }
    Expected<QString> complete() override
    {
        if (!open)
            fail("a file completed that was not open");
        open = false;
        return QStringLiteral("file");
    }
    QString abandon() override
    {
        const bool was = open;
        open = false;
        return was ? QStringLiteral("file.part") : QString();
    }

    bool open = false;
    qint64 announced = -1;
    qint64 written = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Timers need an event dispatcher; silences are played by letting zero-length timers fire.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MemorySink sink;
    YmodemReceiver receiver(sink);
    receiver.setTiming({0, 3, 0, 0});
    bool ended = false;
    QObject::connect(&receiver, &YmodemReceiver::finished, [&](const Modem::Outcome &) {
        if (ended)
            fail("finished twice");
        ended = true;
    });
    QObject::connect(&receiver, &YmodemReceiver::output, [&](const QByteArray &bytes) {
        if (ended)
            fail("output after the end");
        for (char c : bytes) {
            if (c != Modem::ACK && c != Modem::NAK && c != Modem::CRC && c != Modem::CAN)
                fail("an answer outside the protocol");
        }
    });
    receiver.start();

    // Each piece: a byte whose top bit means "the line is silent a while", else the length
    // (up to 127) of the chunk that follows.
    size_t at = 0;
    while (at < size && !ended) {
        const uint8_t op = data[at++];
        if (op & 0x80) {
            QCoreApplication::processEvents();
            continue;
        }
        const size_t length = std::min<size_t>(op, size - at);
        const QByteArrayView chunk(reinterpret_cast<const char *>(data + at), qsizetype(length));
        const qsizetype taken = receiver.feed(chunk);
        if (taken < 0 || taken > chunk.size() || (!ended && taken != chunk.size()))
            fail("the receiver took a wrong share of a chunk");
        at += length;
    }
    receiver.cancel();
    if (!ended)
        fail("a stop did not end the transfer");
    if (sink.open)
        fail("a file stayed open after the end");
    return 0;
}
