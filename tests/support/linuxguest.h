#pragma once

#include <QString>

#include <memory>

class QLocalSocket;
class QProcess;

// Debian's own kernel booting a BusyBox shell on the emulated PC's first serial port, the port
// on a pseudo-terminal: a real Linux console that nobody here wrote, with a coloured prompt, line
// editing, ls --color and printf. The kernel package is fetched with apt-get download into a
// cache in the build tree and kept there; the initramfs is built from busybox-static.
//
// The guest is started paused and runs once resume() is called, after the program has opened
// its port, so the whole boot log reaches it. The emulator ends with this object, and with the
// test process should that die first.
class LinuxGuest
{
public:
    // Why no guest can run here (emulator, BusyBox, cpio or the kernel package missing, no
    // network for the download); empty when one can. Fetches and unpacks the kernel on first
    // use, which takes a while.
    static QString prepare();

    LinuxGuest();
    ~LinuxGuest();
    LinuxGuest(const LinuxGuest &) = delete;
    LinuxGuest &operator=(const LinuxGuest &) = delete;

    // Starts the emulator, paused, and waits until it names its pseudo-terminal; false, with
    // error(), when it does not.
    bool start();
    // Lets the paused guest boot.
    bool resume();
    QString error() const { return m_error; }
    // The guest's serial line, such as /dev/pts/3; link the program's port to it.
    QString ptyPath() const { return m_ptyPath; }
    // Every byte the guest wrote to its serial port, as QEMU logged it.
    QString logPath() const { return m_logPath; }
    void stop();

private:
    std::unique_ptr<QProcess> m_qemu;
    QString m_qmpPath;
    QString m_logPath;
    int m_hold = -1;
    QString m_ptyPath;
    QString m_error;
};
