#pragma once

#include "core/result.h"
#include "core/sendentry.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// The send panel's entries, and its history, as a small JSON file: an object with "version" 1
// and "entries", an array of objects with name, content, format, ending, checksum, delay and
// checked. The same format is read back by the import, so nothing in it is trusted: the size is
// capped before parsing, the text must be UTF-8, every field must have its type and range, and
// the first fault refuses the whole file with a message naming it, leaving the panel as it was.
namespace SendPanelFile {

// The bounds of what the panel's editors let a user make, and a file cap that the largest such
// panel fits under, so that a panel saved is always a panel that loads again.
inline constexpr qsizetype MaxEntries = 1000;
inline constexpr qsizetype MaxNameChars = 200;
inline constexpr qsizetype MaxContentChars = 4096;
inline constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;
// The history keeps the latest this many sends.
inline constexpr qsizetype MaxHistory = 200;

QByteArray toJson(const QList<SendEntry> &entries);
// why: the fault in words, without the file's name.
Expected<QList<SendEntry>> fromJson(QByteArrayView bytes);

Expected<QList<SendEntry>> load(const QString &path);
// Written whole or not at all: a failed save leaves the previous file in place. A list that
// would pass the file cap is refused here rather than written and refused at the next start.
Result save(const QString &path, const QList<SendEntry> &entries);

// The files beside a settings file, named after it: "<dir>/<name>.panel.json" and
// "<dir>/<name>.history.json".
QString panelPath(const QString &settingsPath);
QString historyPath(const QString &settingsPath);

} // namespace SendPanelFile
