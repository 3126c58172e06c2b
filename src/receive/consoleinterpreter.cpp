#include "receive/consoleinterpreter.h"

#include <algorithm>
#include <array>

namespace {

constexpr char16_t Escape = 0x1b;
constexpr char16_t Cancel = 0x18;
constexpr char16_t Substitute = 0x1a;
constexpr char16_t Bell = 0x07;
// A number this large is no parameter a console sends; it stays at this.
constexpr int MaxNumber = 0xffff;

// Characters plain text cannot pass through as they are. Tab, LF and CR LF are plain: the
// document shows a tab as it always did and breaks the line at an LF or a CR LF.
bool isControl(char16_t c)
{
    return c < 0x20 && c != u'\n' && c != u'\t';
}

qsizetype plainUntil(QStringView text, qsizetype from)
{
    const char16_t *p = text.utf16();
    const qsizetype n = text.size();
    while (from < n) {
        const char16_t c = p[from];
        if (c < 0x20 && isControl(c) && !(c == u'\r' && from + 1 < n && p[from + 1] == u'\n')) {
            break;
        }
        ++from;
    }
    return from;
}

bool isBlank(QStringView text)
{
    for (const QChar c : text) {
        if (c != u' ') {
            return false;
        }
    }
    return !text.isEmpty();
}

struct Rgb
{
    int r, g, b;
};

// xterm's own 16 colours: a 256-colour or 24-bit request is matched against these, the colours
// the device's author saw, and then shown in this terminal's palette entry of the same meaning.
constexpr std::array<Rgb, 16> Standard = {{{0, 0, 0},
                                           {205, 0, 0},
                                           {0, 205, 0},
                                           {205, 205, 0},
                                           {0, 0, 238},
                                           {205, 0, 205},
                                           {0, 205, 205},
                                           {229, 229, 229},
                                           {127, 127, 127},
                                           {255, 0, 0},
                                           {0, 255, 0},
                                           {255, 255, 0},
                                           {92, 92, 255},
                                           {255, 0, 255},
                                           {0, 255, 255},
                                           {255, 255, 255}}};

int nearestStandard(Rgb c)
{
    int best = 0;
    int bestDistance = 0;
    for (int i = 0; i < int(Standard.size()); ++i) {
        const int dr = c.r - Standard[i].r;
        const int dg = c.g - Standard[i].g;
        const int db = c.b - Standard[i].b;
        const int distance = dr * dr + dg * dg + db * db;
        if (i == 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

int fromIndexed(int index)
{
    if (index < 16) {
        return index;
    }
    if (index < 232) {
        constexpr std::array<int, 6> levels = {0, 95, 135, 175, 215, 255};
        const int i = index - 16;
        return nearestStandard({levels[i / 36], levels[i / 6 % 6], levels[i % 6]});
    }
    const int grey = 8 + 10 * (index - 232);
    return nearestStandard({grey, grey, grey});
}

} // namespace

void ConsoleInterpreter::reset()
{
    *this = ConsoleInterpreter();
}

void ConsoleInterpreter::feed(const QString &text, TextRuns &out)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    if (n > 0 && m_pendingCr) {
        m_pendingCr = false;
        if (text[0] == u'\n') {
            write(u"\n", out);
            i = 1;
        } else {
            m_column = 0;
        }
    }
    // The bulk of most traffic: text without a control, written at the end of the line, goes on
    // as it came, not even copied.
    if (i == 0 && m_state == State::Text && m_column == m_lineLength && plainUntil(text, 0) == n
        && n > 0) {
        const RgbColor color = isBlank(text) ? m_lastColor : m_color;
        m_lastColor = color;
        if (!out.isEmpty() && !out.last().editsLine() && out.last().color == color) {
            out.last().text += text;
        } else {
            out.append(TextRun{text, color, true});
        }
        const qsizetype lineBreak = text.lastIndexOf(u'\n');
        m_lineLength = lineBreak < 0 ? m_lineLength + n : n - lineBreak - 1;
        m_column = m_lineLength;
        return;
    }
    const QStringView view(text);
    while (i < n) {
        if (m_state == State::Text) {
            const qsizetype j = plainUntil(view, i);
            if (j > i) {
                write(view.sliced(i, j - i), out);
            }
            i = j;
            if (i == n) {
                break;
            }
        }
        i += control(view, i, out);
    }
}

void ConsoleInterpreter::write(QStringView text, TextRuns &out)
{
    if (m_column > m_lineLength && !text.isEmpty() && text.front() != u'\n') {
        // Erased up to a column the write position stayed at: the gap reads as blanks.
        const qsizetype gap = m_column - m_lineLength;
        m_column = m_lineLength;
        write(QString(gap, u' '), out);
    }
    while (!text.isEmpty()) {
        if (m_column == m_lineLength) {
            put(text, out);
            const qsizetype lineBreak = text.lastIndexOf(u'\n');
            m_lineLength = lineBreak < 0 ? m_lineLength + text.size() : text.size() - lineBreak - 1;
            m_column = m_lineLength;
            return;
        }
        const qsizetype lineBreak = text.indexOf(u'\n');
        QStringView piece = lineBreak < 0 ? text : text.first(lineBreak);
        if (piece.endsWith(u'\r')) {
            piece.chop(1); // of a CR LF
        }
        if (!piece.isEmpty()) {
            put(piece, out, m_lineLength - m_column);
            m_column += piece.size();
            m_lineLength = std::max(m_lineLength, m_column);
        }
        if (lineBreak < 0) {
            return;
        }
        // A line break ends the line where it ends, wherever the write position was.
        put(u"\n", out);
        m_lineLength = 0;
        m_column = 0;
        text = text.sliced(lineBreak + 1);
    }
}

// Blanks between coloured words go with the word before them: their colour shows nowhere, and
// each change of colour costs the document far more than the characters do.
void ConsoleInterpreter::put(QStringView text, TextRuns &out, qsizetype back, bool cut)
{
    const bool atEnd = back == 0 && !cut;
    const RgbColor color = atEnd && isBlank(text) ? m_lastColor : m_color;
    if (atEnd) {
        m_lastColor = color;
    }
    if (atEnd && !out.isEmpty() && !out.last().editsLine() && out.last().color == color) {
        out.last().text += text;
        return;
    }
    out.append(TextRun{text.toString(), color, true, back, cut});
}

qsizetype ConsoleInterpreter::control(QStringView text, qsizetype at, TextRuns &out)
{
    const char16_t c = text[at].unicode();
    const bool c0 = c < 0x20;
    switch (m_state) {
    case State::Text:
        break;
    case State::Escape:
    case State::EscapeIntermediate:
        if (c0) {
            break; // executed within the sequence, as a terminal does
        }
        if (m_state == State::Escape && c == u'[') {
            startCsi();
        } else if (m_state == State::Escape
                   && (c == u']' || c == u'P' || c == u'X' || c == u'^' || c == u'_')) {
            m_state = State::String;
        } else if (c >= 0x20 && c <= 0x2f) {
            m_state = State::EscapeIntermediate;
        } else if (c >= 0x30 && c <= 0x7e) {
            m_state = State::Text; // ESC 7, ESC c, ESC ( B after its intermediate ...
        } else {
            m_state = State::Text; // no sequence: the character is text again
            return 0;
        }
        return 1;
    case State::Csi:
    case State::CsiIgnore:
        if (c0) {
            break;
        }
        return csi(text, at, out);
    case State::String:
        if (c == Bell || c == Cancel || c == Substitute) {
            m_state = State::Text;
        } else if (c == Escape) {
            m_state = State::StringEscape;
        } else if (c == u'\r' || c == u'\n') {
            // A title or a colour query holds no line break; one that never ends must not
            // swallow the console, so a line break ends it and is a line break.
            m_state = State::Text;
            return 0;
        }
        return 1;
    case State::StringEscape:
        if (c == u'\\') {
            m_state = State::Text;
            return 1;
        }
        m_state = State::Escape;
        return 0;
    }

    // A C0 control, in text or within a sequence.
    switch (c) {
    case Escape:
        m_state = State::Escape;
        break;
    case Cancel:
    case Substitute:
        m_state = State::Text;
        break;
    case u'\n':
        write(u"\n", out);
        break;
    case u'\r':
        if (at + 1 == text.size()) {
            m_pendingCr = true;
        } else if (text[at + 1] == u'\n') {
            write(u"\n", out);
            return 2;
        } else {
            m_column = 0;
        }
        break;
    case u'\b':
        m_column = std::max<qsizetype>(m_column - 1, 0);
        break;
    case u'\t':
        write(u"\t", out);
        break;
    default:
        break; // BEL, NUL and the rest show nothing
    }
    return 1;
}

void ConsoleInterpreter::startCsi()
{
    m_state = State::Csi;
    m_parameters[0] = 0;
    m_subParameter[0] = false;
    m_parameterCount = 1;
    m_privateCsi = false;
}

// Reads on in a CSI sequence from text[at], a character that is no C0 control, as far as the
// sequence or the text goes; returns how many characters it used.
qsizetype ConsoleInterpreter::csi(QStringView text, qsizetype at, TextRuns &out)
{
    const qsizetype from = at;
    const char16_t *p = text.utf16();
    const qsizetype n = text.size();
    for (; at < n; ++at) {
        const char16_t c = p[at];
        if (c >= u'0' && c <= u'9') {
            int &number = m_parameters[std::size_t(m_parameterCount - 1)];
            number = std::min(number * 10 + (c - u'0'), MaxNumber);
        } else if (c == u';' || c == u':') {
            if (m_parameterCount == MaxParameters) {
                m_state = State::CsiIgnore; // more than any sequence shown here has
                continue;
            }
            m_parameters[std::size_t(m_parameterCount)] = 0;
            m_subParameter[std::size_t(m_parameterCount)] = c == u':';
            ++m_parameterCount;
        } else if (c >= 0x3c && c <= 0x3f) {
            if (at == from && m_parameterCount == 1 && m_parameters[0] == 0) {
                m_privateCsi = true; // ESC [ ? 25 l and the like
            } else {
                m_state = State::CsiIgnore;
            }
        } else if (c >= 0x20 && c <= 0x2f) {
            m_state = State::CsiIgnore; // no sequence with an intermediate is shown
        } else if (c >= 0x40 && c <= 0x7e) {
            if (m_state == State::Csi && !m_privateCsi) {
                dispatchCsi(c, out);
            }
            m_state = State::Text;
            return at - from + 1;
        } else {
            // A control or a character that ends no sequence: the sequence is dropped, the
            // character is read again as what it is.
            if (c >= 0x20) {
                m_state = State::Text;
            }
            return at - from;
        }
    }
    return at - from;
}

void ConsoleInterpreter::dispatchCsi(char16_t final, TextRuns &out)
{
    if (final == u'm') {
        selectGraphic();
    } else if (final == u'K') {
        eraseInLine(m_parameters[0], out);
    }
}

void ConsoleInterpreter::selectGraphic()
{
    const int count = m_parameterCount;
    const auto value = [this, count](int i) {
        return i < count ? m_parameters[std::size_t(i)] : 0;
    };
    // The colour of an extended form (5;n or 2;r;g;b) whose selector is at i, or -1; used
    // is how many numbers it took.
    const auto extended = [&](int i, bool colonForm, int parts, int *used) {
        *used = 0;
        if (value(i) == 5) {
            *used = 2;
            return fromIndexed(std::min(value(i + 1), 255));
        }
        if (value(i) == 2) {
            // The colon form may name a colour space before r:g:b.
            const int rgb = colonForm && parts >= 5 ? i + 2 : i + 1;
            *used = rgb - i + 3;
            return nearestStandard({std::min(value(rgb), 255), std::min(value(rgb + 1), 255),
                                    std::min(value(rgb + 2), 255)});
        }
        return -1;
    };
    for (int i = 0; i < count; ++i) {
        const int v = m_parameters[std::size_t(i)];
        if (v == 38 || v == 48) {
            int parts = 0; // numbers after a colon that belong to this one
            while (i + 1 + parts < count && m_subParameter[std::size_t(i + 1 + parts)]) {
                ++parts;
            }
            int used = 0;
            const int colour = extended(i + 1, parts > 0, parts, &used);
            // Background colours are not shown, but their numbers must not be read as others.
            if (v == 38 && colour >= 0) {
                m_foreground = colour;
            }
            i += parts > 0 ? parts : used;
        } else if (m_subParameter[std::size_t(i)]) {
            continue; // a part of something not shown (4:3, a curly underline)
        } else if (v == 0) {
            m_foreground = -1;
            m_bold = false;
        } else if (v == 1) {
            m_bold = true;
        } else if (v == 22) {
            m_bold = false;
        } else if (v >= 30 && v <= 37) {
            m_foreground = v - 30;
        } else if (v == 39) {
            m_foreground = -1;
        } else if (v >= 90 && v <= 97) {
            m_foreground = v - 90 + 8;
        }
    }
    if (m_foreground < 0) {
        m_color = TerminalColors::Received;
    } else {
        const int index = m_bold && m_foreground < 8 ? m_foreground + 8 : m_foreground;
        m_color = TerminalColors::Console[std::size_t(index)];
    }
}

// Erased characters read as blanks where text stays after them, and are gone where none does;
// the write position stays where it is either way.
void ConsoleInterpreter::eraseInLine(int mode, TextRuns &out)
{
    if (mode < 0 || mode > 2) {
        return;
    }
    const bool toEnd = mode == 0 || mode == 2 || m_column + 1 >= m_lineLength;
    const qsizetype from = mode == 0 ? m_column : 0;
    if (!toEnd) {
        put(QString(m_column + 1, u' '), out, m_lineLength); // mode 1: up to the write position
    } else if (m_lineLength > from) {
        put({}, out, m_lineLength - from, true);
        m_lineLength = from;
    }
}
