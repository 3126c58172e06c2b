#pragma once

#include <QString>

// The per-user store of the six port settings, addressed by key within one section.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;
    // An absent key gives defaultValue and writes nothing; a present empty key gives "".
    virtual QString read(const QString &key, const QString &defaultValue) = 0;
    virtual void save(const QString &key, const QString &value) = 0;
    // Why the last save did not reach the store, in words a user can act on; empty when it did.
    virtual QString saveError() const { return QString(); }
    // The file the store keeps, for files that live beside it; empty for a store in memory.
    virtual QString filePath() const { return QString(); }
};
