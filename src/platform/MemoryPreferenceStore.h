// A preference store held in memory, with the same reading rule as the settings store: a value that
// is missing or not a 32-bit integer reads as the default. For tests and throw-away runs.
#pragma once

#include "platform/PreferenceStore.h"

#include <QHash>
#include <QString>
#include <QVariant>
#include <mutex>

class CMemoryPreferenceStore : public IPreferenceStore {
public:
    uint32_t GetProfileInt(const QString& section, const QString& entry, uint32_t nDefault) override;
    bool WriteProfileInt(const QString& section, const QString& entry, uint32_t nValue) override;

    // Stores any value, as another program might have left it (text, a 64-bit number, ...).
    void SetRawValue(const QString& section, const QString& entry, const QVariant& value);
    // The stored value, invalid when there is none.
    QVariant RawValue(const QString& section, const QString& entry) const;
    // Writes answer false (nothing stored) while set.
    void SetFailWrites(bool bFail);
    int WriteCount() const;

private:
    static QString Key(const QString& section, const QString& entry) { return section + u'/' + entry; }

    mutable std::mutex m_mutex;
    QHash<QString, QVariant> m_values;
    bool m_bFailWrites = false;
    int m_nWrites = 0;
};
