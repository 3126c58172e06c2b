#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QProcess;

// U-Boot on QEMU's emulated ARM board ("virt"), its serial line on a pseudo-terminal: a real
// far end that nobody here wrote, which prints a prompt, echoes what it is typed and takes
// S-record downloads at the pace of an emulated UART. The emulator ends with this object, and
// with the test process should that die first.
class UBootBoard
{
public:
    // RAM that U-Boot leaves free for downloads on this board (it relocates itself to the top).
    static constexpr quint32 LoadAddress = 0x40200000;

    // Why no board can run here (emulator or firmware not installed); empty when one can.
    static QString missing();

    UBootBoard();
    ~UBootBoard();
    UBootBoard(const UBootBoard &) = delete;
    UBootBoard &operator=(const UBootBoard &) = delete;

    // Starts the emulator and waits until it names its pseudo-terminal; false, with error(),
    // when it does not.
    bool start();
    QString error() const { return m_error; }
    // The board's serial line, such as /dev/pts/3; link the program's port to it.
    QString ptyPath() const { return m_ptyPath; }
    // Kills the emulator and waits for it; start() leaves it running until then.
    void stop();

private:
    std::unique_ptr<QProcess> m_qemu;
    int m_hold = -1;
    QString m_ptyPath;
    QString m_error;
};
