#include "core/messages.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// The lines of the message that are commands to type: indented on lines of their own.
QStringList commandsIn(const QString &message)
{
    QStringList commands;
    for (const QString &line : message.split(u'\n')) {
        if (line.startsWith(u"    "_s))
            commands.append(line.trimmed());
    }
    return commands;
}

} // namespace

TEST(PermissionMessage, NamesTheDeviceAndOnlyTheStepThatWouldHelp)
{
    using Device = Messages::DeniedDevice;
    struct Case
    {
        Device device;
        QString rights;
        QStringList commands;
        QString says;
        const char *guards;
    };
    const Case cases[] = {
            {{u"/dev/x"_s, u"ttyUSB0"_s, u"root"_s, u"dialout"_s, 0660, false, false, false},
             u"所有者是 root，组是 dialout，权限 rw-rw----（0660）"_s,
             {u"sudo usermod -aG dialout $USER"_s},
             u"重新登录"_s,
             "the group may read and write: joining it helps"},
            {{u"/dev/x"_s, u"ttyS0"_s, u"root"_s, u"uucp"_s, 0660, false, false, false},
             u"组是 uucp"_s,
             {u"sudo usermod -aG uucp $USER"_s},
             u"加入该组"_s,
             "the device's own group, not always dialout"},
            {{u"/dev/x"_s, u"ttyS0"_s, u"root"_s, u"root"_s, 0600, false, false, false},
             u"权限 rw-------（0600）"_s,
             {u"KERNEL==\"ttyS0\", GROUP=\"dialout\", MODE=\"0660\""_s,
              u"sudo usermod -aG dialout $USER"_s},
             u"加入这个组也没有用"_s,
             "root:root 0600: no group helps, a udev rule would"},
            {{u"/dev/x"_s, u"ttyACM0"_s, u"root"_s, u"dialout"_s, 0660, false, true, false},
             u"组是 dialout"_s,
             {},
             u"注销并重新登录"_s,
             "already joined, this login does not have it yet"},
            {{u"/dev/x"_s, u"ttyUSB1"_s, u"me"_s, u"me"_s, 0, true, true, true},
             u"权限 ---------（0000）"_s,
             {u"chmod u+rw %1"_s},
             u"设备属于您"_s,
             "the user's own device without rights"},
            {{u"/dev/x"_s, u"ttyUSB2"_s, u"root"_s, u"dialout"_s, 0666, false, true, true},
             u"rw-rw-rw-"_s,
             {},
             u"ACL"_s,
             "the bits allow it: something else refused"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guards);
        const QString message = Messages::permissionDenied(u"COM33 (/dev/x)"_s, c.device);
        EXPECT_TRUE(message.startsWith(u"无法打开 COM33 (/dev/x)：没有权限。"_s))
                << message.toStdString();
        EXPECT_TRUE(message.contains(c.rights)) << message.toStdString();
        EXPECT_TRUE(message.contains(c.says)) << message.toStdString();
        QStringList expected = c.commands;
        for (QString &command : expected)
            command = command.arg(u"/dev/x"_s);
        EXPECT_EQ(commandsIn(message), expected) << message.toStdString();
        // A command is typed as a whole: no part of one sits in the running text.
        if (!c.commands.contains(u"sudo usermod -aG dialout $USER"_s)) {
            EXPECT_FALSE(message.contains(u"usermod -aG dialout"_s)) << message.toStdString();
        }
    }
}
