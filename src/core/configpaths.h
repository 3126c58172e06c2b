#pragma once

#include <QString>

// Where the program keeps its per-user files: ~/.config/<app>/<app>.ini for the six settings
// and ~/.config/<app>/ports for what the serial port layer needs to remember. The application
// name is the executable's, so a renamed copy keeps settings of its own.
namespace ConfigPaths {
// The folder set with setConfigHome, else $XDG_CONFIG_HOME when it is an absolute path, else
// ~/.config.
QString configHome();
// The rule for the environment's value: an absolute path, else ~/.config.
QString configHomeFrom(const QString &xdgConfigHome);
// Hands the program a configuration folder of its own (a test's temporary one) instead of the
// environment's; empty goes back to the environment.
void setConfigHome(const QString &folder);
// The running application's name, "velmir-rs232" before there is one.
QString appName();
QString appDir();
QString settingsFile();
QString portsDir();
} // namespace ConfigPaths
