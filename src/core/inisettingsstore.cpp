#include "core/inisettingsstore.h"

#include "core/messages.h"
#include "core/settingkeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString sectionKey(const QString &key)
{
    return SettingKeys::section() + u'/' + key;
}

bool folderWritable(const QString &path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    return ::access(folder.constData(), W_OK) == 0;
}

std::unique_ptr<QSettings> openIni(const QString &path)
{
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

} // namespace

IniSettingsStore::IniSettingsStore(const QString &path)
    : m_path(path)
{
    // Stamp first, then read: a change in between shows up as a new stamp at the next read.
    // QSettings reads the file as it is created, so what stands there is looked at first.
    m_stamp = currentStamp();
    if (!m_stamp.exists || m_stamp.regular)
        m_settings = openIni(m_path);
}

IniSettingsStore::~IniSettingsStore() = default;

void IniSettingsStore::refresh()
{
    // QSettings keeps the parsed file and sync() re-reads it when another program wrote it, so
    // a read costs one stat while the file stays the same. sync() itself compares size and
    // millisecond time: a rewrite of the same size within the millisecond of the previous
    // one is only seen with the next change.
    const FileStamp stamp = currentStamp();
    if (stamp == m_stamp)
        return;
    m_stamp = stamp;
    if (stamp.exists && !stamp.regular)
        m_settings.reset();
    else if (!m_settings)
        m_settings = openIni(m_path);
    else
        m_settings->sync();
}

QString IniSettingsStore::read(const QString &key, const QString &defaultValue)
{
    refresh();
    if (!m_settings)
        return defaultValue;
    const QVariant value = m_settings->value(sectionKey(key));
    if (!value.isValid())
        return defaultValue;
    // An unquoted value with commas, written by hand, comes back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    if (!value.canConvert<QString>())
        return defaultValue;
    return value.toString();
}

void IniSettingsStore::save(const QString &key, const QString &value)
{
    // A value that cannot reach the file is not kept in memory either: QSettings would hold it
    // as a pending change and stop re-reading the file, and the next read should say what the
    // file says. isWritable() also creates the missing folders above the file.
    // The file is saved by renaming a new one into place, so its folder must take a new file
    // even where the file itself is writable.
    refresh();
    if (!m_settings || !m_settings->isWritable() || !folderWritable(m_path)) {
        m_saveFailed = true;
        return;
    }
    const QString sectioned = sectionKey(key);
    const QVariant before = m_settings->value(sectioned);
    m_settings->setValue(sectioned, value);
    m_settings->sync();
    // status() keeps the first error ever met, a garbled file read at start included, so only
    // a failed write counts here.
    m_saveFailed = m_settings->status() == QSettings::AccessError;
    if (m_saveFailed) {
        // Taken back, or QSettings would keep offering it, even to a later store of the same
        // file, as if it had been saved.
        if (before.isValid())
            m_settings->setValue(sectioned, before);
        else
            m_settings->remove(sectioned);
    }
    m_stamp = currentStamp();
}

QString IniSettingsStore::saveError() const
{
    if (!m_saveFailed)
        return QString();
    // QSettings says only that it failed; the file and its folder say why. The file is saved by
    // writing a new one beside it and renaming that into place, so its folder must be writable
    // even where the file itself is.
    const QFileInfo file(m_path);
    const QFileInfo folder(file.absolutePath());
    const QString folderPath = QDir::toNativeSeparators(folder.absoluteFilePath());
    QString why;
    if (file.isDir())
        why = Messages::settingsFolderInPlace();
    else if (file.exists() && !file.isFile())
        why = Messages::settingsNotAFile();
    else if (file.exists() && !file.isWritable())
        why = Messages::settingsFileReadOnly();
    else if (!folder.isDir())
        why = Messages::settingsFolderMissing(folderPath);
    else if (!folder.isWritable())
        why = Messages::settingsFolderReadOnly(folderPath);
    else
        why = Messages::settingsWriteFailed();
    return Messages::settingsSaveFailed(QDir::toNativeSeparators(file.absoluteFilePath()), why);
}

IniSettingsStore::FileStamp IniSettingsStore::currentStamp() const
{
    FileStamp stamp;
    struct stat st;
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.size = qint64(st.st_size);
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    stamp.inode = quint64(st.st_ino);
    stamp.regular = S_ISREG(st.st_mode);
    return stamp;
}
