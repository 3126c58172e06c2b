#include "platform/rtfreader.h"

#include "platform/messages.h"

#include <QHash>
#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <map>
#include <string_view>
#include <unordered_map>

using namespace Qt::StringLiterals;

namespace {

// Numeric parameters are clamped here: no real document needs more, and nothing overflows.
constexpr qint64 maxParameter = 1'000'000'000;
// The format limits control words to 32 letters; longer ones are nobody's and are ignored.
constexpr qsizetype maxWordLength = 32;

enum class Action : quint8 {
    Character,
    LineBreak,
    Tab,
    Cell,
    Row,
    Unicode,
    UnicodeSkip,
    Font,
    FontCharset,
    FontCodePage,
    DefaultFont,
    DocumentCodePage,
    Ansi,
    Mac,
    Pc,
    Pca,
    Color,
    Plain,
    Protect,
    Hidden,
    Red,
    Green,
    Blue,
    FontTable,
    ColorTable,
    Binary,
    SkipDestination,
};

struct WordInfo
{
    Action action;
    char16_t character = 0;
};

using WordTable = std::unordered_map<std::string_view, WordInfo>;

// Destinations whose text is not part of what the document shows. Most writers mark newer ones
// with \*, which is skipped anyway; these are the ones older writers leave unmarked or that are
// old enough to be known without it.
constexpr std::string_view hiddenDestinations
        = "aftncn aftnsep aftnsepc annotation atnauthor atndate atnicn atnid atnparent "
          "atnref atntime author bkmkend bkmkstart blipuid buptim category "
          "colorschememapping comment company creatim datafield datastore docvar doccomm "
          "falt fchars ffdeftext ffentrymcr ffexitmcr ffformat ffhelptext ffl ffname "
          "ffstattext fldinst fname footer footerf footerl footerr footnote formfield "
          "ftncn ftnsep ftnsepc generator header headerf headerl headerr hlinkbase info "
          "keycode keywords latentstyles lchars listoverridetable listtable manager "
          "mmathPr nonshppict objclass objdata object objname operator panose passwordhash "
          "pgdsctbl pict picprop pntxta pntxtb printim private revtbl revtim rsidtbl "
          "shpinst sn sp stylesheet subject sv tc template themedata title txe userprops "
          "wgrffmtfilter xe xmlnstbl";

const WordTable &controlWords()
{
    static const WordTable table = [] {
        WordTable words{
                {"par", {Action::LineBreak}},
                {"line", {Action::LineBreak}},
                {"sect", {Action::LineBreak}},
                {"page", {Action::LineBreak}},
                {"tab", {Action::Tab}},
                {"cell", {Action::Cell}},
                {"nestcell", {Action::Cell}},
                {"row", {Action::Row}},
                {"nestrow", {Action::Row}},
                {"emdash", {Action::Character, 0x2014}},
                {"endash", {Action::Character, 0x2013}},
                {"emspace", {Action::Character, 0x2003}},
                {"enspace", {Action::Character, 0x2002}},
                {"qmspace", {Action::Character, 0x2005}},
                {"bullet", {Action::Character, 0x2022}},
                {"lquote", {Action::Character, 0x2018}},
                {"rquote", {Action::Character, 0x2019}},
                {"ldblquote", {Action::Character, 0x201c}},
                {"rdblquote", {Action::Character, 0x201d}},
                {"zwj", {Action::Character, 0x200d}},
                {"zwnj", {Action::Character, 0x200c}},
                {"zwbo", {Action::Character, 0x200b}},
                {"ltrmark", {Action::Character, 0x200e}},
                {"rtlmark", {Action::Character, 0x200f}},
                {"u", {Action::Unicode}},
                {"uc", {Action::UnicodeSkip}},
                {"f", {Action::Font}},
                {"fcharset", {Action::FontCharset}},
                {"cpg", {Action::FontCodePage}},
                {"deff", {Action::DefaultFont}},
                {"ansicpg", {Action::DocumentCodePage}},
                {"ansi", {Action::Ansi}},
                {"mac", {Action::Mac}},
                {"pc", {Action::Pc}},
                {"pca", {Action::Pca}},
                {"cf", {Action::Color}},
                {"plain", {Action::Plain}},
                {"protect", {Action::Protect}},
                {"v", {Action::Hidden}},
                {"red", {Action::Red}},
                {"green", {Action::Green}},
                {"blue", {Action::Blue}},
                {"fonttbl", {Action::FontTable}},
                {"colortbl", {Action::ColorTable}},
                {"bin", {Action::Binary}},
        };
        for (std::string_view names = hiddenDestinations; !names.empty();) {
            const size_t end = std::min(names.find(' '), names.size());
            words.emplace(names.substr(0, end), WordInfo{Action::SkipDestination});
            names.remove_prefix(std::min(end + 1, names.size()));
        }
        return words;
    }();
    return table;
}

struct CharsetCodePage
{
    int charset;
    int codePage;
};

// Code pages of the font charsets (\fcharset); any other leaves the document's.
constexpr CharsetCodePage charsetCodePages[] = {
        {0, 1252},   {2, 1252}, // symbol fonts: their bytes name glyphs, shown best as Latin
        {77, 10000}, {128, 932},  {129, 949},  {134, 936},  {136, 950},  {161, 1253},
        {162, 1254}, {163, 1258}, {177, 1255}, {178, 1256}, {186, 1257}, {204, 1251},
        {222, 874},  {238, 1250}, {254, 437},  {255, 850},
};

int codePageOfCharset(int charset)
{
    for (const CharsetCodePage &entry : charsetCodePages) {
        if (entry.charset == charset)
            return entry.codePage;
    }
    return 0;
}

struct CodePageName
{
    int codePage;
    const char *name;
};

// The code pages a document may name, with their decoders. A fixed list keeps hostile documents
// from opening converters by the thousand.
constexpr CodePageName decoderNames[] = {
        {437, "IBM437"},        {850, "IBM850"},        {852, "IBM852"},
        {866, "IBM866"},        {874, "windows-874"},   {932, "windows-31j"},
        {936, "GBK"},           {949, "windows-949"},   {950, "windows-950"},
        {1250, "windows-1250"}, {1251, "windows-1251"}, {1252, "windows-1252"},
        {1253, "windows-1253"}, {1254, "windows-1254"}, {1255, "windows-1255"},
        {1256, "windows-1256"}, {1257, "windows-1257"}, {1258, "windows-1258"},
        {10000, "macintosh"},   {54936, "GB18030"},     {65001, "UTF-8"},
};

const char *decoderName(int codePage)
{
    for (const CodePageName &entry : decoderNames) {
        if (entry.codePage == codePage)
            return entry.name;
    }
    return nullptr;
}

// Code page 1252 is the one most documents use, so it needs no converter: bytes 0xA0 to 0xFF
// are Latin-1, and 0x80 to 0x9F are these (the five unassigned ones pass through as Windows
// passes them).
constexpr char16_t windows1252High[32]
        = {0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
           0x2039, 0x0152, 0x008d, 0x017d, 0x008f, 0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
           0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178};

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

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

// One pass over the document, a byte at a time, with the state of the open groups.
class RtfReader
{
public:
    explicit RtfReader(QByteArrayView data)
        : m_data(data)
    {}

