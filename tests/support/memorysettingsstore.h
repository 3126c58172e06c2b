#pragma once

#include "core/settingsstore.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <utility>

// A settings store in memory that remembers which keys were read and saved, in order.
class MemorySettingsStore : public SettingsStore
{
public:
    using Save = std::pair<QString, QString>;

    QString read(const QString &key, const QString &defaultValue) override
    {
        m_reads.append(key);
        const auto it = m_values.constFind(key);
        return it == m_values.constEnd() ? defaultValue : *it;
    }
    void save(const QString &key, const QString &value) override
    {
        m_saves.append({key, value});
        m_values.insert(key, value);
    }

    // Puts a value in place without counting it as a save.
    void set(const QString &key, const QString &value) { m_values.insert(key, value); }
    bool contains(const QString &key) const { return m_values.contains(key); }
    QString value(const QString &key) const { return m_values.value(key); }

    const QStringList &reads() const { return m_reads; }
    const QList<Save> &saves() const { return m_saves; }
    int saveCount() const { return int(m_saves.size()); }
    void clearLog()
    {
        m_reads.clear();
        m_saves.clear();
    }

private:
    QMap<QString, QString> m_values;
    QStringList m_reads;
    QList<Save> m_saves;
};
