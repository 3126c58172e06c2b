#include "helperprocess.h"

#include "core/configpaths.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHash>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <cstdio>
#include <grp.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr char RoleVariable[] = "VELMIR_TEST_HELPER_ROLE";
constexpr char ArgumentVariable[] = "VELMIR_TEST_HELPER_ARGUMENT";
constexpr int Nobody = 65534;
// The exit code of a role that could not become nobody.
constexpr int NoOrdinaryUser = 77;

QHash<QByteArray, HelperProcess::Role> &roles()
{
    static QHash<QByteArray, HelperProcess::Role> registered;
    return registered;
}

// Runs the role, if this process was started as a helper, once the test runner has started and
// before it runs any test.
class RoleEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        const QByteArray role = qgetenv(RoleVariable);
        if (role.isEmpty())
            return;
        const auto found = roles().constFind(role);
        const int code = found == roles().constEnd()
                                 ? 3
                                 : (*found)(qEnvironmentVariable(ArgumentVariable));
        std::fflush(stdout);
        // No test of this executable may run in the helper, nor any clean-up of the runner.
        ::_exit(code);
    }
};

} // namespace

bool HelperProcess::registerRole(const char *name, Role role)
{
    static const bool environmentAdded = [] {
        ::testing::AddGlobalTestEnvironment(new RoleEnvironment);
        return true;
    }();
    roles().insert(QByteArray(name), std::move(role));
    return environmentAdded;
}

std::unique_ptr<QProcess> HelperProcess::start(const QByteArray &role, const QString &argument)
{
    auto helper = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(RoleVariable), QString::fromLatin1(role));
    environment.insert(QString::fromLatin1(ArgumentVariable), argument);
    // The configuration folder the test handed the program, which the helper's program takes
    // from its environment.
    environment.insert(u"XDG_CONFIG_HOME"_s, ConfigPaths::configHome());
    helper->setProcessEnvironment(environment);
    helper->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper->start(QCoreApplication::applicationFilePath(), {});
    return helper;
}

QByteArray HelperProcess::run(const QByteArray &role, const QString &argument)
{
    const std::unique_ptr<QProcess> helper = start(role, argument);
    if (!helper->waitForFinished(60000) || helper->exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "the helper process '" << role.constData() << "' did not end normally";
        return QByteArray();
    }
    if (helper->exitCode() == NoOrdinaryUser)
        return cannotBecomeNobody();
    return helper->readAllStandardOutput();
}

QByteArray HelperProcess::waitForLine(QProcess &helper, const QList<QByteArray> &prefixes,
                                      int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        // The test runner greets first; those lines are skipped.
        while (helper.canReadLine()) {
            const QByteArray line = helper.readLine().trimmed();
            for (const QByteArray &prefix : prefixes) {
                if (line.startsWith(prefix))
                    return line;
            }
        }
        if (deadline.hasExpired()
            || !helper.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            return QByteArray();
    }
}

void HelperProcess::becomeNobody()
{
    if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0) {
        std::fflush(stdout);
        ::_exit(NoOrdinaryUser);
    }
}
