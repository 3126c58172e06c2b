#include "platform/portpath.h"

#include "platform/configpaths.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

struct DeviceFamily
{
    int firstNumber;
    int count;
    QStringView prefix;
};

// Built-in serial ports first, then USB adapters, modems and the Raspberry Pi's UARTs.
constexpr DeviceFamily Families[] = {
        {1, 32, u"/dev/ttyS"},
        {33, 32, u"/dev/ttyUSB"},
        {65, 32, u"/dev/ttyACM"},
        {97, 3, u"/dev/ttyAMA"},
};

} // namespace

namespace PortPath {

QString portsDir()
{
    return ConfigPaths::portsDir();
}

QString linkPathFor(int number)
{
    return portsDir() + u"/COM"_s + QString::number(number);
}

QString devicePathFor(int number)
{
    if (number < 1)
        return {};
    const QString link = linkPathFor(number);
    // A dangling link still counts: opening then says where it points.
    if (QFileInfo(link).isSymLink())
        return link;
    for (const DeviceFamily &family : Families) {
        const int index = number - family.firstNumber;
        if (index >= 0 && index < family.count)
            return family.prefix.toString() + QString::number(index);
    }
    return {};
}

QString linkCommandFor(int number)
{
    QString example = u"/dev/ttyUSB0"_s;
    const QStringList present = QDir(u"/dev"_s).entryList({u"ttyUSB*"_s, u"ttyACM*"_s},
                                                          QDir::System | QDir::Files, QDir::Name);
    if (!present.isEmpty())
        example = u"/dev/"_s + present.first();
    return u"mkdir -p %1 && ln -sf %2 %3"_s.arg(portsDir(), example, linkPathFor(number));
}

} // namespace PortPath
