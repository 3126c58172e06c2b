#include "plotdata/plotline.h"

#include <charconv>
#include <cmath>

namespace {

bool isSeparator(QChar c)
{
    return c == u',' || c == u' ' || c == u'\t' || c == u';';
}

bool isBinder(QChar c)
{
    return c == u':' || c == u'=';
}

// A decimal number as printf writes it, and nothing else: from_chars takes no leading '+' and,
// in the general format, no hexadecimal, and it reads the same whatever the locale.
std::optional<double> parseNumber(QStringView token)
{
    if (token.isEmpty() || token.size() > 64)
        return std::nullopt;
    char buffer[64];
    qsizetype length = 0;
    for (QChar c : token) {
        if (c.unicode() > 127)
            return std::nullopt;
        buffer[length++] = char(c.unicode());
    }
    const char *begin = buffer;
    const char *end = buffer + length;
    if (*begin == '+') {
        ++begin;
        if (begin == end || *begin == '-' || *begin == '+')
            return std::nullopt;
    }
    double value = 0;
    const auto [at, error] = std::from_chars(begin, end, value, std::chars_format::general);
    // An out-of-range number (1e999) is as good as infinite for a plot.
    if (error == std::errc::result_out_of_range && at == end)
        return *begin == '-' ? -INFINITY : INFINITY;
    if (error != std::errc() || at != end)
        return std::nullopt;
    return value;
}

// A name starts with a letter or an underscore, so that times such as 12:30 are not names.
bool isName(QStringView token)
{
    if (token.isEmpty() || !(token.front().isLetter() || token.front() == u'_'))
        return false;
    for (QChar c : token) {
        if (isSeparator(c) || isBinder(c))
            return false;
    }
    return true;
}

} // namespace

std::optional<QList<PlotField>> parsePlotLine(QStringView line)
{
    QList<PlotField> fields;
    qsizetype at = 0;
    const qsizetype size = line.size();
    const auto skipBlanks = [&] {
        while (at < size && (line[at] == u' ' || line[at] == u'\t'))
            ++at;
    };
    const auto readToken = [&] {
        const qsizetype from = at;
        while (at < size && !isSeparator(line[at]) && !isBinder(line[at]))
            ++at;
        return line.sliced(from, at - from);
    };
    while (true) {
        while (at < size && isSeparator(line[at]))
            ++at;
        if (at == size)
            break;
        QStringView token = readToken();
        PlotField field;
        skipBlanks();
        if (at < size && isBinder(line[at])) {
            // "name:value", "name = value": blanks may stand around the sign.
            if (!isName(token))
                return std::nullopt;
            field.name = token.toString();
            ++at;
            skipBlanks();
            token = readToken();
        }
        const std::optional<double> value = parseNumber(token);
        if (!value)
            return std::nullopt;
        field.value = *value;
        if (fields.size() < MaxPlotChannels)
            fields.append(field);
    }
    if (fields.isEmpty())
        return std::nullopt;
    return fields;
}
