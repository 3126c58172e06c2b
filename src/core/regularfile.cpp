#include "core/regularfile.h"

#include "core/messages.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Expected<std::unique_ptr<QFile>> openRegularFile(const QString &path)
{
    using Opened = Expected<std::unique_ptr<QFile>>;
    const QString shown = QFileInfo(path).absoluteFilePath();
    const QByteArray name = QFile::encodeName(path);

    // Open without waiting: opening a FIFO for reading would otherwise block until a writer
    // comes.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        // A socket cannot be opened at all ("No such device or address"): say what it is.
        if (isSpecialFile(path)) {
            return Opened::failure(Messages::notARegularFile(shown));
        }
        return Opened::failure(
                Messages::fileOpenFailed(shown, QString::fromLocal8Bit(std::strerror(error))));
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Opened::failure(Messages::notARegularFile(shown));
    }
    // Reads of a regular file never wait; the flag is cleared only for tidiness.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    auto file = std::make_unique<QFile>(path);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Opened::failure(Messages::fileOpenFailed(shown, file->errorString()));
    }
    return Opened(std::move(file));
}

bool isSpecialFile(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return false;
    }
    return !S_ISREG(st.st_mode);
}