    Expected<TextRuns> read()
    {
        qsizetype start = m_data.startsWith("\xef\xbb\xbf") ? 3 : 0;
        while (start < m_data.size() && isWhiteSpace(m_data[start]))
            ++start;
        if (!m_data.sliced(start).startsWith("{\\rtf"))
            return Expected<TextRuns>::failure(Messages::notRichText());

        m_pos = start;
        while (m_pos < m_data.size()) {
            const char c = m_data[m_pos++];
            switch (c) {
            case '{':
                flushBytes();
                m_fallbackLeft = 0;
                if (m_stack.size() >= rtfMaxGroupDepth) {
                    return Expected<TextRuns>::failure(
                            u"damaged Rich Text Format document: groups nested more than %1 deep"_s
                                    .arg(rtfMaxGroupDepth));
                }
                m_stack.append(m_state);
                break;
            case '}':
                flushBytes();
                m_fallbackLeft = 0;
                Q_ASSERT(!m_stack.isEmpty()); // reading stops when the outermost group closes
                m_state = m_stack.takeLast();
                // The document's own group has closed; whatever follows is not part of it.
                if (m_stack.isEmpty())
                    m_pos = m_data.size();
                break;
            case '\\':
                readControl();
                break;
            case '\r':
            case '\n':
                break;
            default:
                literalByte(c);
                break;
            }
        }
        // A truncated document ends here too, with the text read so far.
        flushBytes();
        dropPendingHighSurrogate();
        return m_runs;
    }

private:
    static bool isWhiteSpace(char c)
    {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
    }

    bool showing() const { return m_state.destination == Destination::Text && !m_state.hidden; }

