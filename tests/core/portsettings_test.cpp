#include "core/portsettings.h"

#include "support/memorysettingsstore.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QStringList KeyOrder
        = {u"Comport"_s, u"Baud"_s, u"Databit"_s, u"Parity"_s, u"Stopbit"_s, u"Flow"_s};

} // namespace

TEST(PortSettings, EmptyStoreGivesDefaultsAndWritesNothing)
{
    MemorySettingsStore store;
    const PortSettings s = PortSettings::load(store);

    EXPECT_EQ(s.comport, u"COM1"_s);
    EXPECT_EQ(s.baud, u"9600"_s);
    EXPECT_EQ(s.databit, u"8"_s);
    EXPECT_EQ(s.parity, u"None"_s);
    EXPECT_EQ(s.stopbit, u"1"_s);
    EXPECT_EQ(s.flow, u"None"_s);
    EXPECT_EQ(store.reads(), KeyOrder);
    EXPECT_EQ(store.saveCount(), 0);

    EXPECT_EQ(lineSettingsText(s), u"9600,N,8,1"_s);
    EXPECT_EQ(portNumber(s.comport).value(), 1);
    EXPECT_EQ(handshakingCode(s.flow), 0);
}

TEST(PortSettings, StoredEmptyTextIsNotReplacedByTheDefault)
{
    MemorySettingsStore store;
    store.set(u"Parity"_s, QString());
    store.set(u"Baud"_s, u"115200"_s);
    const PortSettings s = PortSettings::load(store);
    EXPECT_EQ(s.parity, QString());
    EXPECT_EQ(s.baud, u"115200"_s);
    EXPECT_EQ(lineSettingsText(s), u"115200,,8,1"_s);
}

TEST(PortSettings, SaveWritesAllSixInOrderAndLoadsBack)
{
    MemorySettingsStore store;
    PortSettings s;
    s.comport = u"COM7"_s;
    s.baud = u"19200"_s;
    s.databit = u"7"_s;
    s.parity = u"Even"_s;
    s.stopbit = u"2"_s;
    s.flow = u"RTS"_s;
    s.save(store);

    ASSERT_EQ(store.saveCount(), 6);
    QStringList savedKeys;
    for (const auto &save : store.saves())
        savedKeys << save.first;
    EXPECT_EQ(savedKeys, KeyOrder);
    EXPECT_EQ(PortSettings::load(store), s);
}

TEST(PortSettings, LineSettingsTextTakesTheTextsAsStored)
{
    struct Case
    {
        QString baud, parity, databit, stopbit, expected;
    };
    const Case cases[] = {
            {u"9600"_s, u"None"_s, u"8"_s, u"1"_s, u"9600,N,8,1"_s},
            {u"115200"_s, u"Space"_s, u"7"_s, u"1.5"_s, u"115200,S,7,1.5"_s},
            {u"300"_s, u"Mark"_s, u"5"_s, u"2"_s, u"300,M,5,2"_s},
            {u"9600"_s, u"odd"_s, u"8"_s, u"1"_s, u"9600,o,8,1"_s},
            {u" 9600"_s, u"Even"_s, u"8 "_s, u"1"_s, u" 9600,E,8 ,1"_s},
            {u"9600"_s, u""_s, u"8"_s, u"1"_s, u"9600,,8,1"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        PortSettings s;
        s.baud = c.baud;
        s.parity = c.parity;
        s.databit = c.databit;
        s.stopbit = c.stopbit;
        EXPECT_EQ(lineSettingsText(s), c.expected);
    }
}

TEST(PortSettings, PortNumberReadsTheNumberLeftAfterRemovingCom)
{
    struct Case
    {
        QString comport;
        int expected;
        const char *guards;
    };
    const Case cases[] = {
            {u"COM1"_s, 1, "default"},
            {u"COM12"_s, 12, "two digits"},
            {u"COM3COM"_s, 3, "every COM removed"},
            {u"CO3M"_s, 0, "COM not adjacent is kept"},
            {u"COM"_s, 0, "no number"},
            {u"com4"_s, 0, "lower case is not removed"},
            {u"COM 5"_s, 5, "blank before the number"},
            {u"COM1 0"_s, 10, "blank between digits"},
            {u"COM&H10"_s, 16, "hexadecimal"},
            {u"COM&O17"_s, 15, "octal"},
            {u"COM2.5"_s, 2, "half to even, down"},
            {u"COM3.5"_s, 4, "half to even, up"},
            {u"COM1e2"_s, 100, "exponent E"},
            {u"COM1D2"_s, 100, "exponent D"},
            {u"COM32767"_s, 32767, "upper end of 16 bits"},
            {u"COM-32768"_s, -32768, "lower end of 16 bits"},
            {u"COM-0.5"_s, 0, "negative half to zero"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        const Expected<int> n = portNumber(c.comport);
        ASSERT_TRUE(n.ok()) << n.message().toStdString();
        EXPECT_EQ(n.value(), c.expected);
    }
}

TEST(PortSettings, PortNumberBeyond16BitsIsAnOverflowThatNamesTheValue)
{
    struct Case
    {
        QString comport;
        QString named;
    };
    const Case cases[] = {
            {u"COM40000"_s, u"40000"_s},     {u"COM32768"_s, u"32768"_s},
            {u"COM32767.5"_s, u"32767.5"_s}, {u"COM-32769"_s, u"-32769"_s},
            {u"COM&H8000"_s, u"32768"_s},    {u"COM"_s + u"9"_s.repeated(5000), u"inf"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.named.toStdString());
        const Expected<int> n = portNumber(c.comport);
        ASSERT_FALSE(n.ok());
        EXPECT_TRUE(n.message().contains(u"溢出"_s)) << n.message().toStdString();
        EXPECT_TRUE(n.message().contains(c.named)) << n.message().toStdString();
    }
}

TEST(PortSettings, HandshakingWordsAreExact)
{
    struct Case
    {
        QString flow;
        std::optional<int> expected;
    };
    const Case cases[] = {
            {u"None"_s, 0},
            {u"XonXoff"_s, 1},
            {u"RTS"_s, 2},
            {u"RTSXonXoff"_s, 3},
            {u"xonxoff"_s, std::nullopt},
            {u"NONE"_s, std::nullopt},
            {u"RTS "_s, std::nullopt},
            {u""_s, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flow.toStdString());
        EXPECT_EQ(handshakingCode(c.flow), c.expected);
    }
}
