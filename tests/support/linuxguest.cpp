#include "linuxguest.h"

#include "emulatorline.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString Emulator = u"qemu-system-x86_64"_s;
const QString BusyBox = u"/bin/busybox"_s;
// Fetching 70 MB and unpacking it on a busy machine.
constexpr int FetchTimeoutMs = 600000;
constexpr int StartTimeoutMs = 20000;

QString cacheDir()
{
    return QStringLiteral(VELMIR_GUEST_CACHE);
}

QString kernelPath()
{
    return cacheDir() + u"/vmlinuz"_s;
}

QString initrdPath()
{
    return cacheDir() + u"/initrd.cpio"_s;
}

// Runs a program in the cache folder; its output, or why it failed, in `said`.
bool run(const QString &program, const QStringList &arguments, QString *said)
{
    QProcess process;
    process.setWorkingDirectory(cacheDir());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(FetchTimeoutMs);
    *said = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *said = u"%1 %2 failed: %3"_s.arg(program, arguments.join(u' '), *said);
        return false;
    }
    return true;
}

// Debian's kernel image, out of the linux-image-amd64 package and the versioned package it
// depends on. Only the image is unpacked: the modules would take hundreds of megabytes, and the
// serial port and the initramfs need none.
QString fetchKernel()
{
    QString said;
    if (!run(u"apt-get"_s, {u"download"_s, u"linux-image-amd64"_s}, &said)) {
        return said;
    }
    const QStringList meta = QDir(cacheDir()).entryList({u"linux-image-amd64_*.deb"_s});
    if (meta.isEmpty() || !run(u"dpkg-deb"_s, {u"-f"_s, meta.first(), u"Depends"_s}, &said)) {
        return u"no linux-image-amd64 package: "_s + said;
    }
    const QString versioned = said.section(u',', 0, 0).section(u' ', 0, 0).trimmed();
    if (!versioned.startsWith(u"linux-image-"_s)
        || !run(u"apt-get"_s, {u"download"_s, versioned}, &said)) {
        return u"cannot fetch %1: %2"_s.arg(versioned, said);
    }
    const QStringList images = QDir(cacheDir()).entryList({versioned + u"_*.deb"_s});
    if (images.isEmpty()) {
        return u"apt-get download left no %1 package"_s.arg(versioned);
    }
    if (!run(u"sh"_s,
             {u"-c"_s, u"dpkg-deb --fsys-tarfile \"$0\" | tar -x --wildcards './boot/vmlinuz-*'"_s,
              images.first()},
             &said)) {
        return said;
    }
    const QStringList kernels = QDir(cacheDir() + u"/boot"_s).entryList({u"vmlinuz-*"_s});
    if (kernels.isEmpty()
        || !QFile::rename(cacheDir() + u"/boot/"_s + kernels.first(), kernelPath())) {
        return u"no kernel image in %1"_s.arg(images.first());
    }
    QFile::remove(cacheDir() + u"/"_s + meta.first());
    QFile::remove(cacheDir() + u"/"_s + images.first());
    return QString();
}

// The guest's /init: the kernel starts it with no console of its own, so the shell gets the
// serial port once /dev is there. The prompt is coloured as distributions colour theirs.
// The kernel keeps logging after init starts (the TSC's refined calibration arrives seconds in
// on an idle host), and a line of it after the prompt would leave the shell looking busy; once
// the boot log is out, only emergencies reach the console.
const char InitScript[] = R"init(#!/bin/busybox sh
/bin/busybox --install -s /bin
mkdir -p /proc /sys /dev /root /tmp
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
echo 1 > /proc/sys/kernel/printk
export HOME=/root PATH=/bin TERM=linux
export PS1="$(printf '\033[1;32mroot@guest\033[0m:\\w# ')"
cd /root
exec setsid cttyhack sh </dev/ttyS0 >/dev/ttyS0 2>&1
)init";

QString buildInitrd()
{
    const QString root = cacheDir() + u"/initrd"_s;
    QDir(root).removeRecursively();
    if (!QDir().mkpath(root + u"/bin"_s) || !QFile::copy(BusyBox, root + u"/bin/busybox"_s)) {
        return u"cannot copy %1 into %2"_s.arg(BusyBox, root);
    }
    QFile init(root + u"/init"_s);
    if (!init.open(QIODevice::WriteOnly) || init.write(InitScript) < 0) {
        return u"cannot write %1"_s.arg(init.fileName());
    }
    init.close();
    init.setPermissions(init.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup
                        | QFileDevice::ExeOther);
    QFile::setPermissions(root + u"/bin/busybox"_s, QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                            | QFileDevice::ReadOther
                                                            | QFileDevice::ExeOther);
    QString said;
    if (!run(u"sh"_s, {u"-c"_s, u"cd initrd && find . | cpio --quiet -o -H newc > ../initrd.tmp"_s},
             &said)) {
        return said;
    }
    QFile::remove(initrdPath());
    QFile::rename(cacheDir() + u"/initrd.tmp"_s, initrdPath());
    return QString();
}

} // namespace

