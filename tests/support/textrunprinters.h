#pragma once

#include "core/textrun.h"

#include "qtprinters.h"

#include <iomanip>
#include <ostream>

// Readable GoogleTest failure messages for terminal runs: colour as #AARRGGBB, the received mark,
// then the text with control characters escaped.
inline void PrintTo(const TextRun &run, std::ostream *os)
{
    *os << "{#" << std::hex << std::setw(8) << std::setfill('0') << run.color << std::dec
        << std::setfill(' ') << (run.received ? " received " : " ");
    PrintTo(run.text, os);
    *os << '}';
}