    // After \uN the next \ucN characters are the fallback for readers without Unicode.
    bool consumeFallback()
    {
        if (m_fallbackLeft == 0)
            return false;
        --m_fallbackLeft;
        return true;
    }

    void readControl()
    {
        if (m_pos >= m_data.size())
            return;
        const char first = m_data[m_pos];
        if (!isLetter(first)) {
            ++m_pos;
            controlSymbol(first);
            return;
        }
        const qsizetype nameStart = m_pos;
        while (m_pos < m_data.size() && isLetter(m_data[m_pos]))
            ++m_pos;
        const std::string_view name(m_data.data() + nameStart, size_t(m_pos - nameStart));
        bool negative = false;
        if (m_pos + 1 < m_data.size() && m_data[m_pos] == '-' && isDigit(m_data[m_pos + 1])) {
            negative = true;
            ++m_pos;
        }
        bool hasParameter = false;
        qint64 parameter = 0;
        while (m_pos < m_data.size() && isDigit(m_data[m_pos])) {
            hasParameter = true;
            parameter = std::min(parameter * 10 + (m_data[m_pos] - '0'), maxParameter);
            ++m_pos;
        }
        if (m_pos < m_data.size() && m_data[m_pos] == ' ')
            ++m_pos;
        controlWord(name, hasParameter, int(negative ? -parameter : parameter));
    }

