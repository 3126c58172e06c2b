#include "core/configpaths.h"

#include <QCoreApplication>
#include <QDir>

using namespace Qt::StringLiterals;

QString ConfigPaths::configHome()
{
    const QString fromEnvironment = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is invalid by the base-directory rules and is ignored.
    if (!fromEnvironment.isEmpty() && QDir::isAbsolutePath(fromEnvironment))
        return QDir::cleanPath(fromEnvironment);
    return QDir::homePath() + u"/.config"_s;
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
