#include "ubootboard.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString Emulator = u"qemu-system-arm"_s;
// Debian's u-boot-qemu build for the "virt" machine.
const QString Firmware = u"/usr/lib/u-boot/qemu_arm/u-boot.bin"_s;
// A busy or sanitizer machine may take a while to start the emulator.
constexpr int StartTimeoutMs = 20000;

} // namespace

QString UBootBoard::missing()
{
    if (QStandardPaths::findExecutable(Emulator).isEmpty())
        return u"%1 is not installed (scripts/setup installs qemu-system-arm)"_s.arg(Emulator);
    if (!QFile::exists(Firmware))
        return u"%1 is missing (scripts/setup installs u-boot-qemu)"_s.arg(Firmware);
    return QString();
}

UBootBoard::UBootBoard() = default;

UBootBoard::~UBootBoard()
{
    stop();
}

bool UBootBoard::start()
{
    Q_ASSERT(!m_qemu);
    m_qemu = std::make_unique<QProcess>();
    m_qemu->setProgram(QStandardPaths::findExecutable(Emulator));
    // No network, no monitor, no display: the serial line is the board's only way out.
    m_qemu->setArguments({u"-M"_s, u"virt"_s, u"-bios"_s, Firmware, u"-nographic"_s, u"-display"_s,
                          u"none"_s, u"-nic"_s, u"none"_s, u"-monitor"_s, u"none"_s, u"-serial"_s,
                          u"pty"_s});
    m_qemu->setProcessChannelMode(QProcess::MergedChannels);
    m_qemu->setStandardInputFile(QProcess::nullDevice());
    // A test that crashes or is killed by its time limit must not leave the emulator behind.
    m_qemu->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_qemu->start();
    if (!m_qemu->waitForStarted(StartTimeoutMs)) {
        m_error = u"cannot start %1: %2"_s.arg(Emulator, m_qemu->errorString());
        return false;
    }

    // QEMU names the pseudo-terminal it made for the serial line on its first line.
    static const QRegularExpression redirected(u"char device redirected to (\\S+)"_s);
    QByteArray said;
    QDeadlineTimer deadline(StartTimeoutMs);
    while (m_ptyPath.isEmpty()) {
        if (!m_qemu->canReadLine()) {
            if (deadline.hasExpired() || m_qemu->state() != QProcess::Running) {
                m_error = u"%1 named no pseudo-terminal; it said: %2"_s.arg(
                        Emulator, QString::fromLocal8Bit(said + m_qemu->readAll()));
                return false;
            }
            m_qemu->waitForReadyRead(100);
            continue;
        }
        const QByteArray line = m_qemu->readLine();
        said += line;
        const QRegularExpressionMatch match = redirected.match(QString::fromLocal8Bit(line));
        if (match.hasMatch())
            m_ptyPath = match.captured(1);
    }

    // Hold the line open from now on. QEMU throws away what the board prints while no one has
    // the pseudo-terminal open, so without this the boot messages and the autoboot countdown
    // would be lost before the program opens its port. The line stays raw: a cooked one would
    // echo the board's own output back to it as typed keys.
    m_hold = ::open(QFile::encodeName(m_ptyPath).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (m_hold < 0 || ::tcgetattr(m_hold, &raw) != 0) {
        m_error = u"cannot open %1: %2"_s.arg(m_ptyPath,
                                              QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    ::cfmakeraw(&raw);
    ::tcsetattr(m_hold, TCSANOW, &raw);
    return true;
}

void UBootBoard::stop()
{
    if (m_hold >= 0) {
        ::close(m_hold);
        m_hold = -1;
    }
    if (m_qemu && m_qemu->state() != QProcess::NotRunning) {
        m_qemu->kill();
        m_qemu->waitForFinished(5000);
    }
    m_qemu.reset();
}
