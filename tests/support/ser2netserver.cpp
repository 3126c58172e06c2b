#include "ser2netserver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int StartTimeoutMs = 10000;
constexpr int StopTimeoutMs = 5000;
constexpr int PollMs = 10;
// A port chosen as free may be taken by someone else before ser2net binds it: choose again.
constexpr int StartAttempts = 3;

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

} // namespace

QString Ser2NetServer::program()
{
    // Root's PATH has /usr/sbin; an ordinary user's often does not.
    QString path = QStandardPaths::findExecutable(u"ser2net"_s);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(u"ser2net"_s, {u"/usr/sbin"_s, u"/sbin"_s});
    return path;
}

Ser2NetServer::Ser2NetServer(const QString &device, Accepter accepter, const QString &connector)
    : m_device(device)
    , m_accepter(accepter)
    , m_connector(connector)
{}

Ser2NetServer::~Ser2NetServer()
{
    stop();
}

QString Ser2NetServer::url() const
{
    const QString scheme = m_accepter == Accepter::Tcp ? u"socket"_s : u"rfc2217"_s;
    return u"%1://127.0.0.1:%2"_s.arg(scheme, QString::number(m_port));
}

bool Ser2NetServer::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

bool Ser2NetServer::start()
{
    if (isRunning())
        return true;
    if (program().isEmpty()) {
        m_error = u"ser2net is not installed"_s;
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = u"no temporary folder for the configuration"_s;
        return false;
    }
    if (m_port != 0 && !m_portChosenHere)
        return startOnce();
    for (int attempt = 0; attempt < StartAttempts; ++attempt) {
        if (m_port == 0 || attempt > 0) {
            m_port = freeLoopbackPort();
            m_portChosenHere = true;
        }
        if (m_port == 0) {
            m_error = u"no free port on 127.0.0.1"_s;
            return false;
        }
        if (startOnce())
            return true;
    }
    return false;
}

bool Ser2NetServer::startOnce()
{
    // The configuration: one connection from the loopback port to the device.
    QString options;
    if (!m_options.isEmpty())
        options = u"  options:\n"_s + u"    "_s + m_options.join(u"\n    "_s) + u'\n';
    const QString accepter = m_accepter == Accepter::Rfc2217  ? u"telnet(rfc2217),tcp"_s
                             : m_accepter == Accepter::Telnet ? u"telnet,tcp"_s
                                                              : u"tcp"_s;
    const QString config = u"connection: &velmir\n"
                           u"  accepter: %1,127.0.0.1,%2\n"
                           u"  connector: serialdev,%3,%4\n"_s.arg(
                                   accepter, QString::number(m_port), m_device, m_connector)
                           + options;
    const QString configPath = m_dir.filePath(u"ser2net.yaml"_s);
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(config.toUtf8()) != config.toUtf8().size()) {
        m_error = u"cannot write %1"_s.arg(configPath);
        return false;
    }
    file.close();

    // Start it in the foreground, without UUCP lock files (the tests' devices are their own),
    // its output in a file that can never fill up and stop it.
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(program());
    m_process->setArguments({u"-n"_s, u"-d"_s, u"-u"_s, u"-c"_s, configPath});
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(m_dir.filePath(u"ser2net.log"_s));
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process->start();
    if (!m_process->waitForStarted(StartTimeoutMs)) {
        m_error = u"ser2net did not start: %1"_s.arg(m_process->errorString());
        m_process.reset();
        return false;
    }

    // Wait until the port listens, without connecting: a connection would open the device.
    QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired()) {
        if (m_process->state() == QProcess::NotRunning) {
            m_error = u"ser2net ended at once: %1"_s.arg(log());
            m_process.reset();
            return false;
        }
        if (isListening())
            return true;
        QCoreApplication::processEvents();
        QThread::msleep(PollMs);
    }
    m_error = u"ser2net did not listen on port %1 within %2 s: %3"_s.arg(
            QString::number(m_port), QString::number(StartTimeoutMs / 1000), log());
    stop();
    return false;
}

void Ser2NetServer::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(StopTimeoutMs)) {
            m_process->kill();
            m_process->waitForFinished(StopTimeoutMs);
        }
    }
    m_process.reset();
}

bool Ser2NetServer::isListening() const
{
    // /proc/net/tcp: "sl local_address rem_address st ...", addresses in hexadecimal with the
    // IPv4 address in the host's byte order; state 0A is LISTEN.
    QFile table(u"/proc/net/tcp"_s);
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local
            = "0100007F:" + QByteArray::number(m_port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1] == local && fields[3] == "0A")
            return true;
    }
    return false;
}

QString Ser2NetServer::log() const
{
    QFile file(m_dir.filePath(u"ser2net.log"_s));
    if (!file.open(QIODevice::ReadOnly))
        return u"(no output)"_s;
    return QString::fromLocal8Bit(file.readAll()).trimmed();
}
