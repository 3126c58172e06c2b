// The XMODEM/YMODEM engines against far ends that send what no protocol allows: random bytes
// instead of answers, noise between blocks, a lone CAN, corrupt blocks back to back. Neither
// engine may take noise for an answer, nor wait for ever while noise keeps coming. A far end that
// never stops talking is a zero-interval timer: it puts a chunk on the line each turn of the
// event loop until the engine under test ends, so nothing depends on how fast the machine is.

#include "transfer/modemframe.h"
#include "transfer/modemsender.h"
#include "transfer/ymodemreceiver.h"

#include "support/qtprinters.h"
#include "support/testbytes.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace Qt::StringLiterals;
using namespace Modem;

namespace {

void later(QObject *context, std::function<void()> f)
{
    QTimer::singleShot(0, context, std::move(f));
}

bool runUntil(const std::function<bool()> &done)
{
    QDeadlineTimer deadline(60000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    return done();
}

// A far end that talks without pause: make() gives each chunk.
class Babbler
{
public:
    explicit Babbler(std::function<QByteArray()> make, std::function<void(QByteArray)> deliver)
    {
        m_timer.setInterval(0);
        QObject::connect(
                &m_timer, &QTimer::timeout,
                [make = std::move(make), deliver = std::move(deliver)] { deliver(make()); });
    }
    void start() { m_timer.start(); }
    void stop() { m_timer.stop(); }

private:
    QTimer m_timer;
};

QList<QByteArray> chunks(const QByteArray &first, const QByteArray &second = {})
{
    QList<QByteArray> list{first};
    if (!second.isEmpty())
        list.append(second);
    return list;
}

class MemorySink : public ReceiveSink
{
public:
    Result begin(const QByteArray &, qint64) override { return Result::success(); }
    Result write(QByteArrayView bytes) override
    {
        data += bytes;
        return Result::success();
    }
    Expected<QString> complete() override { return u"whole"_s; }
    QString abandon() override { return u"part"_s; }

    QByteArray data;
};

class ModemNoiseTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "modemnoise_test";
        static char *argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
};

TEST_F(ModemNoiseTest, SenderFailsAgainstRandomBytesAndClaimsNothing)
{
    const QByteArray file = randomBytes(100 * 1024, 21);
    for (const auto protocol : {ModemSender::Protocol::Xmodem, ModemSender::Protocol::Ymodem}) {
        SCOPED_TRACE(protocol == ModemSender::Protocol::Xmodem ? "xmodem" : "ymodem");
        QBuffer buffer;
        buffer.setData(file);
        buffer.open(QIODevice::ReadOnly);
        ModemSender sender(protocol, {&buffer, "file.bin", file.size(), 0});
        // Nothing but the noise may end a wait: the line is never quiet.
        sender.setTiming({60000, 60000, 60000});
        QByteArray out;
        QObject::connect(&sender, &ModemSender::output, [&](const QByteArray &b) { out = b; });
        std::optional<Outcome> outcome;
        QObject::connect(&sender, &ModemSender::finished, [&](const Outcome &o) { outcome = o; });
        QRandomGenerator random(77);
        Babbler farEnd(
                [&random] {
                    QByteArray chunk(64, Qt::Uninitialized);
                    for (char &b : chunk)
                        b = char(random.bounded(256));
                    return chunk;
                },
                [&sender](const QByteArray &b) { sender.feed(b); });
        sender.start();
        farEnd.start();
        ASSERT_TRUE(runUntil([&] { return outcome.has_value(); }));
        farEnd.stop();

        EXPECT_EQ(outcome->kind, Outcome::Kind::Failed);
        EXPECT_TRUE(outcome->reason.startsWith(u"接收方没有正确应答：重发 10 次后"_s))
                << outcome->reason.toStdString();
        EXPECT_EQ(sender.acknowledged(), 0);
        EXPECT_GT(sender.noise(), 10);
        EXPECT_EQ(out, cancelSequence());
    }
}

// The real receiver at the far end; what it answers reaches the sender through mangle.
TEST_F(ModemNoiseTest, SenderRidesOutNoiseAndLoneCansBetweenAnswers)
{
    const QByteArray file = randomBytes(6000, 5);
    using Mangle = std::function<QList<QByteArray>(const QByteArray &answer, int n)>;
    const struct
    {
        const char *what;
        Mangle mangle; // n counts the receiver's answers; each element is one chunk
    } cases[] = {
            {"noise before an ack",
             [](const QByteArray &a, int n) {
                 return chunks(n % 3 == 2 ? QByteArray("\x00\x7f\xff", 3) + a : a);
             }},
            {"noise after an ack",
             [](const QByteArray &a, int n) {
                 return n % 3 == 2 ? chunks(a, "+++ATH\r\n") : chunks(a);
             }},
            {"a lone can, then the answer",
             [](const QByteArray &a, int n) {
                 return chunks(n == 3 ? CAN + a : a);
             }},
            {"a lone can instead of the answer",
             [](const QByteArray &a, int n) {
                 return chunks(n == 4 ? QByteArray(1, CAN) : a);
             }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QBuffer buffer;
        buffer.setData(file);
        buffer.open(QIODevice::ReadOnly);
        ModemSender sender(ModemSender::Protocol::Ymodem, {&buffer, "f.bin", file.size(), 0});
        sender.setTiming({60000, 60000, 20});
        MemorySink sink;
        YmodemReceiver receiver(sink);
        receiver.setTiming({60000, 20, 60000, 20});
        QObject::connect(&sender, &ModemSender::output, [&](const QByteArray &b) {
            later(&receiver, [&receiver, b] { receiver.feed(b); });
        });
        int n = 0;
        QObject::connect(&receiver, &YmodemReceiver::output, [&](const QByteArray &b) {
            for (const QByteArray &chunk : c.mangle(b, n))
                later(&sender, [&sender, chunk] { sender.feed(chunk); });
            ++n;
        });
        std::optional<Outcome> sent;
        QObject::connect(&sender, &ModemSender::finished, [&](const Outcome &o) { sent = o; });
        sender.start();
        receiver.start();
        ASSERT_TRUE(runUntil([&] { return sent.has_value(); }));

        EXPECT_TRUE(sent->completed()) << sent->reason.toStdString();
        EXPECT_EQ(sender.acknowledged(), file.size());
        EXPECT_EQ(sink.data, file);
        EXPECT_GT(sender.noise(), 0);
    }
}

TEST_F(ModemNoiseTest, ReceiverRefusesAndGivesUpOnSendersThatNeverSendABlock)
{
    const QByteArray file = randomBytes(3000, 9);
    const QByteArray header = headerBlock("f.bin", file.size(), 0, true);
    const QByteArray first = frame(1, QByteArrayView(file).first(LongBlock), LongBlock, true);
    QByteArray badSecond
            = frame(2, QByteArrayView(file).sliced(LongBlock, LongBlock), LongBlock, true);
    badSecond[500] = char(badSecond[500] ^ 0x01);
    const struct
    {
        const char *what;
        std::function<QByteArray(QRandomGenerator &)> babble;
        QString reason;
    } cases[] = {
            {"noise without a block's mark",
             [](QRandomGenerator &random) {
                 QByteArray chunk;
                 while (chunk.size() < 100) {
                     const char b = char(random.bounded(256));
                     if (b != SOH && b != STX && b != EOT && b != CAN)
                         chunk += b;
                 }
                 return chunk;
             },
             u"发送方连续 10 次没有发来可读的块"_s},
            {"bad crcs back to back", [&badSecond](QRandomGenerator &) { return badSecond; },
             u"第 2 块连续 10 次损坏（校验错误）"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        MemorySink sink;
        YmodemReceiver receiver(sink);
        receiver.setTiming({60000, 20, 20, 20});
        QRandomGenerator random(3);
        Babbler farEnd([&] { return c.babble(random); },
                       [&receiver](const QByteArray &b) { receiver.feed(b); });
        QByteArray answers;
        // The header on the first request, block 1 once the data is asked for, then babble.
        QObject::connect(&receiver, &YmodemReceiver::output, [&](const QByteArray &b) {
            if (answers.isEmpty())
                later(&receiver, [&] { receiver.feed(header); });
            else if (b == QByteArray(1, ACK) + CRC)
                later(&receiver, [&] { receiver.feed(first); });
            else if (b == QByteArray(1, ACK))
                farEnd.start();
            answers += b;
        });
        std::optional<Outcome> outcome;
        QObject::connect(&receiver, &YmodemReceiver::finished,
                         [&](const Outcome &o) { outcome = o; });
        receiver.start();
        ASSERT_TRUE(runUntil([&] { return outcome.has_value(); }));
        farEnd.stop();

        EXPECT_EQ(outcome->kind, Outcome::Kind::Failed);
        EXPECT_TRUE(outcome->reason.startsWith(c.reason)) << outcome->reason.toStdString();
        // Asked for the block nine times, the tenth error cancels; block 1 stays.
        const QByteArray expected
                = QByteArray("C") + ACK + CRC + ACK + QByteArray(9, NAK) + cancelSequence();
        EXPECT_EQ(answers, expected);
        EXPECT_EQ(sink.data, file.first(LongBlock));
    }
}

} // namespace
