#pragma once

#include <QRgb>
#include <QString>
#include <QStringView>
#include <QTextBlock>
#include <QTextCharFormat>

#include <vector>

class QTextCursor;

// The colours of the terminal's text, kept beside it rather than in its character formats.
//
// QTextDocument keeps one fragment, some forty bytes and a tree node, for every change of
// format; a device that changes colour at every character would cost twenty times its text and
// make every trim walk millions of nodes. So the document stores text with its received mark
// only, and each paragraph carries its colours as runs in its user data: where a colour starts,
// counted from the paragraph's start, up to the next run or the paragraph's end. The runs cover
// the paragraph's break too (the last character of the paragraph), which is where a line break
// keeps its colour. A view applies the runs as the layout's additional formats when it shows a
// paragraph (showColours), as a syntax highlighter would.
//
// Every edit of a paragraph's text goes through the functions here, which move its runs along.
// A character whose own format carries a foreground (text written by something else) keeps
// that colour; the runs say NoColour for it.
namespace BlockColours {

// A colour as the runs keep it: its place in a palette of the colours the terminal has used
// (paletteColour), so that a run takes four bytes, a colour change a character costing twice
// what the character does rather than four times. NoColour marks characters that take their
// colour from their own format, which is where a colour goes once the palette is full.
using ColourIndex = quint8;
constexpr ColourIndex NoColour = 0;
QRgb paletteColour(ColourIndex colour);

struct Run
{
    int start : 24; // paragraphs hold a few thousand characters
    unsigned colour : 8;

    friend bool operator==(const Run &, const Run &) = default;
};
using Runs = std::vector<Run>;

// Adds a run that starts at or after the last one, joining neighbours of one colour.
void addRun(Runs &runs, int start, ColourIndex colour);

// What the document stores for a format (the format without its foreground), and the colour
// the runs keep for it, as QTextCharFormat::foreground() would read it.
struct Format
{
    QTextCharFormat stored;
    ColourIndex colour = NoColour;
};
Format split(const QTextCharFormat &format);

// The colours of a text about to go in: one colour, or runs over its characters.
class Colouring
{
public:
    explicit Colouring(ColourIndex colour)
        : m_colour(colour)
    {}
    explicit Colouring(const Runs &runs)
        : m_runs(&runs)
    {}

    ColourIndex at(qsizetype offset) const;
    // The runs over [from, to), counted from `from`.
    Runs slice(qsizetype from, qsizetype to) const;
    // The same for text[from, to) as the document stores it: a CR LF is one paragraph break.
    Runs sliceAsStored(QStringView text, qsizetype from, qsizetype to) const;

private:
    ColourIndex m_colour = NoColour;
    const Runs *m_runs = nullptr;
};

// The paragraph's runs; none for a paragraph that never had any.
const Runs *runsOf(const QTextBlock &block);
// Colour of the character `offset` characters into the paragraph: its format's foreground when
// it has one, else its run's colour, else what its format reads as.
QRgb colourAt(const QTextBlock &block, int offset, const QTextCharFormat &format);

// Insert at the cursor, which holds no selection, and move the runs along. insertText takes text
// without line breaks; insertLines any text, whose line breaks the document makes paragraph
// breaks of its own.
void insertText(QTextCursor &cursor, QStringView text, const Format &format);
// Text in several colours, each of `pieces` from its start (counted from the text's, as the
// document stores it) to the next's, the first starting at 0.
void insertText(QTextCursor &cursor, QStringView text, const QTextCharFormat &stored,
                const Runs &pieces);
void insertLines(QTextCursor &cursor, const QString &text, const QTextCharFormat &stored,
                 const Runs &pieces);
// A paragraph break at the cursor, as QTextCursor::insertBlock with the cursor's block format.
void insertBlock(QTextCursor &cursor, const Format &format);
// Removes the cursor's selection and joins the runs of what stays around it.
void removeSelectedText(QTextCursor &cursor);

// Puts the paragraph's runs into its layout as additional formats, unless they are there
// already. Call before the layout is drawn.
void showColours(const QTextBlock &block);

} // namespace BlockColours
