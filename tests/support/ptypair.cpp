#include "ptypair.h"

#include "core/configpaths.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int PollStepMs = 2;

void runEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Waits for `events` on fd for at most ms, returning poll's revents (0 on timeout).
short pollFor(int fd, short events, int ms)
{
    pollfd p{fd, events, 0};
    int n;
    do {
        n = ::poll(&p, 1, ms);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? p.revents : 0;
}

bool makeRaw(int fd)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return false;
    ::cfmakeraw(&t);
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

} // namespace

PtyPair::PtyPair()
{
    // Open the pair; both ends raw, so every byte value passes unchanged.
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_error = u"openpty failed: %1"_s.arg(QString::fromLocal8Bit(std::strerror(errno)));
        m_master = m_slave = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    if (!makeRaw(m_slave) || !makeRaw(m_master)) {
        m_error = u"cannot set raw mode on %1: %2"_s.arg(
                m_slavePath, QString::fromLocal8Bit(std::strerror(errno)));
        closeMaster();
        closeSlave();
        return;
    }
    // The master never blocks: the waiting loops below keep the event loop alive instead.
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair()
{
    m_relay.reset();
    closeMaster();
    closeSlave();
}

bool PtyPair::writeMaster(QByteArrayView bytes, int timeoutMs)
{
    if (m_master < 0)
        return false;
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    QDeadlineTimer stalled(timeoutMs);
    while (left > 0) {
        const ssize_t n = ::write(m_master, p, size_t(left));
        if (n > 0) {
            p += n;
            left -= n;
            stalled.setRemainingTime(timeoutMs);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (stalled.hasExpired())
            return false;
        // The line is full until the reader takes some; let it run.
        runEvents();
        pollFor(m_master, POLLOUT, PollStepMs);
    }
    return true;
}

QByteArray PtyPair::readMaster(int waitMs, int quietMs)
{
    QByteArray out;
    if (m_master < 0)
        return out;
    QDeadlineTimer deadline(waitMs);
    QDeadlineTimer quiet;
    char buf[65536];
    for (;;) {
        runEvents();
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, n);
            quiet.setRemainingTime(quietMs);
            continue;
        }
        // EIO means no one holds the slave open right now: treat it as silence.
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != EIO)
            break;
        if (out.isEmpty() ? deadline.hasExpired() : quiet.hasExpired())
            break;
        pollFor(m_master, POLLIN, PollStepMs);
    }
    return out;
}

QByteArray PtyPair::readMasterExactly(qsizetype n, int timeoutMs)
{
    QByteArray out;
    if (m_master < 0)
        return out;
    QDeadlineTimer deadline(timeoutMs);
    QByteArray buf(65536, Qt::Uninitialized);
    while (out.size() < n && !deadline.hasExpired()) {
        runEvents();
        const qsizetype want = qMin<qsizetype>(buf.size(), n - out.size());
        const ssize_t got = ::read(m_master, buf.data(), size_t(want));
        if (got > 0) {
            out.append(buf.constData(), got);
            continue;
        }
        if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != EIO)
            break;
        pollFor(m_master, POLLIN, PollStepMs);
    }
    return out;
}

void PtyPair::closeMaster()
{
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

bool PtyPair::forgetExclusiveMode()
{
    return m_slave >= 0 && ::ioctl(m_slave, TIOCNXCL) == 0;
}

void PtyPair::closeSlave()
{
    if (m_slave >= 0) {
        ::close(m_slave);
        m_slave = -1;
    }
}

TempConfigHome::TempConfigHome()
    : m_previous(ConfigPaths::configHome())
{
    if (m_dir.isValid())
        ConfigPaths::setConfigHome(m_dir.path());
}

TempConfigHome::~TempConfigHome()
{
    ConfigPaths::setConfigHome(m_previous);
}

QString TempConfigHome::portsDir() const
{
    return ConfigPaths::portsDir();
}

bool TempConfigHome::linkPort(int number, const QString &target)
{
    const QString dir = portsDir();
    if (!QDir().mkpath(dir))
        return false;
    const QString link = dir + u"/COM"_s + QString::number(number);
    QFile::remove(link);
    return QFile::link(target, link);
}

bool PtyPair::startOnMaster(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.start(program, arguments);
    if (!process.waitForStarted())
        return false;
    QProcess *far = &process;
    // writeMaster() runs events while the line is full, and more output may arrive meanwhile:
    // it is queued behind what is being written, never written into the middle of it.
    auto pending = std::make_shared<QByteArray>();
    auto writing = std::make_shared<bool>(false);
    QObject::connect(far, &QProcess::readyReadStandardOutput, far, [this, far, pending, writing] {
        pending->append(far->readAllStandardOutput());
        if (*writing)
            return;
        *writing = true;
        while (!pending->isEmpty())
            writeMaster(std::exchange(*pending, QByteArray()));
        *writing = false;
    });
    m_relay = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    QObject::connect(m_relay.get(), &QSocketNotifier::activated, far, [this, far] {
        char buffer[4096];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0)
            far->write(buffer, n);
    });
    return true;
}

void PtyPair::masterIsOurs()
{
    m_relay.reset();
}

::testing::AssertionResult TempConfigHome::linkPty(int number, const PtyPair &pty)
{
    if (!isValid())
        return ::testing::AssertionFailure() << "no temporary configuration folder";
    if (!pty.isValid())
        return ::testing::AssertionFailure() << pty.error().toStdString();
    if (!linkPort(number, pty.slavePath()))
        return ::testing::AssertionFailure()
               << "cannot link COM" << number << " to " << pty.slavePath().toStdString();
    return ::testing::AssertionSuccess();
}