QString LinuxGuest::prepare()
{
    for (const QString &tool : {Emulator, u"cpio"_s, u"apt-get"_s, u"dpkg-deb"_s}) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            return u"%1 is not installed (scripts/setup installs it)"_s.arg(tool);
        }
    }
    if (!QFileInfo(BusyBox).isExecutable()) {
        return u"%1 is missing (scripts/setup installs busybox-static)"_s.arg(BusyBox);
    }
    if (!QDir().mkpath(cacheDir())) {
        return u"cannot make %1"_s.arg(cacheDir());
    }
    if (!QFile::exists(kernelPath())) {
        if (const QString why = fetchKernel(); !why.isEmpty()) {
            return u"cannot fetch Debian's kernel (no network?): "_s + why;
        }
    }
    return buildInitrd();
}

LinuxGuest::LinuxGuest() = default;

LinuxGuest::~LinuxGuest()
{
    stop();
}

bool LinuxGuest::start()
{
    Q_ASSERT(!m_qemu);
    m_qmpPath = cacheDir() + u"/qmp-%1.sock"_s.arg(::getpid());
    m_logPath = cacheDir() + u"/console-%1.log"_s.arg(::getpid());
    QFile::remove(m_qmpPath);
    m_qemu = std::make_unique<QProcess>();
    m_qemu->setProgram(QStandardPaths::findExecutable(Emulator));
    // Emulated (TCG): a KVM offered inside a virtual machine may hang the guest rather than
    // fail. No network, no display: the serial line is the guest's only way out. Paused (-S)
    // until resume().
    m_qemu->setArguments({u"-accel"_s,
                          u"tcg"_s,
                          u"-cpu"_s,
                          u"max"_s,
                          u"-m"_s,
                          u"256"_s,
                          u"-kernel"_s,
                          kernelPath(),
                          u"-initrd"_s,
                          initrdPath(),
                          u"-append"_s,
                          u"console=ttyS0,115200 panic=-1"_s,
                          u"-no-reboot"_s,
                          u"-nographic"_s,
                          u"-display"_s,
                          u"none"_s,
                          u"-nic"_s,
                          u"none"_s,
                          u"-monitor"_s,
                          u"none"_s,
                          u"-chardev"_s,
                          u"pty,id=console,logfile=%1,logappend=off"_s.arg(logPath()),
                          u"-serial"_s,
                          u"chardev:console"_s,
                          u"-S"_s,
                          u"-qmp"_s,
                          u"unix:%1,server=on,wait=off"_s.arg(m_qmpPath)});
    if (!startEmulatorOnPty(*m_qemu, StartTimeoutMs, m_ptyPath, m_hold, m_error))
        return false;
    return true;
}

bool LinuxGuest::resume()
{
    QLocalSocket qmp;
    QDeadlineTimer deadline(StartTimeoutMs);
    qmp.connectToServer(m_qmpPath);
    while (!qmp.waitForConnected(1000)) {
        if (deadline.hasExpired()) {
            m_error = u"no QMP socket at %1: %2"_s.arg(m_qmpPath, qmp.errorString());
            return false;
        }
        QThread::msleep(50); // the socket appears as the emulator starts
        qmp.connectToServer(m_qmpPath);
    }
    // QMP greets, wants its capabilities negotiated, then takes commands. Each message is a
    // line; events may come before an answer.
    QByteArray said;
    const auto readUntil = [&](const QByteArray &wanted) {
        while (true) {
            while (qmp.canReadLine()) {
                const QByteArray line = qmp.readLine();
                said += line;
                if (line.contains(wanted)) {
                    return true;
                }
                if (line.contains("\"error\"")) {
                    return false;
                }
            }
            if (deadline.hasExpired() || !qmp.waitForReadyRead(int(deadline.remainingTime()))) {
                return false;
            }
        }
    };
    bool ok = readUntil("\"QMP\"");
    for (const char *command :
         {"{\"execute\":\"qmp_capabilities\"}\n", "{\"execute\":\"cont\"}\n"}) {
        ok = ok && qmp.write(command) > 0 && qmp.waitForBytesWritten(StartTimeoutMs)
             && readUntil("\"return\"");
    }
    if (!ok) {
        m_error = u"QMP did not let the guest go: "_s + QString::fromUtf8(said);
    }
    return ok;
}

void LinuxGuest::stop()
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
    if (!m_qmpPath.isEmpty()) {
        QFile::remove(m_qmpPath);
        QFile::remove(m_logPath);
    }
}
