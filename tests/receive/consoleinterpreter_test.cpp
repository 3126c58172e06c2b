// A device's console output as the terminal shows it: colours, erasing, overwriting and the
// sequences that show nothing, the same wherever the port cut the stream.

#include "core/colors.h"
#include "receive/consoleinterpreter.h"
#include "receive/receivedecoder.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

struct Cell
{
    QChar c;
    RgbColor color;
};

// What a document makes of the runs (TerminalDocument::append): line edits reach only the last
// line's text.
void apply(QList<Cell> &cells, const TextRun &run)
{
    if (!run.editsLine()) {
        QString text = run.text;
        text.replace(u"\r\n"_s, u"\n"_s); // one line break, as the document stores it
        for (QChar c : std::as_const(text)) {
            cells.append({c, run.color});
        }
        return;
    }
    EXPECT_FALSE(run.text.contains(u'\r') || run.text.contains(u'\n')) << "a redraw breaks no line";
    qsizetype lineStart = cells.size();
    while (lineStart > 0 && cells[lineStart - 1].c != u'\n') {
        --lineStart;
    }
    const qsizetype from = cells.size() - std::min(run.back, cells.size() - lineStart);
    const qsizetype replaced
            = run.cut ? cells.size() - from : std::min(cells.size() - from, run.text.size());
    cells.remove(from, replaced);
    for (qsizetype i = 0; i < run.text.size(); ++i) {
        cells.insert(from + i, {run.text[i], run.color});
    }
}

// The cells as text, each change of colour marked <r> for the received colour or <n> for
// palette entry n.
QString render(const QList<Cell> &cells)
{
    QString out;
    RgbColor shown = TerminalColors::Received;
    for (const Cell &cell : cells) {
        if (cell.c != u'\n' && cell.color != shown) {
            shown = cell.color;
            const auto index = std::find(TerminalColors::Console.begin(),
                                         TerminalColors::Console.end(), shown);
            out += index == TerminalColors::Console.end()
                           ? u"<r>"_s
                           : u"<%1>"_s.arg(index - TerminalColors::Console.begin());
        }
        out += cell.c;
    }
    return out;
}

QString shown(const QByteArray &stream, const std::vector<qsizetype> &cuts)
{
    ReceiveDecoder decoder(false);
    ConsoleInterpreter console;
    QList<Cell> cells;
    qsizetype from = 0;
    std::vector<qsizetype> ends = cuts;
    ends.push_back(stream.size());
    for (const qsizetype end : ends) {
        TextRuns runs;
        console.feed(decoder.decode(QByteArrayView(stream).sliced(from, end - from)), runs);
        for (const TextRun &run : runs) {
            apply(cells, run);
        }
        from = end;
    }
    return render(cells);
}

double luminance(RgbColor c)
{
    const auto channel = [](int value) {
        const double v = value / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(rgbRed(c)) + 0.7152 * channel(rgbGreen(c))
           + 0.0722 * channel(rgbBlue(c));
}

double contrast(RgbColor a, RgbColor b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

TEST(ConsoleInterpreter, ShowsWhatATerminalShowsAtEverySplit)
{
    struct Case
    {
        QByteArray stream;
        QString expected;
        const char *guards;
    };
    const Case cases[] = {
            {"AT\r\nOK\nend", u"AT\nOK\nend"_s, "CR LF and a lone LF end the line"},
            {"ab\r\r\ncd\r", u"ab\ncd"_s, "CR before CR LF; a CR at the end waits"},
            {"\x1b[1;32mroot@guest\x1b[0m:/root# \x1b[6n", u"<10>root@guest<r>:/root# "_s,
             "a coloured prompt, its cursor query consumed"},
            {"\x1b[1;34mbin\x1b[m  \x1b[01;36mlib\x1b[0m\r\n", u"<12>bin  <14>lib\n"_s,
             "ls --color, the short reset too; blanks go with the colour before them"},
            {"\x1b[31mA\x1b[1mB\x1b[22mC\x1b[39mD\x1b[95mE\x1b[0m", u"<1>A<9>B<1>C<r>D<13>E"_s,
             "bold as bright, back to normal, default, bright forms"},
            {"\x1b[38;5;196mR\x1b[38;2;0;0;255mB\x1b[38:5:2mG\x1b[48;5;1;33mY",
             u"<9>R<4>B<2>G<3>Y"_s,
             "256 colours, 24-bit, colon form; a background's numbers are not colours"},
            {"abc\b\bX\r\n", u"aXc\n"_s, "backspace: the next character overwrites"},
            {"10%\r50%\r100%\r\n", u"100%\n"_s, "a progress line redrawn by lone CRs"},
            {"Hit any key to stop autoboot:  3 \b\b\b 2 \b\b\b 1 \b\b\b 0 \n",
             u"Hit any key to stop autoboot:  0 \n"_s, "U-Boot's countdown"},
            {"abcdef\rX\nY", u"Xbcdef\nY"_s, "a line feed ends the line behind its text"},
            {"ab\rxyz", u"xyz"_s, "overwriting goes on past the old end"},
            {"\b\ba\n\bb\r\r\n", u"a\nb\n"_s, "neither backspace nor CR leaves the line"},
            {"abcdef\r\x1b[Kxy", u"xy"_s, "erase to the end of the line"},
            {"abcdef\b\b\x1b[1Kz", u"    zf"_s, "erase to the write position, inclusive"},
            {"abcdef\b\b\x1b[2Kz", u"    z"_s, "erase the line, the write position stays"},
            {"a\x1b[31m\x1b[2J\x1b[H\x1b[?25l\x1b[3;4Hb\x1b(B\x1b"
             "7c\x1b[0m",
             u"a<1>bc"_s, "cursor moves, clearing, modes and charset selections show nothing"},
            {"\x1b]0;root@guest: ~\x07ok\x1b]8;;http://x\x1b\\link", u"oklink"_s,
             "OSC ended by BEL or ST"},
            {"\x1b]0;never ended\r\nnext", u"\nnext"_s, "an OSC that never ends stops at a line"},
            {QByteArray("a\0b\x07"
                        "c\x01\x0e\x1f"
                        "d\te",
                        11),
             u"abcd\te"_s, "NUL, BEL and C0 show nothing"},
            {"\x1b[31\x18x\x1b\xd6\xd0", u"x中"_s, "CAN cancels; ESC before a character"},
            {"\x1b[\r\n31mx", u"\n<1>x"_s, "a line break inside a CSI breaks the line there"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        EXPECT_EQ(shown(c.stream, {}), c.expected);
        std::vector<qsizetype> every;
        for (qsizetype cut = 0; cut <= c.stream.size(); ++cut) {
            every.push_back(cut);
            EXPECT_EQ(shown(c.stream, {cut}), c.expected) << "cut at " << cut;
        }
        EXPECT_EQ(shown(c.stream, every), c.expected) << "one byte at a time";
    }
}

TEST(ConsoleInterpreter, PaletteIsLegibleAndApartFromTheProgramsColours)
{
    using namespace TerminalColors;
    for (std::size_t i = 0; i < Console.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(contrast(Console[i], BoxBackground), 3.0);
        for (const RgbColor own : {Received, Typed, Count, Notice}) {
            EXPECT_NE(Console[i], own);
        }
        for (std::size_t j = 0; j < i; ++j) {
            EXPECT_NE(Console[i], Console[j]);
        }
    }
}
