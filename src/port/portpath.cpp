#include "port/portpath.h"

#include "core/configpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

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

QHash<QString, QString> knownDevices()
{
    QHash<QString, QString> known;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        const QString description
                = port.description().isEmpty() ? port.manufacturer() : port.description();
        known.insert(port.systemLocation(), description.trimmed());
    }
    return known;
}

QString describeTarget(int number, const QHash<QString, QString> &known)
{
    const QString path = devicePathFor(number);
    if (path.isEmpty())
        return {};
    const QFileInfo entry(path);
    // A link to /dev/serial/by-id/... names the adapter, and the system knows it by the
    // device it finally leads to.
    const QString target = entry.isSymLink() ? entry.symLinkTarget() : path;
    const QString device = entry.canonicalFilePath();

    QString text = target;
    if (!device.isEmpty() && device != target)
        text += u" ("_s + device + u')';
    const auto found = known.constFind(device.isEmpty() ? target : device);
    if (found != known.constEnd() && !found->isEmpty())
        text += u" — "_s + *found;
    if (found != known.constEnd())
        text += u" (已连接)"_s;
    else if (!device.isEmpty())
        text += u" (设备文件存在)"_s;
    else
        text += u" (不存在)"_s;
    if (entry.isSymLink())
        text += u"\n经由链接 "_s + QDir::toNativeSeparators(path);
    return text;
}

} // namespace PortPath
