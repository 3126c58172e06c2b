#include "core/typednumber.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();

QString repeated(const QString &piece, int times)
{
    return piece.repeated(times);
}

} // namespace

TEST(TypedNumber, LeadingNumberReadsWhatStandsAtTheStart)
{
    struct Case
    {
        QString text;
        double expected;
        const char *guards;
    };
    const Case cases[] = {
            {u""_s, 0, "empty text is 0"},
            {u"abc"_s, 0, "no number is 0"},
            {u"12"_s, 12, "plain digits"},
            {u"  \t12"_s, 12, "leading blanks and tabs"},
            {u"1 2"_s, 12, "blank between digits is skipped"},
            {u"\n1\t2 3"_s, 123, "line feeds and tabs between digits"},
            {u"-5"_s, -5, "minus sign"},
            {u"+5"_s, 5, "plus sign"},
            {u"- 5"_s, -5, "blank after the sign"},
            {u"--5"_s, 0, "two signs are no number"},
            {u"3.5"_s, 3.5, "fraction"},
            {u".5"_s, 0.5, "fraction without integer part"},
            {u"5."_s, 5, "point without fraction"},
            {u"."_s, 0, "a point alone is no number"},
            {u"1.2.3"_s, 1.2, "second point stops"},
            {u"1e2"_s, 100, "exponent E"},
            {u"1D2"_s, 100, "exponent D"},
            {u"1d-2"_s, 0.01, "negative exponent, lower case"},
            {u"1E+2"_s, 100, "explicit plus in the exponent"},
            {u"1 e 2"_s, 100, "blanks inside the exponent"},
            {u"1e"_s, 1, "E without digits is not part of the number"},
            {u"1e+"_s, 1, "E and sign without digits"},
            {u"12abc"_s, 12, "stops at a letter"},
            {u"0x10"_s, 0, "C hex prefix is not read"},
            {u"&H10"_s, 16, "hexadecimal"},
            {u"&hff"_s, 255, "hexadecimal, lower case"},
            {u"&H 1 F"_s, 31, "blanks inside hexadecimal"},
            {u"&O17"_s, 15, "octal"},
            {u"&O18"_s, 1, "8 is no octal digit"},
            {u"&H"_s, 0, "prefix without digits"},
            {u"&Hxyz"_s, 0, "prefix followed by no digit"},
            {u"&X1"_s, 0, "unknown prefix"},
            {u"&H10.5"_s, 16, "hexadecimal has no fraction"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        EXPECT_DOUBLE_EQ(leadingNumber(c.text), c.expected) << c.text.toStdString();
    }
}

TEST(TypedNumber, LeadingNumberSurvivesHostileInput)
{
    struct Case
    {
        QString text;
        double expected;
        const char *guards;
    };
    const Case cases[] = {
            {repeated(u"9"_s, 100000), Inf, "digit string far beyond double"},
            {u"-"_s + repeated(u"9"_s, 400), -Inf, "negative overflow"},
            {u"1e99999999999999999999999"_s, Inf, "exponent beyond any integer type"},
            {u"1e-99999999999999999999999"_s, 0, "tiny exponent underflows to zero"},
            {u"0e99999999999"_s, 0, "zero with a huge exponent stays zero"},
            {u"0."_s + repeated(u"0"_s, 5000) + u"1e5000"_s, 0.1,
             "leading fraction zeros offset by the exponent"},
            {u"1"_s + repeated(u"0"_s, 400) + u"e-400"_s, 1,
             "integer part beyond double brought back by the exponent"},
            {u"&H"_s + repeated(u"F"_s, 300), Inf, "hexadecimal beyond double"},
            {u"9007199254740993"_s, 9007199254740992.0, "2^53+1 rounds to even"},
            {u"9007199254740993."_s + repeated(u"0"_s, 1000) + u"1"_s, 9007199254740994.0,
             "a non-zero digit far behind the cut still rounds up"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        EXPECT_EQ(leadingNumber(c.text), c.expected);
    }
}

TEST(TypedNumber, ParseNumberWantsTheWholeText)
{
    struct Case
    {
        QString text;
        std::optional<double> expected;
        const char *guards;
    };
    const Case cases[] = {
            {u"12"_s, 12, "digits"},
            {u" 12 "_s, 12, "blanks around"},
            {u"\t7\n"_s, 7, "tab and line feed around"},
            {u"-3.5"_s, -3.5, "sign and fraction"},
            {u"1e3"_s, 1000, "exponent"},
            {u"2D1"_s, 20, "D exponent"},
            {u"&H1F"_s, 31, "hexadecimal"},
            {u"&O7"_s, 7, "octal"},
            {u""_s, std::nullopt, "empty"},
            {u"   "_s, std::nullopt, "blanks only"},
            {u"abc"_s, std::nullopt, "letters"},
            {u"12abc"_s, std::nullopt, "trailing letters"},
            {u"1 2"_s, std::nullopt, "blank inside"},
            {u"1e"_s, std::nullopt, "exponent without digits"},
            {u"."_s, std::nullopt, "point alone"},
            {u"+"_s, std::nullopt, "sign alone"},
            {u"&H"_s, std::nullopt, "prefix alone"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        EXPECT_EQ(parseNumber(c.text), c.expected) << c.text.toStdString();
    }
}

TEST(TypedNumber, RoundHalfEven)
{
    struct Case
    {
        double value;
        std::optional<qint64> expected;
    };
    const Case cases[] = {
            {0.5, 0},
            {1.5, 2},
            {2.5, 2},
            {3.5, 4},
            {-0.5, 0},
            {-1.5, -2},
            {-2.5, -2},
            {2.4999, 2},
            {2.5000001, 3},
            {-7.6, -8},
            {std::nan(""), std::nullopt},
            {Inf, std::nullopt},
            {-Inf, std::nullopt},
            {-9223372036854775808.0, std::numeric_limits<qint64>::min()},
            {9223372036854775808.0, std::nullopt},
            {1e300, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(roundHalfEven(c.value), c.expected);
    }
}

TEST(TypedNumber, LoopDelayIsAWholeNumberOfMillisecondsIn32Bits)
{
    struct Case
    {
        QString answer;
        std::optional<int> expected;
        const char *guards;
    };
    const Case cases[] = {
            {u"1000"_s, 1000, "the default answer"},
            {u"0"_s, 0, "no pause"},
            {u" 10 "_s, 10, "blanks around"},
            {u"1.5"_s, 2, "half rounds to even, up"},
            {u"2.5"_s, 2, "half rounds to even, down"},
            {u"1e3"_s, 1000, "exponent"},
            {u"-0.4"_s, 0, "rounds to zero, not negative"},
            {u"2147483647"_s, 2147483647, "largest 32-bit value"},
            {u"2147483648"_s, std::nullopt, "one beyond 32 bits"},
            {u"2147483647.5"_s, std::nullopt, "rounds beyond 32 bits"},
            {u"-1"_s, std::nullopt, "negative pause"},
            {u""_s, std::nullopt, "cancelled prompt"},
            {u"abc"_s, std::nullopt, "not a number"},
            {u"10ms"_s, std::nullopt, "number with a unit"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        EXPECT_EQ(loopDelay(c.answer), c.expected);
    }
}
