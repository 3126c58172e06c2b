#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <functional>
#include <memory>

// This test executable started again as a helper process in a named role, for what a test
// cannot do inside its own process: hold a device as another program would, or act as an
// ordinary user while the tests run as root. A role runs before any test, prints what it saw
// on its standard output, and ends the process with its return value.
namespace HelperProcess {

using Role = std::function<int(const QString &argument)>;

// Registers a role under a name; call it from a static initializer of the test file.
bool registerRole(const char *name, Role role);

// Starts a role; the environment, XDG_CONFIG_HOME included, is the test's.
std::unique_ptr<QProcess> start(const QByteArray &role, const QString &argument);
// Runs a role to its end and gives what it printed; adds a test failure if it did not end.
QByteArray run(const QByteArray &role, const QString &argument = QString());
// The first line a running role printed that starts with one of the prefixes ("" on timeout).
QByteArray waitForLine(QProcess &helper, const QList<QByteArray> &prefixes, int timeoutMs = 20000);

// Inside a role: gives up root for the user and group nobody; where that is not possible the
// helper ends at once, and run() gives cannotBecomeNobody().
void becomeNobody();
// What run() returns when a role could not become nobody.
inline QByteArray cannotBecomeNobody()
{
    return QByteArrayLiteral("cannot become an ordinary user");
}

} // namespace HelperProcess
