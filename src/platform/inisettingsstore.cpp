#include "platform/inisettingsstore.h"

#include "platform/settingkeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

QString sectionKey(const QString &key)
{
    return SettingKeys::section() + u'/' + key;
}

} // namespace

IniSettingsStore::IniSettingsStore(const QString &path)
    : m_path(path)
{
    // Stamp first, then read: a change in between shows up as a new stamp at the next read.
    m_stamp = currentStamp();
    m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
}

IniSettingsStore::~IniSettingsStore() = default;

QString IniSettingsStore::read(const QString &key, const QString &defaultValue)
{
    // QSettings keeps the parsed file and sync() re-reads it when another program wrote it, so
    // a read costs one stat while the file stays the same. sync() itself compares size and
    // millisecond time: a rewrite of the same size within the millisecond of the previous
    // one is only seen with the next change.
    const FileStamp stamp = currentStamp();
    if (stamp != m_stamp) {
        m_stamp = stamp;
        m_settings->sync();
    }

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
    if (!m_settings->isWritable()) {
        m_saveFailed = true;
        return;
    }
    m_settings->setValue(sectionKey(key), value);
    m_settings->sync();
    // status() keeps the first error ever met, a garbled file read at start included, so only
    // a failed write counts here.
    m_saveFailed = m_settings->status() == QSettings::AccessError;
    m_stamp = currentStamp();
}

QString IniSettingsStore::saveError() const
{
    if (!m_saveFailed)
        return QString();
    // QSettings says only that it failed; the file and its folder say why.
    const QFileInfo file(m_path);
    const QFileInfo folder(file.absolutePath());
    QString why;
    if (file.isDir())
        why = u"a folder of that name stands where the file belongs"_s;
    else if (file.exists() && !file.isWritable())
        why = u"the file is read-only for you"_s;
    else if (!folder.isDir())
        why = u"its folder %1 cannot be created"_s.arg(folder.absoluteFilePath());
    else if (!file.exists() && !folder.isWritable())
        why = u"its folder %1 is read-only for you"_s.arg(folder.absoluteFilePath());
    else
        why = u"writing failed (is the disk full?)"_s;
    return u"Cannot save the settings to %1: %2. The stored settings are unchanged."_s.arg(
            QDir::toNativeSeparators(file.absoluteFilePath()), why);
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
    return stamp;
}
