// The XMODEM/YMODEM engines against scripted peers that misbehave in the ways real ones do: a
// receiver that refuses, cancels or falls silent, a sender that corrupts, repeats, lies about the
// size or names a file outside the folder. No widgets, no line: bytes go straight across, one
// event-loop turn apart, and the timers are short so that silence is quick to reach.

#include "transfer/modemframe.h"
#include "transfer/modemsender.h"
#include "transfer/receivefolder.h"
#include "transfer/ymodemreceiver.h"

#include "support/testbytes.h"
#include "support/qtprinters.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace Qt::StringLiterals;
using namespace Modem;

namespace {

// Delivers bytes to a peer on the next turn of the event loop, as a line would.
void later(QObject *context, std::function<void()> f)
{
    QTimer::singleShot(0, context, std::move(f));
}

bool runUntil(const std::function<bool()> &done, int timeoutMs = 60000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    return done();
}

// A receiver of single blocks, XMODEM style, whose misbehaviour the case chooses.
struct ScriptedReceiver
{
    char start = CRC;      // the request that starts the transfer; 0: never starts
    int refuse = 0;        // data blocks answered with NAK before the first is taken
    int silentAfter = -1;  // answers nothing from this block on
    int cancelAfter = -1;  // answers this block with CAN CAN
    bool refuseEot = true; // answers the first EOT with NAK, as lrzsz does
    bool ymodem = false;

    QByteArray data{};
    int blocks = 0;
    int naks = 0;
    int eots = 0;
    QByteArray cans{};

    QByteArray answer(const QByteArray &bytes)
    {
        if (bytes.startsWith(CAN)) {
            cans += bytes;
            return {};
        }
        if (bytes == QByteArray(1, EOT)) {
            ++eots;
            if (refuseEot && eots == 1)
                return QByteArray(1, NAK);
            return ymodem ? QByteArray(1, ACK) + CRC : QByteArray(1, ACK);
        }
        const qsizetype size = bytes[0] == STX ? LongBlock : ShortBlock;
        const QByteArrayView body = QByteArrayView(bytes).sliced(3, size);
        const bool crc = bytes.size() == size + 5;
        const bool good = crc ? crc16(body)
                                          == quint16((quint8(bytes[3 + size]) << 8)
                                                     | quint8(bytes[4 + size]))
                              : checksum(body) == quint8(bytes[3 + size]);
        EXPECT_TRUE(good);
        if (bytes[1] == 0) // YMODEM's block 0: the name, then a request for the data
            return QByteArray(1, ACK) + CRC;
        if (blocks == silentAfter)
            return {};
        if (blocks == cancelAfter)
            return QByteArray(2, CAN);
        if (naks < refuse) {
            ++naks;
            return QByteArray(1, NAK);
        }
        ++blocks;
        data += body;
        return QByteArray(1, ACK);
    }
};

struct SendRun
{
    Outcome outcome;
    bool ended = false;
    int transmissions = 0;
};

SendRun send(ModemSender::Protocol protocol, const QByteArray &file, ScriptedReceiver &peer)
{
    QBuffer buffer;
    buffer.setData(file);
    buffer.open(QIODevice::ReadOnly);
    ModemSender sender(protocol, {&buffer, "file.bin", file.size(), 0});
    sender.setTiming({1000, 50});
    SendRun run;
    QObject::connect(&sender, &ModemSender::output, [&](const QByteArray &bytes) {
        ++run.transmissions;
        const QByteArray reply = peer.answer(bytes);
        if (!reply.isEmpty())
            later(&sender, [&sender, reply] { sender.feed(reply); });
    });
    QObject::connect(&sender, &ModemSender::finished, [&](const Outcome &o) {
        run.outcome = o;
        run.ended = true;
    });
    sender.start();
    if (peer.start)
        later(&sender, [&] { sender.feed(QByteArray("\r\n## Ready\r\n").append(peer.start)); });
    EXPECT_TRUE(runUntil([&] { return run.ended; }));
    return run;
}

class ModemTransferTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "modemtransfer_test";
        static char *argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
};

