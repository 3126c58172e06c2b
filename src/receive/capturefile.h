#pragma once

#include "core/result.h"

#include <QByteArrayView>
#include <QFile>
#include <QString>

// The raw record of everything received while capture is on. Each chunk goes straight to the
// operating system, so what arrived is in the file even if the program is killed.
class CaptureFile
{
public:
    CaptureFile() = default;
    ~CaptureFile();
    CaptureFile(const CaptureFile &) = delete;
    CaptureFile &operator=(const CaptureFile &) = delete;

    // Opens for raw bytes from the file's first byte, dropping whatever the file held.
    Result open(const QString &path);
    // Writes all of the chunk or reports why it could not.
    Result write(QByteArrayView chunk);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }

private:
    QFile m_file;
};
