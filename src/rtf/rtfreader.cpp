#include "rtf/rtfreader.h"

#include "core/messages.h"
#include "rtf/rtfcodepages.h"
#include "rtf/rtfcontrolwords.h"
#include "rtf/rtflexer.h"

#include <QHash>
#include <QList>

#include <algorithm>
#include <string_view>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

enum class Destination : quint8 { Text, Skip, FontTable, ColorTable };

// What a group carries: it is saved at '{' and restored at '}'.
struct GroupState
{
    Destination destination = Destination::Text;
    bool hidden = false;
    bool received = false;
    int unicodeSkip = 1;
    int font = -1;  // -1: the document's default font
    int color = -1; // -1: automatic
};

struct FontInfo
{
    int charsetCodePage = 0;
    int codePage = 0; // from \cpg, which wins over the charset
};

} // namespace

// The meaning of the lexer's tokens, with the state of the open groups.
class RtfReader::Parser : public RtfLexer::Sink
{
public:
    Result feed(QByteArrayView data)
    {
        m_lexer.feed(data);
        return result();
    }

    Result finish()
    {
        m_lexer.finish();
        if (m_failure.ok()) {
            flushBytes();
            dropPendingHighSurrogate();
        }
        // Nothing more can come that would take the tab behind a cell back.
        m_cellTab = false;
        return result();
    }

    TextRuns takeRuns()
    {
        TextRuns taken = std::exchange(m_runs, TextRuns());
        // The tab behind a table cell goes again if the row ends right there, so it is held
        // back until that is known.
        if (m_cellTab && !taken.isEmpty() && taken.last().text.endsWith(u'\t')) {
            TextRun &last = taken.last();
            last.text.chop(1);
            m_runs.append(TextRun{u"\t"_s, last.color, last.received});
            if (last.text.isEmpty())
                taken.removeLast();
        }
        return taken;
    }

    bool complete() const { return m_lexer.complete(); }

private:
    Result result() const
    {
        if (m_lexer.notRtf())
            return Result::failure(Messages::notRichText());
        return m_failure;
    }

    void groupStart() override
    {
        flushBytes();
        m_fallbackLeft = 0;
        if (m_stack.size() >= rtfMaxGroupDepth) {
            m_failure = Result::failure(Messages::rtfNestedTooDeep(rtfMaxGroupDepth));
            m_lexer.stop();
            return;
        }
        m_stack.append(m_state);
    }

    void groupEnd() override
    {
        flushBytes();
        m_fallbackLeft = 0;
        Q_ASSERT(!m_stack.isEmpty()); // the lexer stops when the outermost group closes
        m_state = m_stack.takeLast();
        if (m_stack.isEmpty())
            dropPendingHighSurrogate();
    }

    void text(QByteArrayView bytes) override
    {
        // Every character after \uN, whatever it is, counts towards the fallback.
        const qsizetype fallback = std::min<qsizetype>(m_fallbackLeft, bytes.size());
        m_fallbackLeft -= int(fallback);
        bytes = bytes.sliced(fallback);
        if (m_state.destination == Destination::ColorTable) {
            for (const char c : bytes) {
                if (c == ';')
                    endColor();
            }
            return;
        }
        if (!showing())
            return;
        // Text in the current font's code page; of the control characters only the tab shows.
        while (!bytes.isEmpty()) {
            const auto control = std::find_if(bytes.cbegin(), bytes.cend(), [](char c) {
                return static_cast<unsigned char>(c) < 0x20;
            });
            const qsizetype plain = control - bytes.cbegin();
            if (plain > 0)
                m_bytes.append(bytes.first(plain));
            if (plain == bytes.size())
                break;
            if (*control == '\t') {
                flushBytes();
                emitUnit(u'\t');
            }
            bytes = bytes.sliced(plain + 1);
        }
    }

    void hexByte(char byte) override { codeByte(byte); }

    bool showing() const { return m_state.destination == Destination::Text && !m_state.hidden; }

    // After \uN the next \ucN characters are the fallback for readers without Unicode.
    bool consumeFallback()
    {
        if (m_fallbackLeft == 0)
            return false;
        --m_fallbackLeft;
        return true;
    }

    void controlSymbol(char c) override
    {
        if (c == '\\' || c == '{' || c == '}') {
            // Escaped, but still a byte of the code page: it may be the trail byte of a
            // double-byte character.
            codeByte(c);
            return;
        }
        flushBytes();
        if (consumeFallback())
            return;
        switch (c) {
        case '*':
            m_state.destination = Destination::Skip;
            break;
        case '~':
            emitUnit(0x00a0);
            break;
        case '_':
            emitUnit(0x2011);
            break;
        case '\t':
            emitUnit(u'\t');
            break;
        case '\r':
        case '\n':
            emitUnit(u'\n');
            break;
        default:
            // \- (optional hyphen), \| and \: (index marks) show nothing.
            break;
        }
    }

