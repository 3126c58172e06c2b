#include "core/configpaths.h"

#include <QCoreApplication>
#include <QDir>

using namespace Qt::StringLiterals;

namespace {

QString &givenHome()
{
    static QString folder;
    return folder;
}

} // namespace

QString ConfigPaths::configHome()
{
    if (!givenHome().isEmpty())
        return givenHome();
    return configHomeFrom(qEnvironmentVariable("XDG_CONFIG_HOME"));
}

QString ConfigPaths::configHomeFrom(const QString &xdgConfigHome)
{
    // A relative value is invalid by the base-directory rules and is ignored.
    if (!xdgConfigHome.isEmpty() && QDir::isAbsolutePath(xdgConfigHome))
        return QDir::cleanPath(xdgConfigHome);
    return QDir::homePath() + u"/.config"_s;
}

void ConfigPaths::setConfigHome(const QString &folder)
{
    givenHome() = folder.isEmpty() ? QString() : QDir::cleanPath(folder);
}

QString ConfigPaths::appName()
{
    if (QCoreApplication::instance()) {
        const QString name = QCoreApplication::applicationName();
        if (!name.isEmpty())
            return name;
    }
    return u"velmir-rs232"_s;
}

QString ConfigPaths::appDir()
{
    return configHome() + u'/' + appName();
}

QString ConfigPaths::settingsFile()
{
    return appDir() + u'/' + appName() + u".ini"_s;
}

QString ConfigPaths::portsDir()
{
    return appDir() + u"/ports"_s;
}
