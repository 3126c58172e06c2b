#pragma once

#include "core/textrun.h"

#include <QByteArray>

// Writes terminal runs as a Rich Text Format document that Word, WordPad, LibreOffice and unrtf
// open with the same text and colours, and that readRtf turns back into the same runs.
//
// The document is written for code page 936: every character outside ASCII is a \uN with its
// GBK bytes as the fallback for readers that know no Unicode. Received text carries \protect.
QByteArray writeRtf(const TextRuns &runs);
// The same from runs handed over piece by piece (the output is the same however they are cut).
QByteArray writeRtf(const RunWalk &runs);
