#include "port/networkaddress.h"

#include "support/qtprinters.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace Qt::StringLiterals;

TEST(NetworkAddress, ReadsTheTwoUrlFormsAndNothingElse)
{
    using K = NetworkAddress::Kind;
    struct Case
    {
        QString target;
        bool valid;
        K kind;
        QString host;
        int port;
        const char *guards;
    };
    const Case cases[] = {
            {u"rfc2217://lab-7:3001"_s, true, K::Rfc2217, u"lab-7"_s, 3001, "the usual form"},
            {u"socket://127.0.0.1:4000"_s, true, K::Socket, u"127.0.0.1"_s, 4000, "raw TCP"},
            {u"RFC2217://Host.example:1"_s, true, K::Rfc2217, u"Host.example"_s, 1,
             "scheme in capitals, lowest port"},
            {u"rfc2217://[::1]:65535"_s, true, K::Rfc2217, u"::1"_s, 65535,
             "IPv6 in brackets, highest port"},
            {u"socket://[fe80::1:2]:23"_s, true, K::Socket, u"fe80::1:2"_s, 23, "longer IPv6"},
            {u"rfc2217://机房-7:3001"_s, true, K::Rfc2217, u"机房-7"_s, 3001,
             "a name in Chinese goes to the resolver"},
            {u"rfc2217://lab-7:0"_s, false, K::Rfc2217, {}, 0, "port 0"},
            {u"rfc2217://lab-7:65536"_s, false, K::Rfc2217, {}, 0, "port beyond 16 bits"},
            {u"rfc2217://lab-7:+30"_s, false, K::Rfc2217, {}, 0, "signed port"},
            {u"rfc2217://lab-7: 30"_s, false, K::Rfc2217, {}, 0, "blank in the port"},
            {u"rfc2217://lab-7:3001/"_s, false, K::Rfc2217, {}, 0, "trailing slash"},
            {u"rfc2217://lab-7:3001?logging=debug"_s,
             false,
             K::Rfc2217,
             {},
             0,
             "pyserial options are not read, so they are not silently ignored"},
            {u"rfc2217://lab-7"_s, false, K::Rfc2217, {}, 0, "no port"},
            {u"rfc2217://:3001"_s, false, K::Rfc2217, {}, 0, "no host"},
            {u"rfc2217://::1:3001"_s, false, K::Rfc2217, {}, 0, "IPv6 without brackets"},
            {u"rfc2217://[::1]3001"_s, false, K::Rfc2217, {}, 0, "no colon after the bracket"},
            {u"rfc2217://[lab]:3001"_s, false, K::Rfc2217, {}, 0, "a name in brackets"},
            {u"rfc2217://user@lab:3001"_s, false, K::Rfc2217, {}, 0, "user part"},
            {u"rfc2217://lab 7:3001"_s, false, K::Rfc2217, {}, 0, "blank in the host"},
            {u"rfc2217://lab..7:3001"_s, false, K::Rfc2217, {}, 0, "empty label"},
            {u"telnet://lab:23"_s, false, K::Rfc2217, {}, 0, "other scheme"},
            {u"/dev/ttyUSB0"_s, false, K::Rfc2217, {}, 0, "a device path"},
            {u""_s, false, K::Rfc2217, {}, 0, "empty"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        const std::optional<NetworkAddress> address = NetworkAddress::parse(c.target);
        ASSERT_EQ(address.has_value(), c.valid);
        if (!address)
            continue;
        EXPECT_EQ(address->kind, c.kind);
        EXPECT_EQ(address->host, c.host);
        EXPECT_EQ(address->port, c.port);
        // What the messages show reads back to the same address.
        EXPECT_EQ(NetworkAddress::parse(address->toString()), address);
    }
}

TEST(NetworkAddress, ComesFromALinksOwnText)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto link = [&dir](const char *name, const char *target) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        EXPECT_EQ(::symlink(target, QFile::encodeName(path).constData()), 0);
        return path;
    };

    // The link's text, not the absolute path the file system would make of it.
    const std::optional<NetworkAddress> address
            = NetworkAddress::fromLink(link("COM5", "rfc2217://lab-7:3001"));
    ASSERT_TRUE(address.has_value());
    EXPECT_EQ(address->kind, NetworkAddress::Rfc2217);
    EXPECT_EQ(address->host, u"lab-7"_s);
    EXPECT_EQ(address->port, 3001);

    EXPECT_FALSE(NetworkAddress::fromLink(link("COM6", "/dev/ttyUSB0"))) << "a device";
    EXPECT_FALSE(NetworkAddress::fromLink(link("COM7", "rfc2217:/lab-7:3001"))) << "one slash";
    EXPECT_FALSE(NetworkAddress::fromLink(dir.filePath(u"COM8"_s))) << "no file";
    QFile plain(dir.filePath(u"COM9"_s));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write("rfc2217://lab-7:3001");
    plain.close();
    EXPECT_FALSE(NetworkAddress::fromLink(plain.fileName())) << "a file, not a link";
}
