// How the port groups what arrives into receive events: few events for a stream that keeps the
// line busy, one per frame for a device that pauses between frames, and never one so large that
// showing it would freeze the window.

#include "port/serialport.h"
#include "support/processprobe.h"
#include "support/ptypair.h"
#include "support/testapp.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <poll.h>
#include <iostream>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int TestPort = 6;

// Plays the device from a thread of its own: pieces of the data, piece k written k * gap after
// the first, each as one write, as a device's driver hands them over.
class Device
{
public:
    // then() runs on the device's thread right after the last write.
    Device(int fd, QByteArray data, qsizetype piece, std::chrono::milliseconds gap,
           std::function<void()> then = {})
        : m_thread([=] {
            const auto start = std::chrono::steady_clock::now();
            for (qsizetype at = 0, k = 0; at < data.size(); at += piece, ++k) {
                std::this_thread::sleep_until(start + k * gap);
                writeAll(fd, data.constData() + at, std::min(piece, data.size() - at));
            }
            if (then)
                then();
        })
    {}
    ~Device() { m_thread.join(); }

private:
    static void writeAll(int fd, const char *bytes, qsizetype size)
    {
        while (size > 0) {
            const ssize_t n = ::write(fd, bytes, size_t(size));
            if (n > 0) {
                bytes += n;
                size -= n;
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            } else {
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
    }

    std::thread m_thread;
};

class ReceiveGroupingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureApp();
        ASSERT_TRUE(home.linkPty(TestPort, pty));
        ASSERT_TRUE(port.setCommPort(TestPort).ok());
        ASSERT_TRUE(port.setSettings(u"115200,N,8,1"_s).ok());
        const Result opened = port.setPortOpen(true);
        ASSERT_TRUE(opened.ok()) << opened.message().toStdString();
        QObject::connect(&port, &CommPort::received, &port, [this](const QByteArray &chunk) {
            chunks.push_back(chunk.size());
            received += chunk;
        });
    }

    // Runs the event loop the way the program does; QTest::qWait would sleep between its
    // turns and so hold back the port's timers.
    static void runFor(int milliseconds, const std::function<bool()> &done = {})
    {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done && done())
                loop.quit();
        });
        poll.start(5);
        QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
        loop.exec();
    }

    bool waitFor(qsizetype size)
    {
        runFor(20000, [&] { return received.size() >= size; });
        runFor(50);
        return received.size() >= size;
    }

    TempConfigHome home;
    PtyPair pty;
    SerialPort port;
    QByteArray received;
    std::vector<qsizetype> chunks;
};

TEST_F(ReceiveGroupingTest, AStreamThatKeepsTheLineBusyGathersButPausesSeparateFrames)
{
    struct Case
    {
        const char *what;
        qsizetype piece;
        int gapMs;
        int pieces;
        int fewestEvents;
        int mostEvents;
    };
    const Case cases[] = {
            // 80 bytes take 6.9 ms at 115200 bit/s: the gaps are the line's own time, not pauses.
            {"80-byte pieces at the line's full rate", 80, 7, 30, 1, 20},
            // 16 bytes take 1.4 ms: 12 ms between frames is a pause after each.
            {"16-byte frames with pauses between them", 16, 12, 8, 4, 8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        received.clear();
        chunks.clear();
        runFor(50);
        const QByteArray data = bytePattern(c.piece * c.pieces);
        {
            Device device(pty.masterFd(), data, c.piece, std::chrono::milliseconds(c.gapMs));
            ASSERT_TRUE(waitFor(data.size()));
        }
        EXPECT_TRUE(received == data) << "bytes lost, changed or out of order";
        // A busy machine can only merge pieces, so the fewest is reported rather than checked;
        // the most is a bound that load cannot break.
        if (int(chunks.size()) < c.fewestEvents) {
            std::cout << "[ note ] " << c.what << ": " << chunks.size() << " chunks, "
                      << c.fewestEvents << " expected on an idle machine\n";
        }
        EXPECT_LE(int(chunks.size()), c.mostEvents) << ::testing::PrintToString(chunks);
    }
}

// A line kept busy is read a burst at a time without watching it; when the stream stops, the
// line must be watched again, or a lone byte after it would never show and a hang-up in the
// middle of it would never be reported.
TEST_F(ReceiveGroupingTest, AfterABusyStreamALoneByteStillShowsAndAHangUpIsReportedOnce)
{
    QStringList lost;
    QObject::connect(&port, &CommPort::lost, &port, [&lost](const QString &m) { lost << m; });
    const QByteArray stream = bytePattern(80 * 30);
    {
        Device device(pty.masterFd(), stream, 80, std::chrono::milliseconds(7));
        ASSERT_TRUE(waitFor(stream.size()));
    }
    runFor(100);
    ASSERT_TRUE(pty.writeMaster("!"));
    ASSERT_TRUE(waitFor(stream.size() + 1)) << "a byte after the stream was not read";
    EXPECT_TRUE(received == stream + "!");

    received.clear();
    runFor(100);
    {
        Device device(pty.masterFd(), stream, 80, std::chrono::milliseconds(7),
                      [this] { pty.closeMaster(); });
        runFor(20000, [&] { return !lost.isEmpty(); });
    }
    runFor(100);
    EXPECT_EQ(lost.size(), 1);
    EXPECT_FALSE(port.portOpen());
    // A hang-up may take what the system still held with it, but never changes what came.
    EXPECT_TRUE(stream.startsWith(received)) << "bytes changed or out of order";
}

TEST_F(ReceiveGroupingTest, ABlastComesInChunksSmallEnoughToShowWithoutAFreeze)
{
    const QByteArray data = bytePattern(4 << 20);
    {
        Device device(pty.masterFd(), data, data.size(), std::chrono::milliseconds(0));
        ASSERT_TRUE(waitFor(data.size()));
    }
    EXPECT_TRUE(received == data) << "bytes lost, changed or out of order";
    // As one hex dump line a chunk is four times its size in characters; a few hundred KiB
    // is about what the terminal takes in without holding the window up noticeably.
    const qsizetype largest = *std::max_element(chunks.begin(), chunks.end());
    EXPECT_LE(largest, 256 * 1024) << "a chunk of " << largest << " bytes";
}

} // namespace
