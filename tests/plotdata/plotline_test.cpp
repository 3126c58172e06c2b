#include "plotdata/plotline.h"
#include "plotdata/plotsamples.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// A value list written as "name=value" texts joined by '|', "NaN" and "inf" as such; "-" for
// no plot line. Compact enough for a table, and exact for the values used.
std::string describe(const std::optional<QList<PlotField>> &fields)
{
    if (!fields)
        return "-";
    std::string text;
    for (const PlotField &f : *fields) {
        if (!text.empty())
            text += '|';
        if (!f.name.isEmpty())
            text += f.name.toStdString() + '=';
        char number[64];
        std::snprintf(number, sizeof number, "%g", f.value);
        text += number;
    }
    return text;
}

} // namespace

TEST(PlotLine, ReadsNumbersNamesAndSeparators)
{
    struct Case
    {
        const char16_t *line;
        const char *expected;
        const char *guards;
    };
    const Case cases[] = {
            {u"1", "1", "one integer (%d)"},
            {u"-2.5,3.25,-4", "-2.5|3.25|-4", "commas, signs"},
            {u"+.5", "0.5", "leading plus, no integer part"},
            {u"1.", "1", "%#.0f writes a trailing point"},
            {u"1.500000 2.000000", "1.5|2", "%f with a blank"},
            {u"1e-3\t1.5E+03", "0.001|1500", "%e and %E, tab"},
            {u"1.5e+300;-7", "1.5e+300|-7", "semicolon"},
            {u"1, 2 ;\t3", "1|2|3", "separators run together count once"},
            {u"  4,5,  ", "4|5", "separators at both ends"},
            {u"inf,-inf,nan,-nan,INF,NAN", "inf|-inf|nan|-nan|inf|nan",
             "printf's non-finite words"},
            {u"1e999", "inf", "out of range is as good as infinite"},
            {u"temp:21.5,rpm:1200", "temp=21.5|rpm=1200", "colon names"},
            {u"temp=21.5 rpm=1200", "temp=21.5|rpm=1200", "equals names, blank between"},
            {u"temp: 21.5, 温度 = -3", "temp=21.5|温度=-3", "blanks around the sign, CJK name"},
            {u"x:1,2", "x=1|2", "named and unnamed mixed"},
            {u"", "-", "empty line"},
            {u" , ;", "-", "only separators"},
            {u"hello world", "-", "words"},
            {u"12,abc", "-", "one word spoils the line"},
            {u"21.5C", "-", "unit stuck to the number"},
            {u"0x1f", "-", "hexadecimal is not read"},
            {u"0x1.8p+1", "-", "%a is not read either"},
            {u"12:30:45", "-", "a time is not a name and a number"},
            {u"temp:", "-", "name without value"},
            {u":5", "-", "value without name"},
            {u"a:1:2", "-", "two signs"},
            {u"--1", "-", "double sign"},
            {u"+-1", "-", "plus minus"},
            {u"1..2", "-", "two points"},
            {u"1e", "-", "exponent without digits"},
            {u"１", "-", "full-width digit"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        EXPECT_EQ(describe(parsePlotLine(QStringView(c.line))), c.expected);
    }
}

TEST(PlotLine, KeepsSixteenChannels)
{
    QString line;
    for (int i = 1; i <= 20; ++i)
        line += QString::number(i) + u',';
    const auto fields = parsePlotLine(line);
    ASSERT_TRUE(fields);
    ASSERT_EQ(fields->size(), MaxPlotChannels);
    EXPECT_EQ(fields->back().value, 16);
}

TEST(PlotFeed, CutsLinesWhereverTheStreamBreaksThem)
{
    struct Case
    {
        QList<const char16_t *> pieces;
        QList<double> channel1;
        qint64 skipped;
        const char *guards;
    };
    const Case cases[] = {
            {{u"1,2\r\n3,4\r\n"}, {1, 3}, 0, "CR LF in one piece"},
            {{u"1", u"2.", u"5,7\n"}, {12.5}, 0, "a line split three times is one line"},
            {{u"1\r", u"\n2\n"}, {1, 2}, 0, "CR and LF in two pieces"},
            {{u"1\r2\r"}, {1, 2}, 0, "lone CRs"},
            {{u"5\n", u"6"}, {5}, 0, "an unfinished line waits"},
            {{u"boot ok\r\n7\r\n\r\n"}, {7}, 1, "junk and empty lines are skipped"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        PlotFeed feed;
        for (const char16_t *piece : c.pieces)
            feed.feed(QStringView(piece));
        const PlotSamples &s = feed.samples();
        QList<double> got;
        for (qint64 n = s.first(); n < s.end(); ++n)
            got.append(s.value(0, n));
        EXPECT_EQ(got, c.channel1);
        EXPECT_EQ(feed.skippedLines(), c.skipped);
    }
}

TEST(PlotFeed, NamesKeepTheirChannelAndMissingValuesAreGaps)
{
    PlotFeed feed;
    feed.feed(u"temp:20,rpm:1000\nrpm:1100,temp:21\nrpm:1200\n");
    const PlotSamples &s = feed.samples();
    ASSERT_EQ(s.channelCount(), 2);
    EXPECT_EQ(s.name(0), u"temp"_s);
    EXPECT_EQ(s.name(1), u"rpm"_s);
    EXPECT_EQ(s.value(0, 1), 21);
    EXPECT_EQ(s.value(1, 1), 1100);
    EXPECT_TRUE(std::isnan(s.value(0, 2)));
    EXPECT_EQ(s.value(1, 2), 1200);
}

TEST(PlotFeed, EndlessLineIsDroppedNotKept)
{
    PlotFeed feed;
    const QString digits(PlotFeed::MaxLineLength / 2, u'1');
    for (int i = 0; i < 10; ++i)
        feed.feed(digits);
    feed.feed(u"\n3\n");
    EXPECT_EQ(feed.plotLines(), 1);
    EXPECT_EQ(feed.samples().value(0, feed.samples().first()), 3);
}

TEST(PlotSamples, BoundDropsTheOldestFirst)
{
    PlotSamples s(PlotSamples::MinBound);
    for (int i = 0; i < 250; ++i)
        s.append({PlotField{QString(), double(i)}});
    EXPECT_EQ(s.first(), 150);
    EXPECT_EQ(s.end(), 250);
    EXPECT_EQ(s.value(0, 150), 150);
    EXPECT_EQ(s.value(0, 249), 249);

    s.setBound(1000);
    EXPECT_EQ(s.first(), 150);
    for (int i = 250; i < 1300; ++i)
        s.append({PlotField{QString(), double(i)}});
    EXPECT_EQ(s.first(), 300);
    EXPECT_EQ(s.value(0, 300), 300);
    EXPECT_EQ(s.value(0, 1299), 1299);

    s.setBound(PlotSamples::MinBound);
    EXPECT_EQ(s.first(), 1200);
    EXPECT_EQ(s.value(0, 1200), 1200);
    EXPECT_EQ(s.value(0, 1299), 1299);

    // A channel that appears after the ring wrapped has no earlier samples to carry over.
    s.append({PlotField{QString(), 1300}, PlotField{QString(), -1}});
    s.setBound(500);
    EXPECT_TRUE(std::isnan(s.value(1, 1250)));
    EXPECT_EQ(s.value(1, 1300), -1);
    EXPECT_EQ(s.value(0, 1201), 1201);
}
