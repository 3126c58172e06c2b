// The terminal's text without a view: reading back across the seams of long lines, line breaks,
// colours and the received mark, editing at a cursor, appending at the end, the character bound
// and the typed part of the last line. No widget exists here and nothing lays the text out.

#include "document/terminaldocument.h"
#include "document/terminalparagraphs.h"
#include "support/longline.h"
#include "support/textrunprinters.h"

#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

constexpr QRgb Red = qRgb(255, 0, 0);
constexpr QRgb Yellow = qRgb(192, 192, 0);
constexpr QRgb Teal = qRgb(0, 192, 192);

class TerminalDocumentTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Text formats and fonts want a GUI application; no window is ever made.
        static int argc = 1;
        static char name[] = "velmir-test";
        static char *argv[] = {name, nullptr};
        if (!QGuiApplication::instance()) {
            new QGuiApplication(argc, argv);
        }
    }

    // Writes at the cursor, as the box does at its caret.
    void write(QTextCursor &cursor, const QString &text, QRgb color = Teal, bool received = false)
    {
        m_doc.insert(cursor, text, TerminalParagraphs::runFormat(color, received));
    }
    void write(const QString &text, QRgb color = Teal, bool received = false)
    {
        QTextCursor cursor = at(m_doc.textLength());
        write(cursor, text, color, received);
    }
    void receive(const QString &text) { m_doc.append({{text, Yellow, true}}); }

    // A cursor at a text position, or selecting between two.
    QTextCursor at(qsizetype position) { return select(position, position); }
    QTextCursor select(qsizetype from, qsizetype to)
    {
        QTextCursor cursor(m_doc.textDocument());
        cursor.setPosition(m_doc.toDocumentPosition(from));
        cursor.setPosition(m_doc.toDocumentPosition(to), QTextCursor::KeepAnchor);
        return cursor;
    }
    qsizetype textPosition(const QTextCursor &cursor)
    {
        return m_doc.toTextPosition(cursor.position());
    }

    // The text with each CR LF as one '\n', so that indexes are text positions.
    QString chars() const
    {
        QString text = m_doc.text();
        text.replace(u"\r\n"_s, u"\n"_s);
        return text;
    }

    TerminalDocument m_doc;
};

TEST_F(TerminalDocumentTest, LongLineWithoutBreakReadsBackAsOneLine)
{
    const QString line = longLine(10000);
    // Uneven chunks, as the port delivers them.
    QTextCursor cursor = at(0);
    for (qsizetype at = 0, size = 7; at < line.size(); at += size, size = size * 3 + 1) {
        write(cursor, line.mid(at, size));
    }
    EXPECT_EQ(m_doc.text(), line);
    EXPECT_EQ(m_doc.textLength(), 10000);
    EXPECT_EQ(m_doc.lastLine(), line);
    EXPECT_GT(m_doc.textDocument()->blockCount(), 4) << "the line is not kept in short paragraphs";
    for (qsizetype i = 0; i < line.size(); ++i) {
        ASSERT_EQ(m_doc.charAt(i), line[i]) << "position " << i;
    }
    EXPECT_EQ(m_doc.charAt(10000), QChar());
    EXPECT_EQ(textPosition(cursor), 10000);

    write(cursor, u"\r\nnext"_s);
    EXPECT_EQ(m_doc.text(), line + u"\r\nnext"_s);
    EXPECT_EQ(m_doc.textLength(), 10005);
    EXPECT_EQ(m_doc.lastLine(), u"next"_s);
    EXPECT_EQ(m_doc.charAt(10000), u'\n');
    EXPECT_EQ(m_doc.charAt(10001), u'n');

    for (const qsizetype position : {0, 1, 1023, 1024, 1025, 2048, 5000, 9999, 10000, 10005}) {
        SCOPED_TRACE(position);
        EXPECT_EQ(textPosition(at(position)), position);
    }
}

