// libFuzzer target for the lenient number reading of port names and typed delays: any text
// must read without fault, and the readers must agree with each other and with the rounding.
#include "core/portsettings.h"
#include "core/typednumber.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

void fail(const char *what, const QString &text)
{
    std::fprintf(stderr, "number_fuzz: %s for \"%s\"\n", what, qPrintable(text));
    std::abort();
}

bool same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

// Nearest integer, halves to even, and nothing else.
void checkRounding(double value, const QString &text)
{
    const std::optional<qint64> rounded = roundHalfEven(value);
    if (!std::isfinite(value)) {
        if (rounded)
            fail("a non-finite value rounded to an integer", text);
        return;
    }
    if (std::fabs(value) >= 9.2e18)
        return;
    if (!rounded)
        fail("a value well within 64 bits did not round", text);
    const double distance = std::fabs(double(*rounded) - value);
    if (distance > 0.5 || (distance == 0.5 && *rounded % 2 != 0))
        fail("not the nearest integer with halves to even", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // Mostly Latin-1, where the digits, signs, prefixes and blanks are dense; with the first
    // byte odd, UTF-16, so that any character can stand anywhere.
    const QString text = data[0] & 1
                                 ? QString::fromUtf16(reinterpret_cast<const char16_t *>(data + 1),
                                                      qsizetype((size - 1) / 2))
                                 : QString::fromLatin1(reinterpret_cast<const char *>(data + 1),
                                                       qsizetype(size - 1));

    const double leading = leadingNumber(text);
    if (std::isnan(leading))
        fail("the leading number is not a number", text);
    checkRounding(leading, text);

    // Something that can continue no number changes nothing at the end.
    if (!same(leadingNumber(text + u"Z"_s), leading))
        fail("a letter after the text changed the leading number", text);

    // A whole-text number is also the leading number.
    const std::optional<double> whole = parseNumber(text);
    if (whole && !same(*whole, leading))
        fail("the whole-text number differs from the leading number", text);

    // The delay is the whole-text number rounded, within 0 to 2^31 - 1, or nothing.
    const std::optional<int> delay = loopDelay(text);
    if (delay) {
        if (*delay < 0 || !whole || roundHalfEven(*whole) != qint64(*delay))
            fail("the delay is not the rounded whole-text number", text);
    } else if (whole) {
        const std::optional<qint64> rounded = roundHalfEven(*whole);
        if (rounded && *rounded >= 0 && *rounded <= std::numeric_limits<int>::max())
            fail("a delay within range was refused", text);
    }

    // The port number is the leading number after every "COM" is removed, in 16 bits.
    const Expected<int> port = portNumber(text);
    QString rest = text;
    rest.remove(u"COM"_s, Qt::CaseSensitive);
    const std::optional<qint64> expected = roundHalfEven(leadingNumber(rest));
    const bool fits = expected && *expected >= -32768 && *expected <= 32767;
    if (port.ok() != fits || (fits && qint64(*port) != *expected))
        fail("the port number is not the rounded leading number in 16 bits", text);
    if (!port.ok() && !port.message().contains(text))
        fail("the overflow message does not name the port", text);
    return 0;
}
