#include "core/lineconvert.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// One character of the line while the escapes are expanded: a typed character is its code
// point, a byte from an escape below 128 is the same as the typed ASCII character (so that it
// can help form a later escape), a byte from 128 up is kept apart from any typed character.
using Unit = char32_t;
constexpr Unit EscapedHighByte = 0x110000;

Unit byteUnit(int byte)
{
    return byte < 0x80 ? Unit(byte) : EscapedHighByte + Unit(byte);
}

std::vector<Unit> typedUnits(const QString &line, bool dropCr = true)
{
    std::vector<Unit> units;
    units.reserve(size_t(line.size()));
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (dropCr && c == u'\r')
            continue;
        if (c.isHighSurrogate() && i + 1 < line.size() && line[i + 1].isLowSurrogate()) {
            units.push_back(QChar::surrogateToUcs4(c, line[i + 1]));
            ++i;
        } else {
            units.push_back(c.unicode());
        }
    }
    return units;
}

// Replaces every "<n>" by byte n, left to right, without overlapping; the text is rewritten in
// place only when it holds the escape at all.
void expandEscape(std::vector<Unit> &units, int n)
{
    const std::string digits = std::to_string(n);
    const size_t length = digits.size() + 2;
    auto matchesAt = [&](size_t i) {
        if (units[i] != u'<' || i + length > units.size() || units[i + length - 1] != u'>')
            return false;
        for (size_t k = 0; k < digits.size(); ++k) {
            if (units[i + 1 + k] != Unit(digits[k]))
                return false;
        }
        return true;
    };

    size_t read = 0;
    while (read < units.size() && !matchesAt(read))
        ++read;
    if (read == units.size())
        return;
    size_t write = read;
    while (read < units.size()) {
        if (matchesAt(read)) {
            units[write++] = byteUnit(n);
            read += length;
        } else {
            units[write++] = units[read++];
        }
    }
    units.resize(write);
}

// Typed characters beyond ASCII in code page 936. The converter leaves out what it deems
// invisible (soft hyphens, zero-width and direction marks, variation selectors, lone
// surrogates) where Windows sends '?'. Every typed character is counted and must reach the
// line, so those go out as '?' like any other character the code page cannot hold.
QByteArray encodeRun(QStringEncoder &encoder, const Unit *units, qsizetype count)
{
    QByteArray bytes = encoder.encode(QString::fromUcs4(units, count));
    // Read back, every character that went out is one character again: none was left out.
    QStringDecoder back("GBK");
    if (QString(back.decode(bytes)).size() == count)
        return bytes;
    bytes.clear();
    for (qsizetype k = 0; k < count; ++k) {
        const QByteArray one = encoder.encode(QString::fromUcs4(units + k, 1));
        bytes += one.isEmpty() ? QByteArray(1, '?') : one;
    }
    return bytes;
}

// Typed characters beyond ASCII in UTF-8. A lone surrogate is no character and goes out as '?',
// so that every counted character still reaches the line.
QByteArray encodeRunUtf8(const Unit *units, qsizetype count)
{
    QByteArray bytes;
    bytes.reserve(count * 4);
    for (qsizetype k = 0; k < count; ++k) {
        const Unit u = units[k];
        if (u >= 0xD800 && u <= 0xDFFF) {
            bytes.append('?');
        } else if (u < 0x800) {
            bytes.append(char(0xC0 | (u >> 6)));
            bytes.append(char(0x80 | (u & 0x3F)));
        } else if (u < 0x10000) {
            bytes.append(char(0xE0 | (u >> 12)));
            bytes.append(char(0x80 | ((u >> 6) & 0x3F)));
            bytes.append(char(0x80 | (u & 0x3F)));
        } else {
            bytes.append(char(0xF0 | (u >> 18)));
            bytes.append(char(0x80 | ((u >> 12) & 0x3F)));
            bytes.append(char(0x80 | ((u >> 6) & 0x3F)));
            bytes.append(char(0x80 | (u & 0x3F)));
        }
    }
    return bytes;
}

} // namespace

QByteArray encodeText(const QString &text, TextEncoding encoding)
{
    if (encoding == TextEncoding::Utf8) {
        const std::vector<Unit> units = typedUnits(text, false);
        return encodeRunUtf8(units.data(), qsizetype(units.size()));
    }
    QStringEncoder toGbk("GBK");
    Q_ASSERT(toGbk.isValid());
    return toGbk.encode(text);
}

ConvertedLine convertLine(const QString &line, bool sendCr, TextEncoding encoding)
{
    std::vector<Unit> units = typedUnits(line);
    if (std::find(units.begin(), units.end(), Unit(u'<')) != units.end()) {
        for (int n = 0; n <= 255; ++n)
            expandEscape(units, n);
    }

    ConvertedLine result;
    result.bytes.reserve(qsizetype(units.size()) * 2 + 1);
    // Without the system's converter a character beyond ASCII goes out as '?', as Windows sends
    // what the code page cannot hold. Stateless: a lone surrogate at the end of one run of typed
    // characters must not carry over into the next run.
    QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
    for (size_t i = 0; i < units.size();) {
        const Unit u = units[i];
        if (u < 0x80) {
            result.bytes.append(char(u));
            ++i;
        } else if (u >= EscapedHighByte) {
            result.bytes.append(char(u - EscapedHighByte));
            ++i;
        } else {
            // A run of typed characters beyond ASCII goes through the encoder in one call.
            size_t end = i;
            while (end < units.size() && units[end] >= 0x80 && units[end] < EscapedHighByte)
                ++end;
            if (encoding == TextEncoding::Utf8)
                result.bytes.append(encodeRunUtf8(&units[i], qsizetype(end - i)));
            else if (encoder.isValid())
                result.bytes.append(encodeRun(encoder, &units[i], qsizetype(end - i)));
            else
                result.bytes.append(QByteArray(qsizetype(end - i), '?'));
            i = end;
        }
    }
    if (sendCr)
        result.bytes.append('\r');
    result.count = int(units.size()) + (sendCr ? 1 : 0);
    return result;
}
