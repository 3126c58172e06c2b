#include "commands/capturefile.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

CaptureFile::~CaptureFile()
{
    close();
}

Result CaptureFile::open(const QString &path)
{
    close();
    m_file.setFileName(path);
    // Unbuffered: every write is one system call, so nothing waits in our memory.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        return Result::failure(u"Cannot open the capture file %1: %2"_s.arg(
                QFileInfo(path).absoluteFilePath(), m_file.errorString()));
    }
    return Result::success();
}

Result CaptureFile::write(QByteArrayView chunk)
{
    if (!m_file.isOpen()) {
        return Result::failure(u"No capture file is open."_s);
    }
    qsizetype done = 0;
    while (done < chunk.size()) {
        const qint64 n = m_file.write(chunk.data() + done, chunk.size() - done);
        if (n <= 0) {
            return Result::failure(u"Writing the capture file %1 failed: %2"_s.arg(
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
