#include "rtf/rtfwriter.h"

#include <QHash>
#include <QStringEncoder>

namespace {

// The code-page-936 bytes that stand behind each \uN for readers without Unicode, looked up once
// per distinct character: a terminal log repeats few characters many times.
class GbkFallback
{
public:
    QByteArray bytes(char16_t c)
    {
        const auto cached = m_cache.constFind(c);
        if (cached != m_cache.constEnd())
            return *cached;
        QByteArray encoded;
        // GBK has no bytes for a lone surrogate; ICU would swallow it silently.
        if (!QChar::isSurrogate(c) && m_encoder.isValid()) {
            encoded = m_encoder.encode(QStringView(&c, 1));
            if (m_encoder.hasError()) {
                encoded.clear();
                // The error flag never clears, and the next character needs a clean one.
                m_encoder = QStringEncoder("GBK");
            }
        }
        if (encoded.isEmpty() || encoded.size() > 2)
            encoded = "?";
        m_cache.insert(c, encoded);
        return encoded;
    }

private:
    QStringEncoder m_encoder{"GBK"};
    QHash<char16_t, QByteArray> m_cache;
};

void appendNumber(QByteArray &out, int value)
{
    char digits[12];
    int count = 0;
    unsigned magnitude = value < 0 ? 0u - unsigned(value) : unsigned(value);
    do {
        digits[count++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        out.append('-');
    while (count > 0)
        out.append(digits[--count]);
}

void appendHexByte(QByteArray &out, char byte)
{
    static constexpr char hex[] = "0123456789abcdef";
    const auto b = static_cast<unsigned char>(byte);
    out.append("\\'");
    out.append(hex[b >> 4]);
    out.append(hex[b & 0xf]);
}

RgbColor opaque(RgbColor color)
{
    return color | 0xff000000u;
}

// Writes one document: the colour table gathered from the runs first, then the runs. The runs
// are walked twice rather than held, so that a terminal of millions of colour changes is not
// copied into a list of them.
class RtfWriter
{
public:
    explicit RtfWriter(const RunWalk &walk)
        : m_walk(walk)
    {}

    QByteArray write()
    {
        qsizetype textSize = 0;
        m_walk([&](QStringView text, RgbColor color, bool) {
            textSize += text.size();
            if (!text.isEmpty() && !m_colorIndex.contains(opaque(color))) {
                m_colorIndex.insert(opaque(color), int(m_colors.size()) + 1);
                m_colors.append(opaque(color));
            }
        });
        m_out.reserve(512 + textSize + textSize / 8);

        writeHeader();
        bool first = true;
        RgbColor color = 0;
        bool received = false;
        m_walk([&](QStringView text, RgbColor runColor, bool runReceived) {
            if (text.isEmpty())
                return;
            bool wroteWord = false;
            if (first || opaque(runColor) != color) {
                color = opaque(runColor);
                m_out.append("\\cf");
                appendNumber(m_out, m_colorIndex.value(color));
                wroteWord = true;
            }
            // Received text is marked with \protect, the attribute Word and WordPad give text the
            // user may not edit, which is exactly what the terminal does with it. Every reader
            // keeps or ignores it without changing how the text looks, unlike bold or underline,
            // and unlike a private destination it needs no matching close.
            if (first ? runReceived : runReceived != received) {
                received = runReceived;
                m_out.append(received ? "\\protect" : "\\protect0");
                wroteWord = true;
            }
            if (wroteWord)
                m_out.append(' ');
            first = false;
            writeText(text);
        });
        m_out.append("}\r\n");
        return m_out;
    }

private:
    void writeHeader()
    {
        // NSimSun (the monospaced SimSun) is on every Chinese Windows and keeps hex dumps in
        // columns; fontconfig maps the name to a monospaced CJK font on Linux. Its charset 134
        // tells readers that the \'hh fallbacks are GBK.
        m_out.append("{\\rtf1\\ansi\\ansicpg936\\deff0\\deflang2052"
                     "{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset134 NSimSun;}}\r\n"
                     "{\\colortbl;");
        for (RgbColor color : std::as_const(m_colors)) {
            m_out.append("\\red");
            appendNumber(m_out, rgbRed(color));
            m_out.append("\\green");
            appendNumber(m_out, rgbGreen(color));
            m_out.append("\\blue");
            appendNumber(m_out, rgbBlue(color));
            m_out.append(';');
        }
        m_out.append("}\r\n\\viewkind4\\uc1\\pard\\plain\\f0 ");
    }

    void writeText(QStringView text)
    {
        for (const QChar qc : text) {
            const char16_t c = qc.unicode();
            if (c >= 0x20 && c < 0x7f) {
                if (c == u'\\' || c == u'{' || c == u'}')
                    m_out.append('\\');
                m_out.append(char(c));
            } else if (c == u'\n') {
                m_out.append("\\par\r\n");
            } else if (c == u'\t') {
                m_out.append("\\tab ");
            } else if (c < 0x80) {
                // Other control characters as \uN: raw, a CR would be taken for file layout and
                // the rest upset other readers, which show a \uN of one as nothing or an entity.
                writeUnicode(c, "?");
            } else {
                writeUnicode(c, m_gbk.bytes(c));
            }
        }
    }

    void writeUnicode(char16_t c, const QByteArray &fallback)
    {
        if (fallback.size() != m_uc) {
            m_uc = int(fallback.size());
            m_out.append("\\uc");
            appendNumber(m_out, m_uc);
        }
        // unrtf skips a single token after \uN whatever \ucN says, so a two-byte fallback gets
        // a group of its own, whose end drops the stray byte there.
        const bool grouped = fallback.size() > 1;
        if (grouped)
            m_out.append('{');
        m_out.append("\\u");
        appendNumber(m_out, int(static_cast<qint16>(c)));
        for (char byte : fallback)
            appendHexByte(m_out, byte);
        if (grouped)
            m_out.append('}');
    }

    const RunWalk &m_walk;
    QByteArray m_out;
    QList<RgbColor> m_colors;
    QHash<RgbColor, int> m_colorIndex;
    GbkFallback m_gbk;
    int m_uc = 1;
};

} // namespace

QByteArray writeRtf(const TextRuns &runs)
{
    return writeRtf([&runs](const RunVisitor &visit) {
        for (const TextRun &run : runs)
            visit(run.text, run.color, run.received);
    });
}

QByteArray writeRtf(const RunWalk &runs)
{
    return RtfWriter(runs).write();
}
