// The transfer engines over the program's real port against lrzsz, a far end nobody here wrote:
// its rb, rx and sb run with their standard input and output on the far side of a
// pseudo-terminal, as they would on a device's console.

#include "port/serialport.h"
#include "transfer/modemsender.h"
#include "transfer/receivefolder.h"
#include "transfer/ymodemreceiver.h"

#include "support/testbytes.h"
#include "support/ptypair.h"
#include "support/testapp.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

constexpr int TestPort = 7;
constexpr int TransferTimeoutMs = 120000;

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

class ModemLrzszTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureApp();
        if (QStandardPaths::findExecutable(u"rb"_s).isEmpty())
            GTEST_SKIP() << "lrzsz is not installed (scripts/setup installs it)";
        ASSERT_TRUE(pty.isValid()) << pty.error().toStdString();
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(home.linkPort(TestPort, pty.slavePath()));
        ASSERT_TRUE(port.setCommPort(TestPort).ok());
        const Result opened = port.setPortOpen(true);
        ASSERT_TRUE(opened.ok()) << opened.message().toStdString();
    }

    // One of lrzsz's programs on the far end of the line, in folder.
    void startFarEnd(const QString &program, const QStringList &arguments, const QString &folder)
    {
        farEnd.setWorkingDirectory(folder);
        ASSERT_TRUE(pty.startOnMaster(farEnd, program, arguments))
                << farEnd.errorString().toStdString();
    }

    void waitForFarEnd()
    {
        QDeadlineTimer deadline(TransferTimeoutMs);
        while (farEnd.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(20);
        EXPECT_EQ(farEnd.state(), QProcess::NotRunning);
        pty.masterIsOurs();
        EXPECT_EQ(farEnd.exitCode(), 0) << farEnd.readAllStandardError().toStdString();
    }

    template<typename Engine>
    Modem::Outcome run(Engine &engine)
    {
        std::optional<Modem::Outcome> outcome;
        QObject::connect(&port, &CommPort::received, &engine,
                         [&engine](const QByteArray &bytes) { engine.feed(bytes); });
        QObject::connect(&engine, &Engine::output, &port,
                         [this](const QByteArray &bytes) { (void)port.output(bytes); });
        QObject::connect(&engine, &Engine::finished,
                         [&outcome](const Modem::Outcome &o) { outcome = o; });
        if constexpr (std::is_same_v<Engine, ModemSender>)
            QObject::connect(&port, &CommPort::bytesWritten, &engine, &ModemSender::lineTook);
        engine.start();
        QDeadlineTimer deadline(TransferTimeoutMs);
        while (!outcome && !deadline.hasExpired())
            QTest::qWait(20);
        EXPECT_TRUE(outcome.has_value()) << "the transfer did not end";
        return outcome.value_or(Modem::Outcome{Modem::Outcome::Kind::Failed, u"timeout"_s});
    }

    TempConfigHome home;
    PtyPair pty;
    SerialPort port;
    QTemporaryDir dir;
    QProcess farEnd;
};

TEST_F(ModemLrzszTest, FileSentArrivesWholeUnderItsName)
{
    const QByteArray data = randomBytes(70 * 1024 + 333, 5);
    const QDir there(dir.filePath(u"there"_s));
    ASSERT_TRUE(QDir().mkpath(there.path()));
    const struct
    {
        const char *what;
        ModemSender::Protocol protocol;
        QStringList farEnd; // program, arguments
        qsizetype padding;  // XMODEM knows no size: the last block's fill arrives too
    } cases[] = {
            {"ymodem to rb", ModemSender::Protocol::Ymodem, {u"rb"_s}, 0},
            {"xmodem-crc to rx -c",
             ModemSender::Protocol::Xmodem,
             {u"rx"_s, u"-c"_s, u"image.bin"_s},
             128 - data.size() % 128},
            {"xmodem checksum to rx",
             ModemSender::Protocol::Xmodem,
             {u"rx"_s, u"image.bin"_s},
             128 - data.size() % 128},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(there.filePath(u"image.bin"_s));
        QBuffer source;
        source.setData(data);
        source.open(QIODevice::ReadOnly);
        ModemSender sender(c.protocol, {&source, "image.bin", data.size(), 1700000000});
        startFarEnd(c.farEnd.first(), c.farEnd.mid(1), there.path());
        const Modem::Outcome outcome = run(sender);
        EXPECT_TRUE(outcome.completed()) << outcome.reason.toStdString();
        waitForFarEnd();
        EXPECT_EQ(readFile(there.filePath(u"image.bin"_s)),
                  data + QByteArray(c.padding, Modem::PAD));
    }
}

TEST_F(ModemLrzszTest, BatchFromSbLandsExactlyAndOnlyInTheFolder)
{
    // Files to send, outside the receiving folder; -f gives rb's side their absolute paths.
    const QString source = dir.filePath(u"source"_s);
    const QString folder = dir.filePath(u"in"_s);
    ASSERT_TRUE(QDir().mkpath(source) && QDir().mkpath(folder));
    const QByteArray first = randomBytes(40000, 1), second = randomBytes(1, 2),
                     third = randomBytes(3000, 3);
    ASSERT_TRUE(writeFile(source + u"/first.bin"_s, first));
    ASSERT_TRUE(writeFile(source + u"/second.bin"_s, second));
    ASSERT_TRUE(writeFile(source + u"/third.bin"_s, third));

    ReceiveFolder sink(folder);
    YmodemReceiver receiver(sink);
    QStringList names;
    QObject::connect(&receiver, &YmodemReceiver::fileReceived,
                     [&](const QString &name, qint64) { names << name; });
    startFarEnd(u"sb"_s, {u"first.bin"_s, u"second.bin"_s, u"-f"_s, source + u"/third.bin"_s},
                source);
    const Modem::Outcome outcome = run(receiver);
    EXPECT_TRUE(outcome.completed()) << outcome.reason.toStdString();
    waitForFarEnd();
    EXPECT_EQ(names, QStringList({folder + u"/first.bin"_s, folder + u"/second.bin"_s,
                                  folder + u"/third.bin"_s}));
    EXPECT_EQ(readFile(folder + u"/first.bin"_s), first);
    EXPECT_EQ(readFile(folder + u"/second.bin"_s), second);
    EXPECT_EQ(readFile(folder + u"/third.bin"_s), third);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3);
    EXPECT_EQ(QDir(source).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

} // namespace
