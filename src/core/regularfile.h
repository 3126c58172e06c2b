#pragma once

#include "core/result.h"

#include <QString>

#include <memory>

class QFile;

// Opens a file the user named for reading, refusing anything but a regular file. A FIFO, a
// socket or a device in its place could block the opening thread forever or never end, so the
// file is opened without waiting and checked before it is used.
Expected<std::unique_ptr<QFile>> openRegularFile(const QString &path);

// Whether the path is (or leads to) something other than a regular file; false when it does not
// exist. Checked without opening, for files about to be written.
bool isSpecialFile(const QString &path);
