#include "receive/lineowner.h"

#include "core/programstate.h"
#include "receive/capturefile.h"
#include "support/fakecommport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// Takes a fixed number of bytes from the front of each chunk, as a transfer takes its protocol.
class CountingTaker : public LineTaker
{
public:
    explicit CountingTaker(qsizetype take)
        : m_take(take)
    {}
    qsizetype takeFromLine(QByteArrayView bytes) override
    {
        const qsizetype taken = std::min(m_take, bytes.size());
        got += bytes.first(taken).toByteArray();
        return taken;
    }
    QByteArray got;

private:
    qsizetype m_take;
};

// Every chunk reaches the capture whole and then exactly one reader: the claimant takes its
// share, the terminal the rest, and after the release the terminal everything.
TEST(LineOwnerTest, EachByteGoesToTheCaptureAndToExactlyOneReader)
{
    int argc = 1;
    char name[] = "lineowner_test";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"capture.bin"_s);

    FakeCommPort port;
    ProgramState state;
    CaptureFile capture;
    ASSERT_TRUE(capture.open(path).ok());
    state.setChecked(Switches::Capture, true);
    LineOwner line(port, state, capture);
    QByteArray terminal;
    QObject::connect(&line, &LineOwner::forTerminal,
                     [&terminal](const QByteArray &bytes) { terminal += bytes; });

    struct Case
    {
        qsizetype take; // -1: nobody has claimed the line
        QByteArray chunk;
        QByteArray claimed;
        QByteArray shown;
    };
    const Case cases[] = {
            {-1, "plain", "", "plain"},
            {3, "\x06\x15rest", "\x06\x15r", "est"},
            {100, "all of it", "all of it", ""},
            {0, "none", "", "none"},
    };
    QByteArray everything;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.chunk.toStdString());
        terminal.clear();
        CountingTaker taker(std::max<qsizetype>(c.take, 0));
        if (c.take >= 0)
            line.claim(&taker);
        port.inject(c.chunk);
        line.release(&taker);
        everything += c.chunk;
        EXPECT_EQ(taker.got, c.claimed);
        EXPECT_EQ(terminal, c.shown);
    }
    // A release by someone who no longer holds the line leaves the holder in place.
    CountingTaker holder(1), other(1);
    line.claim(&holder);
    line.release(&other);
    EXPECT_EQ(line.taker(), &holder);
    line.release(&holder);

    capture.close();
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), everything);
}

} // namespace