    void controlSymbol(char c)
    {
        if (c == '\'') {
            // Two hex digits, or the symbol is damaged and shows nothing.
            const int high = m_pos < m_data.size() ? hexValue(m_data[m_pos]) : -1;
            const int low = m_pos + 1 < m_data.size() ? hexValue(m_data[m_pos + 1]) : -1;
            if (high >= 0 && low >= 0) {
                m_pos += 2;
                codeByte(char(high * 16 + low));
            } else if (high >= 0) {
                ++m_pos;
            }
            return;
        }
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

    void controlWord(std::string_view name, bool hasParameter, int parameter)
    {
        const WordTable &words = controlWords();
        const auto found = name.size() <= size_t(maxWordLength) ? words.find(name) : words.end();
        if (found != words.end() && found->second.action == Action::Binary) {
            flushBytes();
            // The bytes are data, not text; a count past the end means a truncated document.
            const qint64 count = std::max(hasParameter ? parameter : 0, 0);
            m_pos += qsizetype(std::min<qint64>(count, m_data.size() - m_pos));
            return;
        }
        flushBytes();
        if (consumeFallback() || found == words.end())
            return;

        const WordInfo &word = found->second;
        switch (word.action) {
        case Action::Character:
            emitUnit(word.character);
            break;
        case Action::LineBreak:
            emitUnit(u'\n');
            break;
        case Action::Tab:
            emitUnit(u'\t');
            break;
        case Action::Cell:
            emitUnit(u'\t');
            m_cellTab = showing();
            break;
        case Action::Row:
            // The tab after a row's last cell would only trail the line.
            if (m_cellTab && showing())
                dropCellTab();
            emitUnit(u'\n');
            break;
        case Action::Unicode:
            if (hasParameter) {
                // Values above 32767 are written negative, as signed 16-bit numbers.
                const int code = parameter < 0 ? parameter + 65536 : parameter;
                emitUnit(code >= 0 && code <= 0xffff ? char16_t(code) : char16_t(0xfffd));
                m_fallbackLeft = m_state.unicodeSkip;
            }
            break;
        case Action::UnicodeSkip:
            m_state.unicodeSkip = hasParameter ? std::max(parameter, 0) : 1;
            break;
        case Action::Font:
            if (m_state.destination == Destination::FontTable) {
                m_tableFont = parameter;
                m_fonts.insert(parameter, FontInfo());
            } else if (m_state.destination == Destination::Text) {
                m_state.font = parameter;
            }
            break;
        case Action::FontCharset:
            if (m_state.destination == Destination::FontTable)
                m_fonts[m_tableFont].charsetCodePage = codePageOfCharset(parameter);
            break;
        case Action::FontCodePage:
            if (m_state.destination == Destination::FontTable && decoderName(parameter))
                m_fonts[m_tableFont].codePage = parameter;
            break;
        case Action::DefaultFont:
            m_defaultFont = parameter;
            break;
        case Action::DocumentCodePage:
            if (decoderName(parameter))
                m_codePage = parameter;
            break;
        case Action::Ansi:
            m_codePage = 1252;
            break;
        case Action::Mac:
            m_codePage = 10000;
            break;
        case Action::Pc:
            m_codePage = 437;
            break;
        case Action::Pca:
            m_codePage = 850;
            break;
        case Action::Color:
            m_state.color = hasParameter ? parameter : 0;
            break;
        case Action::Plain:
            m_state.font = -1;
            m_state.color = -1;
            m_state.received = false;
            m_state.hidden = false;
            break;
        case Action::Protect:
            m_state.received = !hasParameter || parameter != 0;
            break;
        case Action::Hidden:
            m_state.hidden = !hasParameter || parameter != 0;
            break;
        case Action::Red:
            m_red = std::clamp(parameter, 0, 255);
            m_colorGiven = true;
            break;
        case Action::Green:
            m_green = std::clamp(parameter, 0, 255);
            m_colorGiven = true;
            break;
        case Action::Blue:
            m_blue = std::clamp(parameter, 0, 255);
            m_colorGiven = true;
            break;
        case Action::FontTable:
            if (m_state.destination == Destination::Text)
                m_state.destination = Destination::FontTable;
            break;
        case Action::ColorTable:
            if (m_state.destination == Destination::Text) {
                m_state.destination = Destination::ColorTable;
                m_colors.clear();
                m_colorGiven = false;
                m_red = m_green = m_blue = 0;
            }
            break;
        case Action::SkipDestination:
            m_state.destination = Destination::Skip;
            break;
        case Action::Binary:
            break;
        }
    }

    // A character of the document body as it stands in the file.
    void literalByte(char c)
    {
        if (consumeFallback())
            return;
        if (m_state.destination == Destination::ColorTable) {
            if (c == ';')
                endColor();
            return;
        }
        if (!showing())
            return;
        if (c == '\t') {
            flushBytes();
            emitUnit(u'\t');
        } else if (static_cast<unsigned char>(c) >= 0x20) {
            m_bytes.append(c);
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
        const bool ascii = std::all_of(m_bytes.cbegin(), m_bytes.cend(),
                                       [](char b) { return static_cast<unsigned char>(b) < 0x80; });
        const int codePage = currentCodePage();
        if (ascii) {
            m_decoded = QString::fromLatin1(m_bytes);
        } else if (codePage == 1252) {
            m_decoded.resize(m_bytes.size());
            for (qsizetype i = 0; i < m_bytes.size(); ++i) {
                const auto b = static_cast<unsigned char>(m_bytes[i]);
                m_decoded[i] = QChar(b >= 0x80 && b < 0xa0 ? windows1252High[b - 0x80] : b);
            }
        } else {
            QStringDecoder &decoder = decoderFor(codePage);
            if (decoder.isValid()) {
                // A line feed is no trail byte in any code page: a lead byte left without its
                // trail shows as U+FFFD here instead of vanishing or joining unrelated text.
                m_bytes.append('\n');
                m_decoded = decoder.decode(m_bytes);
                decoder.resetState();
                if (m_decoded.endsWith(u'\n'))
                    m_decoded.chop(1);
            } else {
                m_decoded = QString::fromLatin1(m_bytes);
                for (QChar &c : m_decoded) {
                    if (c.unicode() >= 0x80)
                        c = QChar::ReplacementCharacter;
                }
            }
        }
        emitText(m_decoded);
        m_bytes.clear();
    }

    QStringDecoder &decoderFor(int codePage)
    {
        auto found = m_decoders.find(codePage);
        if (found == m_decoders.end()) {
            const char *name = decoderName(codePage);
            found = m_decoders.emplace(codePage, QStringDecoder(name ? name : "windows-1252"))
                            .first;
        }
        return found->second;
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

    const QByteArrayView m_data;
    qsizetype m_pos = 0;
    GroupState m_state;
    QList<GroupState> m_stack;

    int m_codePage = 1252;
    int m_defaultFont = 0;
    int m_tableFont = -1;
    QHash<int, FontInfo> m_fonts;
    std::map<int, QStringDecoder> m_decoders;

    QList<RgbColor> m_colors;
    int m_red = 0;
    int m_green = 0;
    int m_blue = 0;
    bool m_colorGiven = false;

    int m_fallbackLeft = 0;
    char16_t m_pendingHighSurrogate = 0;
    bool m_cellTab = false;
    QByteArray m_bytes;
    QString m_decoded;
    TextRuns m_runs;
};

} // namespace

Expected<TextRuns> readRtf(QByteArrayView data)
{
    return RtfReader(data).read();
}
