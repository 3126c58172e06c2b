#pragma once

#include "core/colors.h"
#include "core/textrun.h"

#include <QString>
#include <QStringView>

#include <array>

// What a terminal makes of a device's console output, without a screen: decoded text in, coloured
// runs out, the runs that redraw the line marked as such (TextRun::back, TextRun::cut).
//
// SGR colours select from TerminalColors::Console; erase in line (CSI K) clears within the
// line; every other escape sequence, OSC string and C0 control shows nothing. Backspace and a
// lone CR move the write position within the line, so what follows overwrites. CR LF and a lone
// LF end the line. Nothing depends on where the text was cut: a sequence, or a CR whose LF
// comes later, waits for the next piece.
//
// The write position is followed as a column within what this interpreter wrote since the last
// line break; the document keeps the edits off everything else on the line.
class ConsoleInterpreter
{
public:
    // Appends the runs for the next piece of the stream to out.
    void feed(const QString &text, TextRuns &out);
    // Forgets any sequence, waiting CR and colour, as when the port is opened again.
    void reset();

private:
    enum class State { Text, Escape, EscapeIntermediate, Csi, CsiIgnore, String, StringEscape };

    void write(QStringView text, TextRuns &out);
    void writeOnLine(QStringView text, TextRuns &out);
    void put(QStringView text, TextRuns &out, qsizetype back = 0, bool cut = false);
    // Handles one character outside plain text; returns how many characters it used.
    qsizetype control(QStringView text, qsizetype at, TextRuns &out);
    void startCsi();
    qsizetype csi(QStringView text, qsizetype at, TextRuns &out);
    void dispatchCsi(char16_t final, TextRuns &out);
    void selectGraphic();
    void eraseInLine(int mode, TextRuns &out);
    RgbColor currentColor() const;

    State m_state = State::Text;
    bool m_pendingCr = false;
    // The CSI's numbers so far; a number after ':' is a part of the one before (38:5:n).
    static constexpr int MaxParameters = 16;
    std::array<int, MaxParameters> m_parameters{};
    std::array<bool, MaxParameters> m_subParameter{};
    int m_parameterCount = 0;
    bool m_privateCsi = false;
    // -1: the received-text colour; 0-15 an entry of the palette.
    int m_foreground = -1;
    bool m_bold = false;
    RgbColor m_color = TerminalColors::Received;
    // The colour of the last text written at the end, which blanks after it take.
    RgbColor m_lastColor = TerminalColors::Received;
    // What this interpreter wrote on the current line, and where it writes next.
    qsizetype m_lineLength = 0;
    qsizetype m_column = 0;
};
