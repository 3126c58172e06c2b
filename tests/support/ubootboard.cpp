#include "ubootboard.h"

#include "emulatorline.h"

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
    return startEmulatorOnPty(*m_qemu, StartTimeoutMs, m_ptyPath, m_hold, m_error);
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
