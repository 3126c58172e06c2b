#pragma once

#include "core/result.h"
#include "core/textrun.h"

#include <QByteArrayView>

#include <memory>

// Colour of text a document leaves in the automatic colour (no \cf, or a colour-table entry
// without components or out of range): black, as word processors show it.
inline constexpr RgbColor rtfAutoColor = rgbColor(0, 0, 0);

// Deepest nesting of groups a document may use; real documents stay far below it.
inline constexpr int rtfMaxGroupDepth = 1000;

// Reads the visible text of a Rich Text Format document, with its colours and the \protect
// mark writeRtf gives received text, as runs of opaque colours (line breaks '\n').
// Tolerant of what real programs write, and safe on hostile input: time and memory grow with the
// size of the data. The document may come in pieces cut anywhere, so that a large file is read a
// block at a time; the text is the same however it is cut.
class RtfReader
{
public:
    RtfReader();
    ~RtfReader();
    RtfReader(const RtfReader &) = delete;
    RtfReader &operator=(const RtfReader &) = delete;

    // The next piece of the document. Fails, and ignores everything after, when the data does
    // not start with "{\rtf" (after white space or a UTF-8 byte-order mark) or nests groups
    // deeper than rtfMaxGroupDepth. Whatever follows the document's closing brace is ignored.
    Result feed(QByteArrayView data);
    // The end of the data. A document cut off before its closing brace gives the text before
    // the cut, and complete() stays false; data too short to hold "{\rtf" is not RTF.
    Result finish();
    // The text read since the last call; one colour may come in several runs.
    TextRuns takeRuns();
    // Whether the document's outermost group has closed.
    bool complete() const;

private:
    class Parser;
    std::unique_ptr<Parser> m_parser;
};

// A whole document at once; a truncated one gives the text before the cut.
Expected<TextRuns> readRtf(QByteArrayView data);
