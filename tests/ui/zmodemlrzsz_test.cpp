// The ZMODEM engines over the program's real port against lrzsz's sz and rz on the far side of
// a pseudo-terminal, as they would run on a board's console.

#include "port/serialport.h"
#include "transfer/receivefolder.h"
#include "transfer/zmodemreceiver.h"
#include "transfer/zmodemsender.h"

#include "support/ptypair.h"
#include "support/testapp.h"
#include "support/testbytes.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
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

class ZmodemLrzszTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureApp();
        if (QStandardPaths::findExecutable(u"sz"_s).isEmpty())
            GTEST_SKIP() << "lrzsz is not installed (scripts/setup installs it)";
        ASSERT_TRUE(pty.isValid()) << pty.error().toStdString();
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(home.linkPort(TestPort, pty.slavePath()));
        ASSERT_TRUE(port.setCommPort(TestPort).ok());
        const Result opened = port.setPortOpen(true);
        ASSERT_TRUE(opened.ok()) << opened.message().toStdString();
        QObject::connect(&port, &CommPort::received, &port,
                         [this](const QByteArray &bytes) { lineBytes += bytes.size(); });
    }

    void startFarEnd(const QString &program, const QStringList &arguments, const QString &folder)
    {
        farEnd.setWorkingDirectory(folder);
        ASSERT_TRUE(pty.startOnMaster(farEnd, program, arguments))
                << farEnd.errorString().toStdString();
    }

    void waitForFarEnd()
    {
        (void)QTest::qWaitFor([this] { return farEnd.state() == QProcess::NotRunning; },
                              TransferTimeoutMs);
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
        if constexpr (std::is_same_v<Engine, ZmodemSender>)
            QObject::connect(&port, &CommPort::bytesWritten, &engine,
                             [this, &engine] { engine.lineTook(port.bytesToWrite()); });
        engine.start();
        (void)QTest::qWaitFor([&outcome] { return outcome.has_value(); }, TransferTimeoutMs);
        EXPECT_TRUE(outcome.has_value()) << "the transfer did not end";
        return outcome.value_or(Modem::Outcome{Modem::Outcome::Kind::Failed, u"timeout"_s});
    }

    TempConfigHome home;
    PtyPair pty;
    SerialPort port;
    QTemporaryDir dir;
    QProcess farEnd;
    qint64 lineBytes = 0;
};

// Sizes that end on, before and after a subpacket's edge, every byte value that needs escaping.
const QList<QByteArray> &batch()
{
    static const QList<QByteArray> files = {randomBytes(200 * 1024 + 17, 11), QByteArray(),
                                            everyByteValue().repeated(4) + randomBytes(1024, 12)};
    return files;
}
const QStringList names = {u"first.bin"_s, u"empty.bin"_s, u"third.bin"_s};

TEST_F(ZmodemLrzszTest, BatchFromSzLandsExactlyInTheFolder)
{
    const QString source = dir.filePath(u"source"_s);
    const QString folder = dir.filePath(u"in"_s);
    ASSERT_TRUE(QDir().mkpath(source) && QDir().mkpath(folder));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(writeFile(source + u'/' + names[i], batch()[i]));

    ReceiveFolder sink(folder);
    ZmodemReceiver receiver(sink);
    QStringList landed;
    QObject::connect(&receiver, &ZmodemReceiver::fileReceived,
                     [&](const QString &name, qint64) { landed << QFileInfo(name).fileName(); });
    startFarEnd(u"sz"_s, names, source);
    const Modem::Outcome outcome = run(receiver);
    EXPECT_TRUE(outcome.completed()) << outcome.reason.toStdString();
    waitForFarEnd();
    EXPECT_EQ(landed, names);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(readFile(folder + u'/' + names[i]), batch()[i]) << names[i].toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST_F(ZmodemLrzszTest, BatchToRzLandsExactly)
{
    const QString folder = dir.filePath(u"there"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    std::vector<std::unique_ptr<QFile>> files;
    QList<ZmodemSender::Source> sources;
    for (int i = 0; i < 3; ++i) {
        const QString path = dir.filePath(names[i]);
        ASSERT_TRUE(writeFile(path, batch()[i]));
        files.push_back(std::make_unique<QFile>(path));
        ASSERT_TRUE(files.back()->open(QIODevice::ReadOnly));
        sources << ZmodemSender::Source{files.back().get(), names[i].toUtf8(), batch()[i].size(),
                                        1700000000};
    }
    ZmodemSender sender(sources);
    startFarEnd(u"rz"_s, {}, folder);
    const Modem::Outcome outcome = run(sender);
    EXPECT_TRUE(outcome.completed()) << outcome.reason.toStdString();
    waitForFarEnd();
    EXPECT_EQ(sender.filesConfirmed(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(readFile(folder + u'/' + names[i]), batch()[i]) << names[i].toStdString();
}

TEST_F(ZmodemLrzszTest, PartAlreadyHeldIsTakenUpWhereItEnded)
{
    const QString source = dir.filePath(u"source"_s);
    const QString folder = dir.filePath(u"in"_s);
    ASSERT_TRUE(QDir().mkpath(source) && QDir().mkpath(folder));
    const QByteArray data = randomBytes(300 * 1024, 21);
    constexpr qint64 Held = 250 * 1024 + 5;
    ASSERT_TRUE(writeFile(source + u"/image.bin"_s, data));
    ASSERT_TRUE(
            writeFile(folder + u"/image.bin"_s + ReceiveFolder::partSuffix(), data.first(Held)));

    ReceiveFolder sink(folder);
    ZmodemReceiver receiver(sink);
    qint64 offset = -1;
    QObject::connect(&receiver, &ZmodemReceiver::fileStarted,
                     [&](const QByteArray &, qint64, qint64 at) { offset = at; });
    startFarEnd(u"sz"_s, {u"image.bin"_s}, source);
    const Modem::Outcome outcome = run(receiver);
    EXPECT_TRUE(outcome.completed()) << outcome.reason.toStdString();
    waitForFarEnd();
    EXPECT_EQ(offset, Held);
    EXPECT_EQ(readFile(folder + u"/image.bin"_s), data);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
    // Only the rest crossed the line (with its framing), not the file again.
    EXPECT_LT(lineBytes, (data.size() - Held) * 11 / 10 + 4096);
}

} // namespace