TEST_F(TerminalDocumentTest, EachKindOfLineEndMakesOneBreak)
{
    struct Row
    {
        const char *what;
        QString inserted;
        QString text;
        qsizetype length;
        QString lastLine;
    };
    const Row rows[] = {
            {"CR LF", u"a\r\nb"_s, u"a\r\nb"_s, 3, u"b"_s},
            {"lone CR", u"a\rb"_s, u"a\r\nb"_s, 3, u"b"_s},
            {"lone LF", u"a\nb"_s, u"a\r\nb"_s, 3, u"b"_s},
            {"CR then CR LF", u"a\r\r\nb"_s, u"a\r\n\r\nb"_s, 4, u"b"_s},
            {"LF CR is two breaks", u"a\n\rb"_s, u"a\r\n\r\nb"_s, 4, u"b"_s},
            {"break at the start", u"\r\nb"_s, u"\r\nb"_s, 2, u"b"_s},
            {"trailing CR", u"a\r"_s, u"a\r\n"_s, 2, u""_s},
            {"paragraph separator", u"a\u2029b"_s, u"a\r\nb"_s, 3, u"b"_s},
            {"line separator", u"a\u2028b"_s, u"a\r\nb"_s, 3, u"b"_s},
            {"lines with every kind of end", u"a\r\nb\rc\nd\u2028e\u2029f\r\ng"_s,
             u"a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng"_s, 13, u"g"_s},
            {"frame marker kept as a character", u"a\uFDD0b"_s, u"a\uFFFDb"_s, 3, u"a\uFFFDb"_s},
            {"empty", u""_s, u""_s, 0, u""_s},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        m_doc.clear();
        write(row.inserted);
        EXPECT_EQ(m_doc.text(), row.text);
        EXPECT_EQ(m_doc.textLength(), row.length);
        EXPECT_EQ(m_doc.lastLine(), row.lastLine);
        EXPECT_EQ(m_doc.lastTypedLine(), row.lastLine);
        // The same text received, where complete lines may share a paragraph.
        m_doc.clear();
        receive(row.inserted);
        EXPECT_EQ(m_doc.text(), row.text);
        EXPECT_EQ(m_doc.textLength(), row.length);
        EXPECT_EQ(m_doc.lastLine(), row.lastLine);
        EXPECT_EQ(m_doc.lastTypedLine(), u""_s);
    }
}

TEST_F(TerminalDocumentTest, InsertInTheMiddleReplacesTheSelection)
{
    write(u"hello world\r\n"_s);
    QTextCursor cursor = select(6, 11);
    write(cursor, u"there\r\nX"_s);
    EXPECT_EQ(m_doc.text(), u"hello there\r\nX\r\n"_s);
    EXPECT_EQ(textPosition(cursor), 13) << "the cursor stays behind the inserted text";
}

// Inserts and deletions anywhere, long lines included, against a plain string.
TEST_F(TerminalDocumentTest, RandomEditsMatchAPlainString)
{
    QRandomGenerator random(20240607);
    QString model;
    const auto randomText = [&random] {
        QString text;
        const int pieces = random.bounded(1, 4);
        for (int p = 0; p < pieces; ++p) {
            switch (random.bounded(4)) {
            case 0:
                text += longLine(random.bounded(1, 3000), u'A');
                break;
            case 1:
                text += u"\r\n"_s;
                break;
            case 2:
                text += u"\n"_s;
                break;
            default:
                text += longLine(random.bounded(1, 40), u'a');
                break;
            }
        }
        return text;
    };
    for (int step = 0; step < 300; ++step) {
        SCOPED_TRACE(step);
        const qsizetype a = random.bounded(int(model.size()) + 1);
        if (random.bounded(3) == 0 && !model.isEmpty()) {
            const qsizetype b = std::min<qsizetype>(model.size(), a + random.bounded(1, 2500));
            QTextCursor cursor = select(a, b);
            write(cursor, QString());
            model.remove(a, b - a);
            ASSERT_EQ(textPosition(cursor), a);
        } else if (random.bounded(3) == 0) {
            // Received lines, which may come many to a chunk and then share paragraphs.
            QString text;
            for (int line = random.bounded(1, 30); line > 0; --line) {
                text += longLine(random.bounded(0, 90), u'a')
                        + (random.bounded(2) ? u"\r\n"_s : u"\n"_s);
            }
            text += longLine(random.bounded(0, 5), u'A');
            receive(text);
            text.replace(u"\r\n"_s, u"\n"_s);
            model += text;
        } else {
            const QString text = randomText();
            QTextCursor cursor = at(a);
            write(cursor, text);
            QString plain = text;
            plain.replace(u"\r\n"_s, u"\n"_s);
            model.insert(a, plain);
            ASSERT_EQ(textPosition(cursor), a + plain.size());
        }
        ASSERT_EQ(m_doc.textLength(), model.size());
        ASSERT_EQ(chars(), model);
        QString fromRuns;
        for (const TextRun &run : m_doc.runs()) {
            fromRuns += run.text;
        }
        ASSERT_EQ(fromRuns, model);
        ASSERT_EQ(m_doc.lastLine(), model.sliced(model.lastIndexOf(u'\n') + 1));
        for (int probe = 0; probe < 20 && !model.isEmpty(); ++probe) {
            const qsizetype at = random.bounded(int(model.size()));
            ASSERT_EQ(m_doc.charAt(at), model[at]) << "position " << at;
        }
    }
}

