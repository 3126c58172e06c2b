#pragma once

// What a test asks of its own process and of the bytes it sends: CPU spent, open descriptors,
// and a byte stream whose every dropped, repeated or reordered block shows.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <sys/resource.h>

inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Descriptors of files, devices, pipes and sockets. The wake-up descriptors (eventfd) of Qt's
// worker threads are left out: Qt's painting pool starts workers when a window is drawn and
// ends them after 30 s idle, so on a busy machine the count fell during a long test.
inline int openFdCount()
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    int count = 0;
    const QStringList names = fds.entryList(QDir::Files | QDir::System);
    for (const QString &name : names) {
        if (!QFile::symLinkTarget(fds.filePath(name)).contains(QStringLiteral("anon_inode:")))
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
