// The ZMODEM engines against each other over a line that damages what it carries, and the
// receiver against senders that lie: names that climb out of the folder, headers without end.
// No port: bytes cross one event-loop turn apart.

#include "transfer/receivefolder.h"
#include "transfer/zmodemreceiver.h"
#include "transfer/zmodemsender.h"

#include "support/testbytes.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

bool runUntil(const std::function<bool()> &done, int timeoutMs = 120000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    return done();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// Carries the sender's bytes to the receiver one turn later, flipping one byte in every
// corruptEvery and dropping one in every dropEvery; the answers cross unharmed.
struct DamagingLine
{
    ZmodemSender &sender;
    ZmodemReceiver &receiver;
    qint64 corruptEvery = 0;
    qint64 dropEvery = 0;
    qint64 carried = 0;
    qint64 queued = 0;

    void connect()
    {
        QObject::connect(&sender, &ZmodemSender::output, &sender, [this](QByteArray bytes) {
            queued += bytes.size();
            QTimer::singleShot(0, &receiver, [this, bytes]() mutable { deliver(bytes); });
        });
        QObject::connect(&receiver, &ZmodemReceiver::output, &receiver, [this](QByteArray bytes) {
            QTimer::singleShot(0, &sender, [this, bytes] { sender.feed(bytes); });
        });
    }

    void deliver(QByteArray bytes)
    {
        const qint64 size = bytes.size();
        for (qsizetype i = bytes.size() - 1; i >= 0; --i) {
            const qint64 at = carried + i;
            if (corruptEvery > 0 && at % corruptEvery == corruptEvery - 1)
                bytes[i] = char(bytes[i] ^ 0x5a);
            if (dropEvery > 0 && at % dropEvery == dropEvery / 2)
                bytes.remove(i, 1);
        }
        carried += size;
        queued -= size;
        receiver.feed(bytes);
        sender.lineTook(queued);
    }
};

class ZmodemTransferTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "zmodemtransfer_test";
        static char *argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }

    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QTemporaryDir dir;
};