TEST_F(TerminalDocumentTest, RunsCarryColourAndReceivedMarkAndRoundTrip)
{
    write(u"a"_s, Red);
    write(u"b"_s, Red);
    receive(u"cd\r\n"_s);
    receive(longLine(3000));
    write(u"ef"_s, Red);

    const TextRuns expected = {
            {u"ab"_s, Red, false},
            {u"cd\n"_s + longLine(3000), Yellow, true},
            {u"ef"_s, Red, false},
    };
    EXPECT_EQ(m_doc.runs(), expected);

    TerminalDocument loaded;
    loaded.setRuns(expected);
    EXPECT_EQ(loaded.runs(), expected);
    EXPECT_EQ(loaded.text(), m_doc.text());
    EXPECT_EQ(loaded.textLength(), m_doc.textLength());
    EXPECT_EQ(loaded.lastTypedLine(), u"ef"_s);

    // Loading replaces what was there.
    loaded.setRuns({{u"new"_s, Teal, false}});
    EXPECT_EQ(loaded.text(), u"new"_s);
}

// Backspace and Delete beside a seam act on the character across it, and typing there again
// puts the character back in its place.
TEST_F(TerminalDocumentTest, DeletingAtTheSeamOfALongLineTakesTheCharacterBesideIt)
{
    const QString line = longLine(3000);
    for (const bool before : {true, false}) {
        for (const qsizetype position : {1023, 1024, 1025, 2048, 3000}) {
            SCOPED_TRACE(testing::Message()
                         << (before ? "Backspace at " : "Delete at ") << position);
            m_doc.clear();
            write(line);
            QTextCursor cursor = at(position);
            const qsizetype gone = before ? position - 1 : position;
            if (gone >= line.size()) {
                EXPECT_FALSE(m_doc.deleteBeside(cursor, before)) << "deleted past the end";
                continue;
            }
            ASSERT_TRUE(m_doc.deleteBeside(cursor, before));
            EXPECT_EQ(m_doc.text(), QString(line).remove(gone, 1));
            EXPECT_EQ(textPosition(cursor), gone);
            write(cursor, u"#"_s);
            EXPECT_EQ(m_doc.text(), QString(line).replace(gone, 1, u"#"_s));
        }
    }
}

