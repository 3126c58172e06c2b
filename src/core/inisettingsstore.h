#pragma once

#include "core/settingsstore.h"

#include <QString>

#include <memory>

class QSettings;

// The settings store as an INI file, section "Setting", kept open and re-read only when the
// file on disk has changed, so that ten reads a second cost one stat each. Anything but a
// regular file in the file's place (a FIFO, a socket, a device, a folder) is never opened, since
// opening it could block the window or never end: it reads as the defaults and cannot be saved.
class IniSettingsStore : public SettingsStore
{
public:
    explicit IniSettingsStore(const QString &path);
    ~IniSettingsStore() override;

    QString read(const QString &key, const QString &defaultValue) override;
    // Written through to the file at once. A file that cannot be written is left as it is and
    // saveFailed() tells; nothing else is reported.
    void save(const QString &key, const QString &value) override;

    QString saveError() const override;
    QString filePath() const override { return m_path; }

    QString path() const { return m_path; }
    bool saveFailed() const { return m_saveFailed; }

private:
    // What one stat of the file says; any difference means someone wrote it.
    struct FileStamp
    {
        bool exists = false;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        quint64 inode = 0;
        bool regular = false;

        friend bool operator==(const FileStamp &, const FileStamp &) = default;
    };

    FileStamp currentStamp() const;
    // Brings the parsed file up to date with the disk, and lets go of it when something other
    // than a regular file now stands in its place.
    void refresh();

    QString m_path;
    // Absent while the path holds something other than a regular file.
    std::unique_ptr<QSettings> m_settings;
    FileStamp m_stamp;
    bool m_saveFailed = false;
};
