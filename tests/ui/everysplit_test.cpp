// Every byte value, cut into chunks every way, through the real window's receive path: the
// capture file holds exactly the bytes that came, in text and in hex mode, the hex dump shows
// each chunk, and the text shown does not depend on where the line cut the stream. The port is
// the scripted one, so that each chunk arrives exactly as cut.

#include "app/mainwindow.h"
#include "app/menus.h"
#include "widgets/terminalbox.h"
#include "support/testbytes.h"
#include "support/fakecommport.h"
#include "support/memorysettingsstore.h"
#include "support/scripteddialogs.h"
#include "support/testapp.h"
#include "receive/hextext.h"
#include "widgets/terminalwindow.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// The dump lines of the chunks as a terminal shows them, one insertion each.
QString shownDump(const QByteArray &stream, const std::vector<qsizetype> &cuts)
{
    TerminalBox reference;
    qsizetype at = 0;
    for (qsizetype cut : cuts) {
        reference.insertText(hexDumpLine(stream.sliced(at, cut - at)));
        at = cut;
    }
    reference.insertText(hexDumpLine(stream.sliced(at)));
    return reference.text();
}

class EverySplitTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureApp();
        ASSERT_TRUE(m_dir.isValid());
        m_window = std::make_unique<MainWindow>(m_port, m_store, m_dialogs);
        m_window->start();
        m_window->runCommand(Menus::OpenPort);
        ASSERT_TRUE(m_port.portOpen());
    }

    TerminalBox &box() { return m_window->terminal().box(); }

    void setHexMode(bool on)
    {
        if (m_window->menus().checked(Menus::HexMode) != on)
            m_window->runCommand(Menus::HexMode);
    }

    // A clean terminal and a capture file started afresh.
    void restart()
    {
        if (m_window->menus().checked(Menus::Capture))
            m_window->runCommand(Menus::Capture);
        m_dialogs.answerSave(capturePath());
        m_window->runCommand(Menus::Capture);
        m_window->clearOrStop();
    }

    // The stream in chunks ending at the given cuts (ascending, inside the stream).
    void receive(const QByteArray &stream, const std::vector<qsizetype> &cuts)
    {
        qsizetype at = 0;
        for (qsizetype cut : cuts) {
            m_port.inject(stream.mid(at, cut - at));
            at = cut;
        }
        m_port.inject(stream.mid(at));
    }

    QString capturePath() const { return m_dir.filePath(u"capture.bin"_s); }

    QByteArray captured() const
    {
        QFile file(capturePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
    FakeCommPort m_port;
    MemorySettingsStore m_store;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<MainWindow> m_window;
};

TEST_F(EverySplitTest, AllByteValuesCutInTwoAtEveryPlace)
{
    const QByteArray all = everyByteValue();
    for (const bool hex : {false, true}) {
        SCOPED_TRACE(hex ? "hex mode" : "text mode");
        setHexMode(hex);
        restart();
        receive(all, {});
        const QString whole = box().text();
        ASSERT_EQ(captured(), all);

        int wrongCapture = 0;
        int wrongText = 0;
        for (qsizetype cut = 0; cut <= all.size(); ++cut) {
            restart();
            receive(all, {cut});
            wrongCapture += captured() != all;
            // A chunk is one dump line in hex mode; in text mode the cut must not show.
            const QString expected = hex ? shownDump(all, {cut}) : whole;
            if (box().text() != expected) {
                ++wrongText;
                ADD_FAILURE() << "cut at " << cut;
            }
        }
        EXPECT_EQ(wrongCapture, 0);
        EXPECT_EQ(wrongText, 0);
        EXPECT_TRUE(m_dialogs.messages().isEmpty());
    }
}

TEST_F(EverySplitTest, RandomStreamsCutIntoManyChunks)
{
    // Weighted towards the bytes that carry state across a cut: lead and trail bytes, CR, LF.
    const int awkward[] = {0x0D, 0x0A, 0x81, 0xB0, 0xA1, 0xFE, 0x40, 0x7F, 0x80, 0xFF, 0x00};
    std::mt19937 random(232);
    for (int round = 0; round < 200; ++round) {
        QByteArray stream;
        const int length = 1 + int(random() % 600);
        for (int i = 0; i < length; ++i) {
            stream.append(random() % 2 ? char(awkward[random() % std::size(awkward)])
                                       : char(random() % 256));
        }
        // Ends on a line break, so that no half character waits into the next round.
        stream.append("\r\n");
        std::vector<qsizetype> cuts(random() % 50);
        for (qsizetype &cut : cuts)
            cut = qsizetype(random() % (stream.size() + 1));
        std::sort(cuts.begin(), cuts.end());
        const bool hex = round % 2;
        SCOPED_TRACE(round);
        setHexMode(hex);

        restart();
        receive(stream, {});
        const QString whole = box().text();
        restart();
        receive(stream, cuts);
        ASSERT_EQ(captured(), stream) << stream.toHex(' ').toStdString();
        if (!hex) {
            ASSERT_EQ(box().text(), whole) << stream.toHex(' ').toStdString();
        } else {
            ASSERT_EQ(box().text(), shownDump(stream, cuts));
        }
    }
    EXPECT_TRUE(m_dialogs.messages().isEmpty());
}

} // namespace