TEST_F(TerminalDocumentTest, MaxCharactersDropsTheOldestWholeLines)
{
    m_doc.setMaxCharacters(25);
    for (int i = 0; i < 10; ++i) {
        write(u"line%1\r\n"_s.arg(i));
    }
    EXPECT_EQ(m_doc.text(), u"line6\r\nline7\r\nline8\r\nline9\r\n"_s);
    EXPECT_EQ(m_doc.textLength(), 24);

    // A line longer than the limit loses its oldest pieces, never the end.
    m_doc.clear();
    m_doc.setMaxCharacters(3000);
    const QString line = longLine(10000);
    for (qsizetype at = 0; at < line.size(); at += 700) {
        write(line.mid(at, 700));
    }
    EXPECT_LE(m_doc.textLength(), 3000);
    EXPECT_GE(m_doc.textLength(), 2000);
    EXPECT_TRUE(line.endsWith(m_doc.text()));
    EXPECT_EQ(m_doc.textLength(), m_doc.text().size());

    m_doc.setMaxCharacters(0);
    write(line);
    EXPECT_GT(m_doc.textLength(), 10000) << "0 means no limit";

    // Lines that arrive together share a paragraph; every one of them that goes is counted, as
    // a workspace load's message reports them.
    m_doc.clear();
    m_doc.setMaxCharacters(25);
    const qint64 trimmedBefore = m_doc.linesTrimmed();
    receive(u"a0\r\na1\r\na2\r\na3\r\na4\r\na5\r\n"_s);
    receive(u"b0\r\nb1\r\nb2\r\nb3\r\nb4\r\nb5\r\n"_s);
    const qint64 held = m_doc.text().count(u"\r\n"_s);
    EXPECT_LT(held, 12);
    EXPECT_EQ(m_doc.linesTrimmed() - trimmedBefore, 12 - held) << m_doc.text().toStdString();
}

// Arrivals go to the end; the cursor the user holds keeps its characters, and an end of it at
// the old end of the text does not grow over what arrived.
TEST_F(TerminalDocumentTest, AppendWritesAtTheEndAndKeepsTheHeldCursorOnItsCharacters)
{
    write(u"hello world"_s);
    struct Row
    {
        const char *what;
        qsizetype anchor;
        qsizetype position;
    };
    const Row rows[] = {
            {"selection inside", 0, 5},
            {"selection reaching the end", 6, 11},
            {"selection reaching the end, backwards", 11, 6},
            {"caret in the text", 3, 3},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        QTextCursor held = select(row.anchor, row.position);
        const QString selected = held.selectedText();
        const QTextCursor end = m_doc.append({{u"!\r\n"_s + longLine(1500), Yellow, true}}, &held);
        EXPECT_EQ(held.selectedText(), selected);
        EXPECT_EQ(textPosition(held), row.position);
        EXPECT_EQ(end.position(), m_doc.endPosition());
        m_doc.clear();
        write(u"hello world"_s);
    }
}

// The typed line follows edits at the end without walking the line; whatever the edits, it must
// read as the line's own characters do.
TEST_F(TerminalDocumentTest, LastTypedLineIsTheUnreceivedPartOfTheLastLineAfterAnyEdits)
{
    const auto expectedTypedLine = [this] {
        QString typed;
        for (const TextRun &run : m_doc.runs()) {
            const qsizetype lastBreak = run.text.lastIndexOf(u'\n');
            if (lastBreak >= 0) {
                typed.clear();
            }
            if (!run.received) {
                typed += QStringView(run.text).sliced(lastBreak + 1);
            }
        }
        return typed;
    };
    QRandomGenerator random(20241207);
    const auto randomText = [&random](bool breaks) {
        QString text = longLine(random.bounded(0, random.bounded(10) == 0 ? 2500 : 12),
                                char16_t(u'a' + random.bounded(20)));
        if (breaks && random.bounded(3) == 0) {
            text.insert(random.bounded(int(text.size()) + 1),
                        random.bounded(2) ? u"\r\n"_s : u"\u2029"_s);
        }
        if (random.bounded(20) == 0) {
            text += u"\uFDD0"_s;
        }
        return text;
    };
    for (int step = 0; step < 2000; ++step) {
        SCOPED_TRACE(step);
        const qsizetype length = m_doc.textLength();
        const qsizetype a = random.bounded(int(length) + 1);
        const qsizetype b = std::min<qsizetype>(length, a + random.bounded(1, 50));
        switch (random.bounded(12)) {
        case 0:
        case 1:
        case 2:
            receive(randomText(true));
            break;
        case 3:
        case 4:
        case 5:
            write(randomText(random.bounded(3) == 0));
            break;
        case 6:
        case 7: {
            QTextCursor end = at(length);
            m_doc.deleteBeside(end, true);
            break;
        }
        case 8: {
            QTextCursor cursor = at(a);
            m_doc.deleteBeside(cursor, random.bounded(2));
            break;
        }
        case 9: {
            QTextCursor cursor = at(a);
            write(cursor, randomText(true));
            break;
        }
        case 10: {
            // Typing over a selection, or cutting it, as the keys would: never received text.
            // Selections that reach the end mostly start in what was just typed.
            const qsizetype recent = std::max<qsizetype>(0, length - random.bounded(1, 20));
            QTextCursor cursor = random.bounded(2) ? select(random.bounded(4) ? recent : a, length)
                                                   : select(a, b);
            if (!m_doc.holdsProtected(cursor.selectionStart(), cursor.selectionEnd())) {
                write(cursor, random.bounded(2) ? QString() : randomText(false));
            }
            break;
        }
        default:
            switch (random.bounded(4)) {
            case 0:
                m_doc.setMaxCharacters(random.bounded(2) ? 0 : random.bounded(200, 4000));
                break;
            case 1:
                m_doc.setRuns(m_doc.runs());
                break;
            case 2:
                m_doc.clear();
                break;
            default: {
                QTextCursor cursor = at(a);
                m_doc.append({{randomText(true), Red, random.bounded(2) == 0}}, &cursor);
                break;
            }
            }
            break;
        }
        ASSERT_EQ(m_doc.lastTypedLine(), expectedTypedLine());
    }
}

} // namespace