TEST_F(ZmodemTransferTest, DamagedAndShortenedLineStillLandsFilesExactlyAndCountsRecoveries)
{
    const QByteArray first = randomBytes(4 * 1024 * 1024, 31);
    const QByteArray second = everyByteValue().repeated(1000);
    QBuffer a(const_cast<QByteArray *>(&first)), b(const_cast<QByteArray *>(&second));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    ZmodemSender sender({{&a, "first.bin", first.size(), 0}, {&b, "second.bin", second.size(), 0}});
    sender.setTiming({500, 20, 1000});
    const QString folder = dir.filePath(u"in"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    ReceiveFolder sink(folder);
    ZmodemReceiver receiver(sink);
    receiver.setTiming({500, 20, 1000, 200});
    DamagingLine line{sender, receiver, 64 * 1024, 100 * 1024};
    line.connect();

    std::optional<Modem::Outcome> sent, received;
    QObject::connect(&sender, &ZmodemSender::finished, [&](const Modem::Outcome &o) { sent = o; });
    QObject::connect(&receiver, &ZmodemReceiver::finished,
                     [&](const Modem::Outcome &o) { received = o; });
    receiver.start();
    sender.start();
    ASSERT_TRUE(runUntil([&] { return sent && received; }));
    EXPECT_TRUE(sent->completed())
            << sent->reason.toStdString() << " / " << received->reason.toStdString();
    EXPECT_TRUE(received->completed()) << received->reason.toStdString();
    EXPECT_EQ(readFile(folder + u"/first.bin"_s), first);
    EXPECT_EQ(readFile(folder + u"/second.bin"_s), second);
    EXPECT_EQ(sender.filesConfirmed(), 2);
    // Each damage is one recovery or, where two fell into one window, fewer.
    EXPECT_GE(receiver.recoveries(), 30);
    EXPECT_GE(sender.recoveries(), 30);
}

TEST_F(ZmodemTransferTest, NamesThatLeaveTheFolderLandAsBaseNamesInIt)
{
    const QByteArray data = randomBytes(3000, 3);
    QBuffer a(const_cast<QByteArray *>(&data)), b(const_cast<QByteArray *>(&data));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QBuffer c(const_cast<QByteArray *>(&data));
    ASSERT_TRUE(c.open(QIODevice::ReadOnly));
    ZmodemSender sender({{&a, "../../escape.bin", data.size(), 0},
                         {&b, "C:\\temp\\win\x1b[2J.bin", data.size(), 0},
                         {&c, "..", data.size(), 0}});
    const QString folder = dir.filePath(u"deep/in"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    ReceiveFolder sink(folder);
    ZmodemReceiver receiver(sink);
    DamagingLine line{sender, receiver};
    line.connect();
    QStringList refused;
    QObject::connect(&receiver, &ZmodemReceiver::fileFailed,
                     [&](const QString &why) { refused << why; });
    std::optional<Modem::Outcome> received;
    QObject::connect(&receiver, &ZmodemReceiver::finished,
                     [&](const Modem::Outcome &o) { received = o; });
    receiver.start();
    sender.start();
    ASSERT_TRUE(runUntil([&] { return received.has_value(); }));
    EXPECT_TRUE(received->completed()) << received->reason.toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList({u"escape.bin"_s, u"win[2J.bin"_s}));
    EXPECT_EQ(readFile(folder + u"/escape.bin"_s), data);
    // "..": skipped with its reason, the batch went on.
    EXPECT_EQ(refused.size(), 1);
    EXPECT_EQ(sender.filesSkipped(), 1);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(ZmodemTransferTest, HeadersWithoutEndAreCancelledAndWhatArrivedIsKept)
{
    const QString folder = dir.filePath(u"in"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    const Zmodem::Encoder encoder;
    QByteArray offer = encoder.binaryHeader(Zmodem::Header::flags(Zmodem::ZFILE, 0), true);
    encoder.appendSubpacket(offer,
                            QByteArray("looping.bin\0"
                                       "100000 0 0",
                                       22),
                            Zmodem::ZCRCW, true);
    QByteArray data = encoder.binaryHeader(Zmodem::Header::at(Zmodem::ZDATA, 0), true);
    encoder.appendSubpacket(data, QByteArray(500, 'x'), Zmodem::ZCRCE, true);
    // Then the same data again and again: never where the receiver asks to go on.
    const QByteArray again = data;
    const QByteArray zrqinit = Zmodem::Encoder::hexHeader(Zmodem::Header::at(Zmodem::ZRQINIT, 0));
    const struct
    {
        const char *what;
        QByteArray stream;
        qint64 kept; // bytes of the part kept; -1: no part
    } cases[] = {
            {"ZRQINIT without end", zrqinit.repeated(1000), -1},
            {"data from the start without end", offer + data + again.repeated(1000), 500},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ReceiveFolder sink(folder);
        ZmodemReceiver receiver(sink);
        QByteArray answers;
        QObject::connect(&receiver, &ZmodemReceiver::output,
                         [&](const QByteArray &bytes) { answers += bytes; });
        std::optional<Modem::Outcome> outcome;
        QObject::connect(&receiver, &ZmodemReceiver::finished,
                         [&](const Modem::Outcome &o) { outcome = o; });
        receiver.start();
        const qsizetype taken = receiver.feed(c.stream);
        ASSERT_TRUE(outcome.has_value());
        EXPECT_FALSE(outcome->completed());
        EXPECT_TRUE(outcome->reason.contains(u"连续"_s)) << outcome->reason.toStdString();
        EXPECT_TRUE(answers.endsWith(Zmodem::cancelSequence()));
        // What followed the end is the terminal's again.
        EXPECT_LT(taken, c.stream.size());
        const QString part = folder + u"/looping.bin"_s + ReceiveFolder::partSuffix();
        if (c.kept < 0)
            EXPECT_FALSE(QFile::exists(part));
        else
            EXPECT_EQ(QFile(part).size(), c.kept);
    }
}

} // namespace
