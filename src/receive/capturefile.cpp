#include "receive/capturefile.h"

#include "core/messages.h"
#include "core/regularfile.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

CaptureFile::~CaptureFile()
{
    close();
}

Result CaptureFile::open(const QString &path)
{
    close();
    // A FIFO would block the opening until a reader came; a device would swallow the record.
    if (isSpecialFile(path)) {
        return Result::failure(Messages::captureOpenFailed(QFileInfo(path).absoluteFilePath(),
                                                           Messages::notARegularFile(path)));
    }
    m_file.setFileName(path);
    // Unbuffered: every write is one system call, so nothing waits in our memory.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        return Result::failure(Messages::captureOpenFailed(QFileInfo(path).absoluteFilePath(),
                                                           m_file.errorString()));
    }
    return Result::success();
}

Result CaptureFile::write(QByteArrayView chunk)
{
    if (!m_file.isOpen()) {
        return Result::failure(Messages::captureNotOpen());
    }
    qsizetype done = 0;
    while (done < chunk.size()) {
        const qint64 n = m_file.write(chunk.data() + done, chunk.size() - done);
        if (n <= 0) {
            return Result::failure(Messages::captureWriteFailed(
                    QFileInfo(m_file.fileName()).absoluteFilePath(), m_file.errorString()));
        }
        done += n;
    }
    return Result::success();
}

void CaptureFile::close()
{
    if (m_file.isOpen()) {
        m_file.close();
    }
}
