// The per-user store of the operator's preferences ("ZEL" / application title / section / value).
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

class IPreferenceStore {
public:
    virtual ~IPreferenceStore() = default;
    // A value that is missing or not a 32-bit integer reads as nDefault.
    virtual uint32_t GetProfileInt(const QString& section, const QString& entry, uint32_t nDefault) = 0;
    virtual bool WriteProfileInt(const QString& section, const QString& entry, uint32_t nValue) = 0;
};

// QSettings with organization "ZEL" and the application title as application name. While one of the
// files QSettings would read is not a regular file (a pipe there would hold the program for ever), the
// store is not used: every value reads as its default and nothing is written.
std::unique_ptr<IPreferenceStore> CreateSettingsPreferenceStore(const QString& appTitle);
// "" when the store's files are usable, else what is wrong ("PATH is not a regular file").
QString SettingsStoreProblem(const QString& appTitle);
