#include "core/typednumber.h"

#include <QStringView>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

int hexValue(QChar c)
{
    if (isDigit(c))
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

// Enough significant digits to round any decimal text correctly to a double; the digits after
// them only matter through whether one of them is not zero.
constexpr qsizetype MaxSignificantDigits = 780;
// Beyond this the value is infinite or zero whatever the digits; keeps the exponent arithmetic
// far from overflow on hostile input.
constexpr qint64 ExponentLimit = 100000;

// Walks the text one character of the number at a time, skipping blanks where they are allowed.
class Reader
{
public:
    Reader(QStringView text, bool blanksInside)
        : m_text(text)
        , m_blanksInside(blanksInside)
    {
        skipBlanks();
    }

    QChar peek()
    {
        if (m_blanksInside)
            skipBlanks();
        return m_pos < m_text.size() ? m_text[m_pos] : QChar();
    }
    void take() { ++m_pos; }
    qsizetype pos() const { return m_pos; }
    void setPos(qsizetype pos) { m_pos = pos; }
    bool atEndAfterBlanks()
    {
        skipBlanks();
        return m_pos == m_text.size();
    }

private:
    void skipBlanks()
    {
        while (m_pos < m_text.size() && isBlank(m_text[m_pos]))
            ++m_pos;
    }

    QStringView m_text;
    bool m_blanksInside;
    qsizetype m_pos = 0;
};

// Value of the &H or &O digits that follow; nullopt when there is not at least one digit.
std::optional<double> readPrefixed(Reader &reader, int base)
{
    double value = 0;
    bool any = false;
    for (;;) {
        const int digit = hexValue(reader.peek());
        if (digit < 0 || digit >= base)
            break;
        reader.take();
        value = value * base + digit;
        any = true;
    }
    return any ? std::optional<double>(value) : std::nullopt;
}

// Decimal exponent after E or D; leaves the reader before the letter when no digit follows.
std::optional<qint64> readExponent(Reader &reader)
{
    const qsizetype start = reader.pos();
    const QChar marker = reader.peek();
    if (marker != u'E' && marker != u'e' && marker != u'D' && marker != u'd')
        return std::nullopt;
    reader.take();
    bool negative = false;
    if (reader.peek() == u'+' || reader.peek() == u'-') {
        negative = reader.peek() == u'-';
        reader.take();
    }
    qint64 exponent = 0;
    bool any = false;
    while (isDigit(reader.peek())) {
        exponent = std::min(exponent * 10 + (reader.peek().unicode() - u'0'), ExponentLimit);
        reader.take();
        any = true;
    }
    if (!any) {
        reader.setPos(start);
        return std::nullopt;
    }
    return negative ? -exponent : exponent;
}

std::optional<double> readDecimal(Reader &reader)
{
    const qsizetype start = reader.pos();
    bool negative = false;
    if (reader.peek() == u'+' || reader.peek() == u'-') {
        negative = reader.peek() == u'-';
        reader.take();
    }

    // The value is 0.<significant> * 10^pointExponent.
    std::string significant;
    bool droppedNonZero = false;
    qint64 pointExponent = 0;
    bool anyDigit = false;
    auto addDigit = [&](QChar c, bool beforePoint) {
        anyDigit = true;
        if (significant.empty() && c == u'0') {
            if (!beforePoint)
                --pointExponent;
            return;
        }
        if (beforePoint)
            ++pointExponent;
        if (qsizetype(significant.size()) < MaxSignificantDigits)
            significant.push_back(char(c.unicode()));
        else if (c != u'0')
            droppedNonZero = true;
    };
    while (isDigit(reader.peek())) {
        addDigit(reader.peek(), true);
        reader.take();
    }
    if (reader.peek() == u'.') {
        reader.take();
        while (isDigit(reader.peek())) {
            addDigit(reader.peek(), false);
            reader.take();
        }
    }
    if (!anyDigit) {
        reader.setPos(start);
        return std::nullopt;
    }
    const qint64 exponent = readExponent(reader).value_or(0);

    double magnitude = 0;
    if (!significant.empty()) {
        if (droppedNonZero)
            significant.push_back('1');
        const qint64 total = pointExponent + exponent;
        if (total > ExponentLimit) {
            magnitude = std::numeric_limits<double>::infinity();
        } else if (total >= -ExponentLimit) {
            const std::string digits = "0." + significant + 'e' + std::to_string(total);
            const auto result
                    = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
            if (result.ec == std::errc::result_out_of_range)
                magnitude = total > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        }
    }
    return negative ? -magnitude : magnitude;
}

std::optional<double> readNumber(Reader &reader)
{
    if (reader.peek() == u'&') {
        const qsizetype start = reader.pos();
        reader.take();
        const QChar kind = reader.peek();
        if (kind == u'H' || kind == u'h' || kind == u'O' || kind == u'o') {
            reader.take();
            if (auto value = readPrefixed(reader, kind == u'H' || kind == u'h' ? 16 : 8))
                return value;
        }
        reader.setPos(start);
        return std::nullopt;
    }
    return readDecimal(reader);
}

} // namespace

double leadingNumber(const QString &text)
{
    Reader reader(text, true);
    return readNumber(reader).value_or(0.0);
}

std::optional<double> parseNumber(const QString &text)
{
    Reader reader(text, false);
    const auto value = readNumber(reader);
    if (!value || !reader.atEndAfterBlanks())
        return std::nullopt;
    return value;
}

std::optional<qint64> roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    double rounded = std::round(value);
    if (std::fabs(rounded - value) == 0.5 && std::fmod(rounded, 2.0) != 0.0)
        rounded -= std::copysign(1.0, value);
    // 2^63 is exact as a double; every double below it converts without overflow.
    constexpr double limit = 9223372036854775808.0;
    if (rounded < -limit || rounded >= limit)
        return std::nullopt;
    return static_cast<qint64>(rounded);
}

std::optional<int> loopDelay(const QString &answer)
{
    const auto number = parseNumber(answer);
    if (!number)
        return std::nullopt;
    const auto rounded = roundHalfEven(*number);
    if (!rounded || *rounded < 0 || *rounded > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(*rounded);
}
