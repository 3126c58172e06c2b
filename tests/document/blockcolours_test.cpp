// The colours the terminal keeps beside its text: after any mix of arrivals, redraws, typing,
// removals and trimming, every character reads back, is drawn and is saved in the colour it was
// written in. A plain list of coloured characters, edited the same way, says what that colour is.

#include "document/blockcolours.h"
#include "document/terminaldocument.h"
#include "document/terminalparagraphs.h"
#include "rtf/rtfwriter.h"
#include "support/textrunprinters.h"

#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <vector>

using namespace Qt::StringLiterals;

namespace {

const QRgb Colours[] = {qRgb(255, 0, 0), qRgb(0, 192, 0), qRgb(192, 192, 0), qRgb(0, 0, 255)};

struct Cell
{
    QChar c;
    QRgb colour;
    bool received;

    friend bool operator==(const Cell &, const Cell &) = default;
};
using Cells = std::vector<Cell>;

void PrintTo(const Cell &cell, std::ostream *os)
{
    *os << "{U+" << std::hex << unsigned(cell.c.unicode()) << " #" << cell.colour << std::dec
        << (cell.received ? " received}" : "}");
}

// Text as the document reads it back: every kind of line end one '\n'.
Cells cellsOf(QStringView text, QRgb colour, bool received)
{
    Cells cells;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text[i];
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            ++i;
        }
        if (c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
            c = u'\n';
        } else if (c.unicode() == 0xFDD0 || c.unicode() == 0xFDD1) {
            c = QChar(0xFFFD);
        }
        cells.push_back({c, colour, received});
    }
    return cells;
}

Cells cellsOf(const TextRuns &runs)
{
    Cells cells;
    for (const TextRun &run : runs) {
        for (const QChar c : run.text) {
            cells.push_back({c, run.color, run.received});
        }
    }
    return cells;
}

class BlockColoursTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "velmir-test";
        static char *argv[] = {name, nullptr};
        if (!QGuiApplication::instance()) {
            new QGuiApplication(argc, argv);
        }
    }

    QRgb colour() { return Colours[m_random.bounded(4)]; }

    // Mostly short words, now and then a line end of some kind or a line longer than a
    // paragraph holds.
    QString text(bool breaks)
    {
        static const QString ends[] = {u"\r\n"_s, u"\n"_s, u"\r"_s, u"\u2028"_s, u"\u2029"_s};
        QString result;
        const int pieces = 1 + int(m_random.bounded(4));
        for (int i = 0; i < pieces; ++i) {
            const quint32 kind = m_random.bounded(20);
            if (breaks && kind < 4) {
                result += ends[m_random.bounded(5)];
            } else if (kind == 4) {
                result += QString(1500 + int(m_random.bounded(1500)), QChar(u'a' + i));
            } else if (kind == 5) {
                result += QChar(0xFDD0);
            } else {
                result += QString(1 + int(m_random.bounded(7)), QChar(u'k' + kind));
            }
        }
        return result;
    }

    void arrive()
    {
        TextRuns runs;
        const int count = 1 + int(m_random.bounded(6));
        for (int i = 0; i < count; ++i) {
            // A CR that ends one run and an LF that starts the next are two breaks.
            runs.append({text(true), colour(), m_random.bounded(6) != 0});
            const Cells cells = cellsOf(runs.last().text, runs.last().color, runs.last().received);
            m_model.insert(m_model.end(), cells.begin(), cells.end());
        }
        if (m_random.bounded(3) == 0) {
            // The arrival ends in a redraw of the line's received end.
            TextRun redraw{text(false), colour(), true, 1 + qsizetype(m_random.bounded(40)),
                           m_random.bounded(4) == 0};
            if (redraw.cut) {
                redraw.text.clear();
            }
            runs.append(redraw);
            m_redraw = redraw;
        }
        m_doc.append(runs);
        applyRedraw();
    }

    void applyRedraw()
    {
        if (!m_redraw) {
            return;
        }
        const TextRun run = *std::exchange(m_redraw, std::nullopt);
        qsizetype found = 0;
        while (found < run.back && found < qsizetype(m_model.size())) {
            const Cell &cell = m_model[m_model.size() - 1 - found];
            if (!cell.received || cell.c == u'\n') {
                break;
            }
            ++found;
        }
        const auto from = m_model.end() - found;
        const Cells cells = cellsOf(run.text, run.color, true);
        const qsizetype replaced = run.cut ? found : std::min(found, qsizetype(cells.size()));
        const auto at = m_model.erase(from, from + replaced);
        m_model.insert(at, cells.begin(), cells.end());
    }

    QTextCursor select(qsizetype from, qsizetype to)
    {
        QTextCursor cursor(m_doc.textDocument());
        cursor.setPosition(m_doc.toDocumentPosition(from));
        cursor.setPosition(m_doc.toDocumentPosition(to), QTextCursor::KeepAnchor);
        return cursor;
    }

    void type()
    {
        const qsizetype length = qsizetype(m_model.size());
        const qsizetype from = m_random.bounded(length + 1);
        const qsizetype to = std::min(length, from + qsizetype(m_random.bounded(3)));
        QTextCursor cursor = select(from, to);
        const QString typed = text(m_random.bounded(2) == 0);
        const QRgb c = colour();
        m_doc.insert(cursor, typed, TerminalParagraphs::runFormat(c, false));
        const Cells cells = cellsOf(typed, c, false);
        const auto at = m_model.erase(m_model.begin() + from, m_model.begin() + to);
        m_model.insert(at, cells.begin(), cells.end());
    }

    void remove()
    {
        const qsizetype length = qsizetype(m_model.size());
        const qsizetype from = m_random.bounded(length + 1);
        const qsizetype to = std::min(length, from + qsizetype(m_random.bounded(3000)));
        QTextCursor cursor = select(from, to);
        m_doc.removeSelection(cursor);
        m_model.erase(m_model.begin() + from, m_model.begin() + to);
    }

    // Trimming drops the oldest text; what stays is the end of what was there.
    void followTrim()
    {
        const qsizetype held = m_doc.textLength();
        ASSERT_LE(held, qsizetype(m_model.size()));
        m_model.erase(m_model.begin(), m_model.end() - held);
    }

    // The colours the layouts draw, character by character, beside what runs() reads.
    void expectDrawnAsRead()
    {
        const Cells read = cellsOf(m_doc.runs());
        const QTextDocument &doc = *m_doc.textDocument();
        size_t at = 0;
        for (QTextBlock block = doc.firstBlock(); block.isValid(); block = block.next()) {
            if (block != doc.firstBlock() && !TerminalParagraphs::isContinuation(block)) {
                ++at; // the line break between two paragraphs
            }
            BlockColours::showColours(block);
            const QList<QTextLayout::FormatRange> formats = block.layout()->formats();
            const QString text = block.text();
            for (int offset = 0; offset < text.size(); ++offset, ++at) {
                ASSERT_LT(at, read.size());
                // A character no range covers is drawn in its own format's colour.
                QTextCursor own(block);
                own.setPosition(block.position() + offset + 1);
                QRgb drawn = own.charFormat().foreground().color().rgb();
                for (const QTextLayout::FormatRange &range : formats) {
                    if (offset >= range.start && offset < range.start + range.length) {
                        drawn = range.format.foreground().color().rgb();
                    }
                }
                ASSERT_EQ(drawn, read[at].colour)
                        << "paragraph " << block.blockNumber() << " offset " << offset;
            }
        }
        EXPECT_EQ(at, read.size());
    }

    void run(quint32 seed, qsizetype bound, int steps)
    {
        m_random.seed(seed);
        m_doc.setMaxCharacters(bound);
        for (int step = 0; step < steps; ++step) {
            const quint32 what = m_random.bounded(10);
            if (what < 6) {
                arrive();
            } else if (what < 8) {
                type();
            } else {
                remove();
            }
            followTrim();
            ASSERT_EQ(cellsOf(m_doc.runs()), m_model) << "seed " << seed << " step " << step;
        }
        expectDrawnAsRead();
        // Shown again after the layouts of all but the last few gave their formats back.
        expectDrawnAsRead();
        // A save walks the text piece by piece and writes what the runs would have.
        EXPECT_EQ(writeRtf([this](const RunVisitor &visit) { m_doc.visitRuns(visit); }),
                  writeRtf(m_doc.runs()));
    }

    QRandomGenerator m_random;
    TerminalDocument m_doc;
    Cells m_model;
    std::optional<TextRun> m_redraw;
};

TEST_F(BlockColoursTest, EditsKeepEveryCharacterInItsColour)
{
    for (const quint32 seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        m_doc.clear();
        m_model.clear();
        run(seed, 0, 300);
    }
}

TEST_F(BlockColoursTest, TrimmingKeepsTheColoursOfWhatStays)
{
    run(4, 6000, 600);
}

// More colours than the runs have room for keep their own: none reads back as another.
TEST_F(BlockColoursTest, ColoursPastThePaletteReadBackExactly)
{
    TextRuns runs;
    for (int i = 0; i < 600; ++i) {
        runs.append({QString(1 + i % 3, QChar(u'a' + i % 26)) + (i % 7 == 0 ? u"\n"_s : u""_s),
                     qRgb(i % 256, i / 256, 77), i % 5 != 0});
    }
    m_doc.append(runs);
    QTextCursor cursor = select(10, 10);
    m_doc.insert(cursor, u"typed"_s, TerminalParagraphs::runFormat(qRgb(1, 2, 3), false));
    m_doc.removeSelection(cursor = select(40, 50));
    Cells expected;
    for (const TextRun &run : runs) {
        const Cells cells = cellsOf(run.text, run.color, run.received);
        expected.insert(expected.end(), cells.begin(), cells.end());
    }
    const Cells typed = cellsOf(u"typed", qRgb(1, 2, 3), false);
    expected.insert(expected.begin() + 10, typed.begin(), typed.end());
    expected.erase(expected.begin() + 40, expected.begin() + 50);
    EXPECT_EQ(cellsOf(m_doc.runs()), expected);
    expectDrawnAsRead();
}

} // namespace
