#include "platform/MemoryPreferenceStore.h"
#include "platform/PreferenceValue.h"

uint32_t CMemoryPreferenceStore::GetProfileInt(const QString& section, const QString& entry, uint32_t nDefault)
{
    return PreferenceValueToInt(RawValue(section, entry), nDefault);
}

bool CMemoryPreferenceStore::WriteProfileInt(const QString& section, const QString& entry, uint32_t nValue)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_nWrites;
    if (m_bFailWrites)
        return false;
    m_values.insert(Key(section, entry), QVariant(static_cast<int32_t>(nValue)));
    return true;
}

void CMemoryPreferenceStore::SetRawValue(const QString& section, const QString& entry, const QVariant& value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values.insert(Key(section, entry), value);
}

QVariant CMemoryPreferenceStore::RawValue(const QString& section, const QString& entry) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_values.value(Key(section, entry));
}

void CMemoryPreferenceStore::SetFailWrites(bool bFail)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bFailWrites = bFail;
}

int CMemoryPreferenceStore::WriteCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nWrites;
}