// A device redraws the received text at the end of its line; what the user typed, counts, and
// earlier lines stay whatever the edit asks, and seams of a long line are crossed.
TEST_F(TerminalDocumentTest, RedrawingReachesOnlyTheReceivedEndOfTheLastLine)
{
    const QString longText = longLine(5000);
    struct Row
    {
        const char *what;
        std::vector<std::pair<QString, bool>> before; // text, received
        TextRun edit;
        QString expected;
    };
    const Row rows[] = {
            {"written over", {{u"abcdef"_s, true}}, {u"XY"_s, Red, true, 6}, u"XYcdef"_s},
            {"on past the end", {{u"ab"_s, true}}, {u"XYZ"_s, Red, true, 2}, u"XYZ"_s},
            {"stops at typed text",
             {{u"ab"_s, true}, {u"x"_s, false}, {u"cd"_s, true}},
             {u"Z"_s, Red, true, 4},
             u"abxZd"_s},
            {"stops at a count",
             {{u"abc"_s, true}, {u" : 3 字符 "_s, false}},
             {u"Q"_s, Red, true, 3},
             u"abc : 3 字符 Q"_s},
            {"cut stops at the line's start",
             {{u"one\r\nab"_s, true}},
             {QString(), Red, true, 10, true},
             u"one\r\n"_s},
            {"across the seams of a long line",
             {{longText, true}},
             {u"XYZ"_s, Red, true, 3000},
             longText.first(2000) + u"XYZ"_s + longText.sliced(2003)},
            {"cut across seams",
             {{longText, true}},
             {QString(), Red, true, 2500, true},
             longText.first(2500)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        m_doc.clear();
        for (const auto &[text, received] : row.before) {
            if (received) {
                receive(text);
            } else {
                write(text);
            }
        }
        const QString typed = m_doc.lastTypedLine();
        m_doc.append({row.edit, {u"!"_s, Yellow, true}});
        EXPECT_EQ(m_doc.text(), row.expected + u"!"_s);
        EXPECT_EQ(m_doc.textLength(), chars().size());
        EXPECT_EQ(m_doc.lastTypedLine(), typed);
    }
    m_doc.clear();
    receive(u"abcdef"_s);
    m_doc.append({{u"XY"_s, Red, true, 6}});
    EXPECT_EQ(m_doc.runs(), (TextRuns{{u"XY"_s, Red, true}, {u"cdef"_s, Yellow, true}}));
}