TEST_F(ModemTransferTest, SenderRetriesGivesUpAndEndsAsTheReceiverSays)
{
    const QByteArray file = randomBytes(3000, 7);
    const struct
    {
        const char *what;
        ModemSender::Protocol protocol;
        ScriptedReceiver peer;
        Outcome::Kind kind;
        QString reason;
    } cases[] = {
            {"xmodem checksum",
             ModemSender::Protocol::Xmodem,
             {.start = NAK},
             Outcome::Kind::Completed,
             {}},
            {"xmodem crc, three refusals",
             ModemSender::Protocol::Xmodem,
             {.refuse = 3},
             Outcome::Kind::Completed,
             {}},
            {"eot acknowledged at once",
             ModemSender::Protocol::Xmodem,
             {.refuseEot = false},
             Outcome::Kind::Completed,
             {}},
            {"ymodem",
             ModemSender::Protocol::Ymodem,
             {.ymodem = true},
             Outcome::Kind::Completed,
             {}},
            {"never starts",
             ModemSender::Protocol::Ymodem,
             {.start = 0},
             Outcome::Kind::Failed,
             u"对方在 1 秒内没有开始传输"_s},
            {"refuses every time",
             ModemSender::Protocol::Xmodem,
             {.refuse = 100},
             Outcome::Kind::Failed,
             u"第 1 块重发 10 次仍被接收方拒绝"_s},
            {"falls silent",
             ModemSender::Protocol::Xmodem,
             {.silentAfter = 2},
             Outcome::Kind::Failed,
             u"接收方重试 10 次后仍没有回应"_s},
            {"cancels",
             ModemSender::Protocol::Ymodem,
             {.cancelAfter = 1, .ymodem = true},
             Outcome::Kind::Failed,
             u"对方取消了传输（CAN）"_s},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.what);
        const SendRun run = send(c.protocol, file, c.peer);
        EXPECT_EQ(run.outcome.kind, c.kind);
        EXPECT_EQ(run.outcome.reason, c.reason);
        if (c.kind == Outcome::Kind::Completed) {
            EXPECT_EQ(c.peer.data.left(file.size()), file);
            EXPECT_EQ(c.peer.data.mid(file.size()),
                      QByteArray(c.peer.data.size() - file.size(), PAD));
        }
        // A sender that gives up says so to the receiver; one cancelled or never asked does not.
        const bool told = c.peer.refuse == 100 || c.peer.silentAfter >= 0;
        EXPECT_EQ(c.peer.cans, told ? cancelSequence() : QByteArray());
        if (told) {
            EXPECT_EQ(run.transmissions, qMax(c.peer.silentAfter, 0) + 11 + 1);
        }
    }
}

TEST_F(ModemTransferTest, StopSendsCansAndEndsAtOnce)
{
    QBuffer buffer;
    const QByteArray file = randomBytes(5000, 3);
    buffer.setData(file);
    buffer.open(QIODevice::ReadOnly);
    ModemSender sender(ModemSender::Protocol::Ymodem, {&buffer, "f", file.size(), 0});
    QByteArray out;
    std::optional<Outcome> outcome;
    QObject::connect(&sender, &ModemSender::output, [&](const QByteArray &b) { out = b; });
    QObject::connect(&sender, &ModemSender::finished, [&](const Outcome &o) { outcome = o; });
    sender.start();
    sender.feed("C");
    sender.cancel();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->kind, Outcome::Kind::Stopped);
    EXPECT_EQ(out, cancelSequence());
    EXPECT_EQ(sender.feed("\x06more"), 0) << "bytes after the end are the terminal's";
}

// Every file under root, relative to it, with its content.
QMap<QString, QByteArray> filesUnder(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        file.open(QIODevice::ReadOnly);
        files.insert(QDir(root).relativeFilePath(file.fileName()), file.readAll());
    }
    return files;
}

QByteArray flipped(QByteArray block)
{
    block[10] = char(block[10] ^ 0x40);
    return block;
}

