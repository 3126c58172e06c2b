#include "emulatorline.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

bool startEmulatorOnPty(QProcess &emulator, int timeoutMs, QString &ptyPath, int &hold,
                        QString &error)
{
    const QString name = QFileInfo(emulator.program()).fileName();
    emulator.setProcessChannelMode(QProcess::MergedChannels);
    emulator.setStandardInputFile(QProcess::nullDevice());
    // A test that crashes or is killed by its time limit must not leave the emulator behind.
    emulator.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    emulator.start();
    if (!emulator.waitForStarted(timeoutMs)) {
        error = u"cannot start %1: %2"_s.arg(name, emulator.errorString());
        return false;
    }

    // QEMU names the pseudo-terminal it made for the serial line on its first lines.
    static const QRegularExpression redirected(u"char device redirected to (\\S+)"_s);
    QByteArray said;
    QDeadlineTimer deadline(timeoutMs);
    ptyPath.clear();
    while (ptyPath.isEmpty()) {
        if (!emulator.canReadLine()) {
            if (deadline.hasExpired() || emulator.state() != QProcess::Running) {
                error = u"%1 named no pseudo-terminal; it said: %2"_s.arg(
                        name, QString::fromLocal8Bit(said + emulator.readAll()));
                return false;
            }
            emulator.waitForReadyRead(100);
            continue;
        }
        const QByteArray line = emulator.readLine();
        said += line;
        const QRegularExpressionMatch match = redirected.match(QString::fromLocal8Bit(line));
        if (match.hasMatch())
            ptyPath = match.captured(1);
    }

    hold = ::open(QFile::encodeName(ptyPath).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (hold < 0 || ::tcgetattr(hold, &raw) != 0) {
        error = u"cannot open %1: %2"_s.arg(ptyPath, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    ::cfmakeraw(&raw);
    ::tcsetattr(hold, TCSANOW, &raw);
    return true;
}
