// libFuzzer target for the conversion of a typed line: any UTF-16 text, lone surrogates and
// carriage returns included, must convert without fault, and the escapes must expand as the
// plain rule says (every "<n>" for n = 0 to 255 in turn, each pass over the text as it stands).
#include "core/lineconvert.h"

#include <QStringEncoder>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Bytes from escapes at 128 and above are kept apart from typed characters of the same value.
constexpr char32_t EscapedHigh = 0x110000;

void fail(const char *what)
{
    std::fprintf(stderr, "lineconvert_fuzz: %s\n", what);
    std::abort();
}

// The rule written the slow, obvious way: find each "<n>" with std::search, replace it, go on
// after the replacement.
std::vector<char32_t> expandedReference(const QString &line)
{
    std::vector<char32_t> units;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == u'\r')
            continue;
        if (c.isHighSurrogate() && i + 1 < line.size() && line[i + 1].isLowSurrogate()) {
            units.push_back(QChar::surrogateToUcs4(c, line[i + 1]));
            ++i;
        } else {
            units.push_back(c.unicode());
        }
    }
    for (int n = 0; n <= 255; ++n) {
        const std::string text = '<' + std::to_string(n) + '>';
        const std::vector<char32_t> escape(text.begin(), text.end());
        const char32_t byte = n < 0x80 ? char32_t(n) : EscapedHigh + char32_t(n);
        auto at = units.begin();
        while ((at = std::search(at, units.end(), escape.begin(), escape.end())) != units.end()) {
            at = units.erase(at, at + qsizetype(escape.size()));
            at = units.insert(at, byte) + 1;
        }
    }
    return units;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the CR flag, the rest is the line as UTF-16.
    const bool sendCr = data[0] & 1;
    const QString line = QString::fromUtf16(reinterpret_cast<const char16_t *>(data + 1),
                                            qsizetype((size - 1) / 2));

    const ConvertedLine converted = convertLine(line, sendCr);
    const ConvertedLine withoutCr = convertLine(line, false);
    const std::vector<char32_t> units = expandedReference(line);

    // The count is one per character after expansion, plus the CR.
    if (converted.count != int(units.size()) + (sendCr ? 1 : 0))
        fail("the count is not one per character plus the CR");
    if (converted.bytes != (sendCr ? withoutCr.bytes + '\r' : withoutCr.bytes))
        fail("the CR flag does not append exactly one CR");

    // Bytes: escapes and ASCII one each; a typed character beyond ASCII as the code page has
    // it, one at a time, and '?' where the code page has nothing for it.
    QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
    QByteArray expected;
    for (const char32_t u : units) {
        if (u < 0x80) {
            expected.append(char(u));
        } else if (u >= EscapedHigh) {
            expected.append(char(u - EscapedHigh));
        } else {
            const QByteArray bytes = encoder.encode(QString::fromUcs4(&u, 1));
            expected.append(bytes.isEmpty() ? QByteArray(1, '?') : bytes);
        }
    }
    if (withoutCr.bytes != expected)
        fail("the bytes differ from the escapes expanded by the plain rule");
    return 0;
}