TEST_F(ModemTransferTest, ReceiverTakesOnlyWhatItShouldAndKeepsFilesInTheFolder)
{
    const QByteArray file = randomBytes(5000, 11);
    // What the sender's blocks become on the way: n counts every block with that number.
    using Mangle = std::function<QByteArray(const QByteArray &block, int number, int n)>;
    const Mangle asIs = [](const QByteArray &b, int, int) {
        return b;
    };
    const QString Part = ReceiveFolder::partSuffix();
    const struct
    {
        const char *what;
        QByteArray name;
        Mangle mangle;
        Outcome::Kind kind;
        QString reason; // contained in the outcome's or the file's reason
        QMap<QString, QByteArray> files;
        bool silent = false;
        int garbledAck = -1; // this ACK of a data block reaches the sender as NAK
    } cases[] = {
            {"whole", "plain.bin", asIs, Outcome::Kind::Completed, {}, {{u"in/plain.bin"_s, file}}},
            {"one bad crc",
             "crc.bin",
             [](const QByteArray &b, int number, int n) {
                 return number == 2 && n == 0 ? flipped(b) : b;
             },
             Outcome::Kind::Completed,
             {},
             {{u"in/crc.bin"_s, file}}},
            {"every copy bad",
             "bad.bin",
             [](const QByteArray &b, int number, int) { return number == 2 ? flipped(b) : b; },
             Outcome::Kind::Failed,
             u"第 2 块连续 10 次损坏"_s,
             {{u"in/bad.bin"_s + Part, file.left(1024)}}},
            {"answer garbled, block repeated",
             "twice.bin",
             asIs,
             Outcome::Kind::Completed,
             {},
             {{u"in/twice.bin"_s, file}},
             false,
             2},
            {"silent",
             "silent.bin",
             [](const QByteArray &b, int number, int) { return number >= 1 ? QByteArray() : b; },
             Outcome::Kind::Failed,
             u"发送方重试 10 次后仍没有发来数据"_s,
             {{u"in/silent.bin"_s + Part, {}}},
             true},
            {"announces less",
             "less.bin",
             [](const QByteArray &b, int number, int) {
                 return number == 0 && b[3] ? headerBlock("less.bin", 100, 0, true) : b;
             },
             Outcome::Kind::Completed,
             {},
             {{u"in/less.bin"_s, file.left(100)}}},
            {"announces more",
             "more.bin",
             [](const QByteArray &b, int number, int) {
                 return number == 0 && b[3] ? headerBlock("more.bin", 9999, 0, true) : b;
             },
             Outcome::Kind::Completed,
             u"发送方在 5.0 KiB（5120 字节）处结束了文件，但声明的大小是 9.8 KiB（9999 字节）"_s,
             {{u"in/more.bin"_s + Part, file + QByteArray(120, PAD)}}},
            {"climbs out",
             "../../../out.bin",
             asIs,
             Outcome::Kind::Completed,
             {},
             {{u"in/out.bin"_s, file}}},
            {"absolute",
             "/tmp/abs.bin",
             asIs,
             Outcome::Kind::Completed,
             {},
             {{u"in/abs.bin"_s, file}}},
            {"windows path",
             "C:\\dir\\win.bin",
             asIs,
             Outcome::Kind::Completed,
             {},
             {{u"in/win.bin"_s, file}}},
            {"control characters",
             "a\x1b[2Jb\x07.bin",
             asIs,
             Outcome::Kind::Completed,
             {},
             {{u"in/a[2Jb.bin"_s, file}}},
            {"nothing left",
             "dir/..",
             asIs,
             Outcome::Kind::Failed,
             u"拒绝发送方给出的文件名“dir/..”"_s,
             {}},
            {"taken",
             "taken.bin",
             asIs,
             Outcome::Kind::Completed,
             {},
             {{u"in/taken.bin"_s, "old"}, {u"in/taken (1).bin"_s, file}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir root;
        ASSERT_TRUE(root.isValid());
        QDir(root.path()).mkdir(u"in"_s);
        const QString folder = root.filePath(u"in"_s);
        if (c.files.contains(u"in/taken.bin"_s)) {
            QFile old(folder + u"/taken.bin"_s);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("old");
        }

        QBuffer buffer;
        buffer.setData(file);
        buffer.open(QIODevice::ReadOnly);
        ModemSender sender(ModemSender::Protocol::Ymodem, {&buffer, c.name, file.size(), 0});
        sender.setTiming({60000, 60000});
        ReceiveFolder sink(folder);
        YmodemReceiver receiver(sink);
        receiver.setTiming({5000, 20, c.silent ? 50 : 5000, 10});

        QMap<int, int> seen;
        QObject::connect(&sender, &ModemSender::output, [&](const QByteArray &bytes) {
            QByteArray out = bytes;
            if (bytes[0] == SOH || bytes[0] == STX)
                out = c.mangle(bytes, quint8(bytes[1]), seen[quint8(bytes[1])]++);
            if (!out.isEmpty())
                later(&receiver, [&receiver, out] { receiver.feed(out); });
        });
        int acks = 0;
        QObject::connect(&receiver, &YmodemReceiver::output, [&](const QByteArray &bytes) {
            QByteArray out = bytes;
            if (bytes == QByteArray(1, ACK) && acks++ == c.garbledAck)
                out = QByteArray(1, NAK);
            later(&sender, [&sender, out] { sender.feed(out); });
        });
        std::optional<Outcome> outcome;
        QString fileReason;
        QObject::connect(&receiver, &YmodemReceiver::finished,
                         [&](const Outcome &o) { outcome = o; });
        QObject::connect(&receiver, &YmodemReceiver::fileFailed,
                         [&](const QString &r) { fileReason = r; });
        sender.start();
        receiver.start();
        ASSERT_TRUE(runUntil([&] { return outcome.has_value() && !sender.running(); }));

        EXPECT_EQ(outcome->kind, c.kind) << outcome->reason.toStdString();
        const QString reason = outcome->reason + fileReason;
        if (c.reason.isEmpty())
            EXPECT_TRUE(reason.isEmpty()) << reason.toStdString();
        else
            EXPECT_TRUE(reason.contains(c.reason)) << reason.toStdString();
        // A part left behind is named in the message, so that the user can find it.
        for (auto it = c.files.begin(); it != c.files.end(); ++it) {
            if (it.key().endsWith(Part)) {
                EXPECT_TRUE(reason.contains(root.filePath(it.key()))) << reason.toStdString();
            }
        }
        EXPECT_EQ(filesUnder(root.path()), c.files);
    }
}

} // namespace
