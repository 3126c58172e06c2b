// Capture through the real receive path: what the peer sends reaches the capture file raw and
// before it is shown, whatever the display mode, and a failing file stops capture visibly.

#include "app/menus.h"
#include "widgets/terminalbox.h"
#include "support/testbytes.h"
#include "support/mainwindowfixture.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class CaptureTest : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ASSERT_TRUE(m_dir.isValid());
        startWindow();
        openPort();
    }

    void startCapture(const QString &path)
    {
        m_dialogs.answerSave(path);
        click(Menus::Capture);
        ASSERT_TRUE(m_window->menus().checked(Menus::Capture));
    }

    // Sends in chunks of the given sizes, waiting for each to be shown.
    void sendInChunks(const QByteArray &bytes, const QList<int> &sizes)
    {
        qsizetype at = 0;
        for (int i = 0; at < bytes.size(); ++i) {
            const int size = sizes[i % sizes.size()];
            peerSends(bytes.mid(at, size));
            at += size;
        }
    }

    QTemporaryDir m_dir;
};

TEST_F(CaptureTest, HoldsExactlyWhatThePeerSentInTextAndHexMode)
{
    QByteArray sent = everyByteValue();
    QRandomGenerator random(7);
    for (int i = 0; i < 3000; ++i) {
        sent.append(char(random.bounded(256)));
    }
    for (bool hex : {false, true}) {
        SCOPED_TRACE(hex ? "hex" : "text");
        if (m_window->menus().checked(Menus::HexMode) != hex) {
            click(Menus::HexMode);
        }
        const QString path = m_dir.filePath(hex ? u"hex.cap"_s : u"text.cap"_s);
        startCapture(path);
        // Typed and sent bytes never reach the capture file.
        type(u"typed"_s);
        pressKey(Qt::Key_Return);
        sendInChunks(sent, {1, 2, 255, 7, 1024, 3});
        EXPECT_EQ(readAll(path).toHex(), sent.toHex());
        click(Menus::Capture);
        EXPECT_FALSE(m_window->menus().checked(Menus::Capture));
    }
}

TEST_F(CaptureTest, StartsAgainAtTheFirstByteAndGoesOnAcrossAReopenedPort)
{
    const QString path = m_dir.filePath(u"session.cap"_s);
    startCapture(path);
    peerSends("a long first capture");
    click(Menus::Capture);
    startCapture(path);
    peerSends("two");
    EXPECT_EQ(readAll(path), QByteArray("two"));

    // Closing the port leaves capture on (disabled); after reopening it goes on in the same file.
    click(Menus::OpenPort);
    EXPECT_TRUE(m_window->menus().checked(Menus::Capture));
    EXPECT_FALSE(m_window->menus().enabled(Menus::Capture));
    openPort();
    peerSends("three");
    EXPECT_EQ(readAll(path), QByteArray("twothree"));
}

TEST_F(CaptureTest, AFailingWriteStopsCaptureWithOneMessageAndTheDataIsStillShown)
{
    // A file size limit makes the disk look full after three bytes.
    const QString path = m_dir.filePath(u"full.bin"_s);
    startCapture(path);
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 3;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    peerSends("lost?");
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(m_window->menus().checked(Menus::Capture));
    ASSERT_EQ(m_dialogs.messages().size(), 1);
    EXPECT_EQ(m_dialogs.messages().first().style, Dialogs::Warning);
    EXPECT_TRUE(m_dialogs.messages().first().text.contains(path));
    EXPECT_EQ(box().text(), u"lost?"_s);
    peerSends("more");
    EXPECT_EQ(m_dialogs.messages().size(), 1);
}

TEST_F(CaptureTest, ADeviceOrFifoIsRefusedAsTheCaptureFile)
{
    const QString fifo = m_dir.filePath(u"fifo"_s);
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString &path : {fifo, u"/dev/full"_s}) {
        SCOPED_TRACE(path.toStdString());
        m_dialogs.clearCalls();
        m_dialogs.answerSave(path);
        click(Menus::Capture); // a FIFO without a reader would block here
        EXPECT_FALSE(m_window->menus().checked(Menus::Capture));
        ASSERT_EQ(m_dialogs.messages().size(), 1);
        EXPECT_TRUE(m_dialogs.messages().first().text.contains(path));
    }
}
