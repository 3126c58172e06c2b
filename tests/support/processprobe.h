#pragma once

// What a test asks of its own process and of the bytes it sends: CPU spent, open descriptors,
// and a byte stream whose every dropped, repeated or reordered block shows.

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QString>

#include <sys/resource.h>

inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Descriptors of this process open on the given file. Only these say whether the port leaks:
// the whole process's count moves with whatever Qt, the sanitizers or other threads open.
inline int openFdCountOn(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    int count = 0;
    for (const QString &fd : fds.entryList(QDir::Files | QDir::System)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            ++count;
    }
    return count;
}

// Every byte value; the period is not a multiple of 256, so a dropped or repeated block shows
// as a mismatch.
inline QByteArray bytePattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}