    void controlWord(std::string_view name, bool hasParameter, qint64 longParameter) override
    {
        flushBytes();
        const RtfWord *word = rtfControlWord(name);
        // The data behind \binN, which the lexer skips, is no character of a fallback.
        if (word && word->action == RtfAction::Binary)
            return;
        if (consumeFallback() || !word)
            return;
        const int parameter = int(longParameter);

        switch (word->action) {
        case RtfAction::Character:
            emitUnit(word->character);
            break;
        case RtfAction::LineBreak:
            emitUnit(u'\n');
            break;
        case RtfAction::Tab:
            emitUnit(u'\t');
            break;
        case RtfAction::Cell:
            emitUnit(u'\t');
            m_cellTab = showing();
            break;
        case RtfAction::Row:
            // The tab after a row's last cell would only trail the line.
            if (m_cellTab && showing())
                dropCellTab();
            emitUnit(u'\n');
            break;
        case RtfAction::Unicode:
            if (hasParameter) {
                // Values above 32767 are written negative, as signed 16-bit numbers.
                const int code = parameter < 0 ? parameter + 65536 : parameter;
                emitUnit(code >= 0 && code <= 0xffff ? char16_t(code) : char16_t(0xfffd));
                m_fallbackLeft = m_state.unicodeSkip;
            }
            break;
        case RtfAction::UnicodeSkip:
            m_state.unicodeSkip = hasParameter ? std::max(parameter, 0) : 1;
            break;
        case RtfAction::Font:
            if (m_state.destination == Destination::FontTable) {
                m_tableFont = parameter;
                m_fonts.insert(parameter, FontInfo());
            } else if (m_state.destination == Destination::Text) {
                m_state.font = parameter;
            }
            break;
        case RtfAction::FontCharset:
            if (m_state.destination == Destination::FontTable)
                m_fonts[m_tableFont].charsetCodePage = rtfCodePageOfCharset(parameter);
            break;
        case RtfAction::FontCodePage:
            if (m_state.destination == Destination::FontTable && rtfKnowsCodePage(parameter))
                m_fonts[m_tableFont].codePage = parameter;
            break;
        case RtfAction::DefaultFont:
            m_defaultFont = parameter;
            break;
        case RtfAction::DocumentCodePage:
            if (rtfKnowsCodePage(parameter))
                m_codePage = parameter;
            break;
        case RtfAction::Ansi:
            m_codePage = 1252;
            break;
        case RtfAction::Mac:
            m_codePage = 10000;
            break;
        case RtfAction::Pc:
            m_codePage = 437;
            break;
        case RtfAction::Pca:
            m_codePage = 850;
            break;
        case RtfAction::Color:
            m_state.color = hasParameter ? parameter : 0;
            break;
        case RtfAction::Plain:
            m_state.font = -1;
            m_state.color = -1;
            m_state.received = false;
            m_state.hidden = false;
            break;
        case RtfAction::Protect:
            m_state.received = !hasParameter || parameter != 0;
            break;
        case RtfAction::Hidden:
            m_state.hidden = !hasParameter || parameter != 0;
            break;
        case RtfAction::Red:
            m_red = std::clamp(parameter, 0, 255);
            m_colorGiven = true;
            break;
        case RtfAction::Green:
            m_green = std::clamp(parameter, 0, 255);
            m_colorGiven = true;
            break;
        case RtfAction::Blue:
            m_blue = std::clamp(parameter, 0, 255);
            m_colorGiven = true;
            break;
        case RtfAction::FontTable:
            if (m_state.destination == Destination::Text)
                m_state.destination = Destination::FontTable;
            break;
        case RtfAction::ColorTable:
            if (m_state.destination == Destination::Text) {
                m_state.destination = Destination::ColorTable;
                m_colors.clear();
                m_colorGiven = false;
                m_red = m_green = m_blue = 0;
            }
            break;
        case RtfAction::SkipDestination:
            m_state.destination = Destination::Skip;
            break;
        case RtfAction::Binary:
            break;
        }
    }

    // A byte given as \'hh or an escaped symbol: text in the current font's code page.
    void codeByte(char c)
    {
        if (consumeFallback() || !showing())
            return;
        m_bytes.append(c);
    }

