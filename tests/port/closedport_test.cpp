// The port's configuration while it is closed: port numbers to devices, the line-settings text
// and the handshaking code, and the answers a closed port gives. No device and no window needed.

#include "port/portpath.h"
#include "port/serialport.h"
#include "support/ptypair.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

TEST(PortPathTest, NumbersMapToDeviceFamiliesUnlessLinked)
{
    TempConfigHome home;
    const struct
    {
        int number;
        const char *device;
    } cases[] = {
            {1, "/dev/ttyS0"},
            {32, "/dev/ttyS31"},
            {33, "/dev/ttyUSB0"},
            {64, "/dev/ttyUSB31"},
            {65, "/dev/ttyACM0"},
            {96, "/dev/ttyACM31"},
            {97, "/dev/ttyAMA0"},
            {99, "/dev/ttyAMA2"},
            {100, ""},
            {0, ""},
            {-3, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(PortPath::devicePathFor(c.number), QString::fromLatin1(c.device));
    }

    // A link wins over the family, and beyond 99 it is the only way to a device.
    ASSERT_TRUE(home.linkPort(3, u"/dev/null"_s));
    ASSERT_TRUE(home.linkPort(150, u"/dev/zero"_s));
    EXPECT_EQ(PortPath::devicePathFor(3), home.portsDir() + u"/COM3"_s);
    EXPECT_EQ(PortPath::devicePathFor(150), home.portsDir() + u"/COM150"_s);
    EXPECT_EQ(PortPath::devicePathFor(4), u"/dev/ttyS3"_s);
}

TEST(SerialPortClosedTest, AnswersEveryReadWhileClosed)
{
    SerialPort port;
    EXPECT_EQ(port.commPort(), 1);
    EXPECT_EQ(port.settings(), u"9600,N,8,1"_s);
    EXPECT_EQ(port.handshaking(), 0);
    EXPECT_FALSE(port.portOpen());
    EXPECT_TRUE(port.dtrEnable());
    EXPECT_TRUE(port.rtsEnable());
    EXPECT_FALSE(port.cdHolding());
    EXPECT_FALSE(port.ctsHolding());
    EXPECT_FALSE(port.dsrHolding());
    EXPECT_EQ(port.bytesToWrite(), 0);
    EXPECT_FALSE(port.output("x").ok()) << "a closed port takes nothing";

    port.setDtrEnable(false);
    port.setRtsEnable(false);
    EXPECT_FALSE(port.dtrEnable());
    EXPECT_FALSE(port.rtsEnable());

    EXPECT_FALSE(port.output("x").ok());
    const Result closing = port.setPortOpen(false);
    EXPECT_FALSE(closing.ok());
    EXPECT_TRUE(closing.message().contains(u"COM1"_s)) << closing.message().toStdString();
}

TEST(SerialPortClosedTest, RefusesBadSettingsAndKeepsThePreviousOnes)
{
    const struct
    {
        const char *text;
        bool accepted;
        const char *why;
    } cases[] = {
            {"9600,N,8,1", true, "the default"},
            {"115200,E,7,2", true, "even parity, two stop bits"},
            {"300,O,6,1", true, "odd parity, 6 bits"},
            {"12345,M,8,1", true, "any positive speed, mark parity"},
            {"110,S,5,1.5", true, "one and a half stop bits with 5 data bits"},
            {"2400,N,5,2", true, "two stop bits with 5 data bits"},
            {"115200,S,7,1.5", false, "1.5 stop bits only with 5 data bits"},
            {"9600,N,4,1", false, "no 4-bit words on Linux"},
            {"9600,N,9,1", false, "9 data bits"},
            {"0,N,8,1", false, "speed zero"},
            {"-9600,N,8,1", false, "negative speed"},
            {"96a0,N,8,1", false, "speed not a number"},
            {"9600.5,N,8,1", false, "fractional speed"},
            {"99999999999,N,8,1", false, "speed beyond 32 bits"},
            {"9600,X,8,1", false, "unknown parity letter"},
            {"9600,,8,1", false, "empty parity, as an empty stored parity word gives"},
            {"9600,NO,8,1", false, "parity word instead of letter"},
            {"9600,N,8,3", false, "3 stop bits"},
            {"9600,N,8,0", false, "no stop bits"},
            {"9600,N,8", false, "three fields"},
            {"9600,N,8,1,1", false, "five fields"},
            {"", false, "empty text"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        SerialPort port;
        ASSERT_TRUE(port.setSettings(u"1200,N,8,1"_s).ok());
        const QString text = QString::fromLatin1(c.text);
        const Result result = port.setSettings(text);
        EXPECT_EQ(result.ok(), c.accepted) << result.message().toStdString();
        EXPECT_EQ(port.settings(), c.accepted ? text : u"1200,N,8,1"_s);
        if (!c.accepted) {
            EXPECT_TRUE(result.message().contains(text)) << result.message().toStdString();
        }
    }
}

TEST(SerialPortClosedTest, RefusesPortNumbersBelowOneAndHandshakingBeyondThree)
{
    SerialPort port;
    EXPECT_FALSE(port.setCommPort(0).ok());
    EXPECT_FALSE(port.setCommPort(-1).ok());
    EXPECT_EQ(port.commPort(), 1);
    EXPECT_TRUE(port.setCommPort(150).ok());
    EXPECT_EQ(port.commPort(), 150);

    for (int code : {-1, 4, 100}) {
        SCOPED_TRACE(code);
        EXPECT_FALSE(port.setHandshaking(code).ok());
        EXPECT_EQ(port.handshaking(), 0);
    }
    for (int code : {3, 2, 1, 0}) {
        EXPECT_TRUE(port.setHandshaking(code).ok());
        EXPECT_EQ(port.handshaking(), code);
    }
}

} // namespace
