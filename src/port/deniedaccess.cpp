#include "port/deniedaccess.h"

#include <QFileInfo>
#include <QString>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

Messages::DeniedDevice deniedDeviceOf(const QByteArray &path)
{
    Messages::DeniedDevice device;
    device.path = QFile::decodeName(path);
    device.name = QFileInfo(device.path).fileName();
    struct stat st
    {
    };
    if (::stat(path.constData(), &st) != 0)
        return device;
    device.mode = st.st_mode & 07777;
    const uid_t uid = ::geteuid();
    device.userIsOwner = st.st_uid == uid;

    // Owner and group by name where the system knows them, else by number.
    const passwd *owner = ::getpwuid(st.st_uid);
    device.owner = owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(st.st_uid);
    const group *deviceGroup = ::getgrgid(st.st_gid);
    device.group = deviceGroup ? QString::fromLocal8Bit(deviceGroup->gr_name)
                               : QString::number(st.st_gid);

    // Listed in the group database: the user's own group, or a member of it by name.
    const passwd *user = ::getpwuid(uid);
    if (user && user->pw_gid == st.st_gid)
        device.userInGroup = true;
    if (user && deviceGroup) {
        for (char **member = deviceGroup->gr_mem; member && *member; ++member) {
            if (qstrcmp(*member, user->pw_name) == 0)
                device.userInGroup = true;
        }
    }

    // What this process has now, which only a new login brings in line with the database.
    device.processHasGroup = ::getegid() == st.st_gid;
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> groups(static_cast<size_t>(count));
        const int got = ::getgroups(count, groups.data());
        for (int i = 0; i < got; ++i)
            device.processHasGroup = device.processHasGroup || groups[size_t(i)] == st.st_gid;
    }
    return device;
}