    void endColor()
    {
        // An entry without components is the automatic colour, kept as 0 (never opaque).
        m_colors.append(m_colorGiven ? rgbColor(m_red, m_green, m_blue) : 0);
        m_colorGiven = false;
        m_red = m_green = m_blue = 0;
    }

    int currentCodePage() const
    {
        const auto font = m_fonts.constFind(m_state.font >= 0 ? m_state.font : m_defaultFont);
        if (font != m_fonts.constEnd()) {
            if (font->codePage != 0)
                return font->codePage;
            if (font->charsetCodePage != 0)
                return font->charsetCodePage;
        }
        return m_codePage;
    }

    // Decodes the bytes gathered since the last control word. They are never split inside a
    // character, since every change of font or group flushes them first.
    void flushBytes()
    {
        if (m_bytes.isEmpty())
            return;
        emitText(m_text.decode(m_bytes, currentCodePage()));
        m_bytes.clear();
    }

    // Single UTF-16 units from \uN and special characters: surrogates are paired here, and a
    // surrogate without its partner becomes U+FFFD rather than broken text.
    void emitUnit(char16_t unit)
    {
        if (!showing())
            return;
        if (QChar::isLowSurrogate(unit) && m_pendingHighSurrogate != 0) {
            const char16_t pair[2] = {m_pendingHighSurrogate, unit};
            m_pendingHighSurrogate = 0;
            appendToRuns(QStringView(pair, 2));
            return;
        }
        dropPendingHighSurrogate();
        if (QChar::isHighSurrogate(unit)) {
            m_pendingHighSurrogate = unit;
            return;
        }
        const char16_t shown = QChar::isLowSurrogate(unit) ? char16_t(0xfffd) : unit;
        appendToRuns(QStringView(&shown, 1));
    }

    void emitText(QStringView text)
    {
        dropPendingHighSurrogate();
        appendToRuns(text);
    }

    void dropPendingHighSurrogate()
    {
        if (m_pendingHighSurrogate == 0)
            return;
        m_pendingHighSurrogate = 0;
        const char16_t replacement = 0xfffd;
        appendToRuns(QStringView(&replacement, 1));
    }

    void appendToRuns(QStringView text)
    {
        if (text.isEmpty())
            return;
        m_cellTab = false;
        const RgbColor color = currentColor();
        if (!m_runs.isEmpty() && m_runs.last().color == color
            && m_runs.last().received == m_state.received) {
            m_runs.last().text.append(text);
        } else {
            m_runs.append(TextRun{text.toString(), color, m_state.received});
        }
    }

    void dropCellTab()
    {
        if (m_runs.isEmpty() || !m_runs.last().text.endsWith(u'\t'))
            return;
        m_runs.last().text.chop(1);
        if (m_runs.last().text.isEmpty())
            m_runs.removeLast();
    }

    RgbColor currentColor() const
    {
        const int index = m_state.color;
        if (index >= 0 && index < m_colors.size() && m_colors[index] != 0)
            return m_colors[index];
        return rtfAutoColor;
    }

    RtfLexer m_lexer{*this};
    Result m_failure = Result::success();

    GroupState m_state;
    QList<GroupState> m_stack;

    int m_codePage = 1252;
    int m_defaultFont = 0;
    int m_tableFont = -1;
    QHash<int, FontInfo> m_fonts;
    RtfTextDecoder m_text;

    QList<RgbColor> m_colors;
    int m_red = 0;
    int m_green = 0;
    int m_blue = 0;
    bool m_colorGiven = false;

    int m_fallbackLeft = 0;
    char16_t m_pendingHighSurrogate = 0;
    bool m_cellTab = false;
    QByteArray m_bytes;
    TextRuns m_runs;
};

RtfReader::RtfReader()
    : m_parser(std::make_unique<Parser>())
{}

RtfReader::~RtfReader() = default;

Result RtfReader::feed(QByteArrayView data)
{
    return m_parser->feed(data);
}

Result RtfReader::finish()
{
    return m_parser->finish();
}

TextRuns RtfReader::takeRuns()
{
    return m_parser->takeRuns();
}

bool RtfReader::complete() const
{
    return m_parser->complete();
}

Expected<TextRuns> readRtf(QByteArrayView data)
{
    RtfReader reader;
    if (const Result fed = reader.feed(data); !fed.ok())
        return Expected<TextRuns>::failure(fed.message());
    if (const Result done = reader.finish(); !done.ok())
        return Expected<TextRuns>::failure(done.message());
    return reader.takeRuns();
}
