#pragma once

#include "platform/result.h"
#include "platform/textrun.h"

#include <QByteArrayView>

// Colour of text a document leaves in the automatic colour (no \cf, or a colour-table entry
// without components or out of range): black, as word processors show it.
inline constexpr RgbColor rtfAutoColor = rgbColor(0, 0, 0);

// Deepest nesting of groups a document may use; real documents stay far below it.
inline constexpr int rtfMaxGroupDepth = 1000;

// Reads the visible text of a Rich Text Format document, with its colours and the \protect
// mark writeRtf gives received text, as runs of opaque colours (line breaks '\n').
// Tolerant of what real programs write, and safe on hostile input: time and memory grow with the
// size of the data, a truncated document gives the text before the cut. Fails when the data
// does not start with "{\rtf" (after white space or a UTF-8 byte-order mark) or nests groups
// deeper than rtfMaxGroupDepth.
Expected<TextRuns> readRtf(QByteArrayView data);
