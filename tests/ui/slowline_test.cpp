// Fast file sends into lines that take bytes slower than the program has them: a line held for
// seconds, as a device holding CTS holds it, and a real 115200 bit/s line. The far end is a peer
// on its own thread. The file must arrive whole and in order, and the window must stay alive
// meanwhile: its event loop turning, and what the peer says showing while the send goes on.

#include "app/menus.h"
#include "core/dialogs.h"
#include "widgets/terminalbox.h"
#include "core/portsettings.h"
#include "support/linepeer.h"
#include "support/mainwindowfixture.h"
#include "support/processprobe.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>
#include <QTest>
#include <QTimer>

#include <iostream>

using namespace Qt::StringLiterals;

namespace {

constexpr int TickMs = 20;
// Generous, so that a busy or sanitizer machine cannot fail it; the figure itself is printed.
constexpr qint64 StallBoundMs = 2000;
constexpr int RemarkAtMs = 1000;
// A send that has stopped for this long after the hold will send nothing more.
constexpr qint64 SilenceMs = 5000;
constexpr int SendTimeoutMs = 90000;
const QString Remark = u"peer still talking"_s;

// Ticks with the window's event loop and keeps the longest time it went without turning. Each
// tick also looks for the peer's remark in what the terminal gained since the last one, and
// notes when, on the peer's clock, the remark first showed.
class LoopWatch
{
public:
    LoopWatch(TerminalBox &box, const LinePeer &peer)
        : m_box(box)
        , m_peer(peer)
    {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { tick(); });
    }

    void start()
    {
        m_sinceTick.start();
        m_timer.start(TickMs);
    }

    qint64 longestStallMs() const { return m_longest; }
    // -1 while not shown.
    qint64 remarkShownMs() const { return m_remarkShownMs; }

private:
    void tick()
    {
        m_longest = qMax(m_longest, m_sinceTick.restart());
        if (m_remarkShownMs >= 0)
            return;
        QTextDocument *document = m_box.document();
        if (!document->find(Remark, qMin(m_searchFrom, document->characterCount())).isNull()) {
            m_remarkShownMs = m_peer.elapsedMs();
            return;
        }
        m_searchFrom = qMax(0, document->characterCount() - int(Remark.size()) - 1);
    }

    TerminalBox &m_box;
    const LinePeer &m_peer;
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
    qint64 m_remarkShownMs = -1;
    int m_searchFrom = 0;
};

qsizetype firstDifference(const QByteArray &got, const QByteArray &sent)
{
    const qsizetype common = qMin(got.size(), sent.size());
    for (qsizetype i = 0; i < common; ++i) {
        if (got[i] != sent[i])
            return i;
    }
    return got.size() == sent.size() ? -1 : common;
}

} // namespace

class SlowLineTest : public MainWindowFixture
{
protected:
    // Sends a file of size bytes fast to a peer of the given pace, and checks what it got, the
    // window's liveliness and its hearing meanwhile.
    void sendFastTo(const char *line, LinePeer::Pace pace, qsizetype size)
    {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QByteArray data = bytePattern(size);
        const QString path = dir.filePath(u"send.bin"_s);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(data), data.size());
        file.close();

        m_store.save(SettingKeys::baud(), u"115200"_s);
        startWindow();
        openPort();
        if (HasFatalFailure())
            return;

        LinePeer peer(m_pty.masterFd(), pace);
        LoopWatch watch(box(), peer);
        watch.start();
        peer.start("\r\n" + Remark.toLatin1() + "\r\n", RemarkAtMs);
        m_dialogs.answerOpen(path);
        m_dialogs.answerMessage(Dialogs::Yes);
        click(Menus::SendFile);

        // Until the peer has it all, or the send has visibly stopped short.
        waitFor(
                [&] {
                    const qint64 lastActive = qMax<qint64>(peer.lastByteMs(), pace.holdMs);
                    return peer.receivedCount() >= size
                           || peer.elapsedMs() - lastActive > SilenceMs;
                },
                SendTimeoutMs);
        // A remark not shown by now may still be on its way: give it a moment.
        waitFor([&] { return watch.remarkShownMs() >= 0; }, 2000);
        peer.stop();
        const QByteArray received = peer.received();
        const qsizetype difference = firstDifference(received, data);

        const std::string figures
                = u"%1: longest event-loop stall %2 ms; peer took %3 of %4 bytes, first difference "
                  u"at %5; remark sent at %6 ms, shown at %7 ms, last byte at %8 ms"_s
                          .arg(QString::fromLatin1(line))
                          .arg(watch.longestStallMs())
                          .arg(received.size())
                          .arg(size)
                          .arg(difference)
                          .arg(peer.remarkSentMs())
                          .arg(watch.remarkShownMs())
                          .arg(peer.lastByteMs())
                          .toStdString();
        std::cout << "[ measured ] " << figures << std::endl;
        RecordProperty("longest_stall_ms", int(watch.longestStallMs()));
        RecordProperty("bytes_received", int(received.size()));

        EXPECT_EQ(received.size(), size) << "bytes were lost or added";
        EXPECT_EQ(difference, -1) << "the bytes arrived changed or out of order";
        EXPECT_LT(watch.longestStallMs(), StallBoundMs) << "the window froze while sending";
        // The window must hear the line while the send waits for it.
        EXPECT_TRUE(watch.remarkShownMs() >= 0 && watch.remarkShownMs() < pace.slowUntilMs())
                << "what the peer said did not show while the send went on";
    }
};

// Both send far more than the port's and the system's buffers hold, so the send must wait for
// the line, and both far ends say something while it waits.

TEST_F(SlowLineTest, HeldLineGetsTheWholeFileOnceReleasedAndTheWindowStaysAlive)
{
    sendFastTo("held line", {.holdMs = 10000}, 2 * 1024 * 1024);
}

TEST_F(SlowLineTest, Line115200GetsTheWholeFileAtItsPaceAndTheWindowStaysAlive)
{
    sendFastTo("115200 bit/s line", {.bytesPerSecond = 11520, .pacedMs = 15000}, 2 * 1024 * 1024);
}
