// The operator's stored preferences, with the values given on the command line in force for one run.
// Writes go to the store unchanged; the command line never writes.
#pragma once

#include "platform/PreferenceStore.h"

#include <optional>

class COverridePreferenceStore : public IPreferenceStore {
public:
    COverridePreferenceStore(IPreferenceStore& store, std::optional<uint32_t> nMatchPolicy, std::optional<bool> bVerify)
        : m_store(store), m_nMatchPolicy(nMatchPolicy), m_bVerify(bVerify)
    {}

    uint32_t GetProfileInt(const QString& section, const QString& entry, uint32_t nDefault) override
    {
        if (section == QLatin1String("Options")) {
            if (entry == QLatin1String("MatchPolicy") && m_nMatchPolicy)
                return *m_nMatchPolicy;
            if (entry == QLatin1String("AutoVerify") && m_bVerify)
                return *m_bVerify ? 1 : 0;
        }
        return m_store.GetProfileInt(section, entry, nDefault);
    }

    bool WriteProfileInt(const QString& section, const QString& entry, uint32_t nValue) override
    {
        return m_store.WriteProfileInt(section, entry, nValue);
    }

private:
    IPreferenceStore& m_store;
    std::optional<uint32_t> m_nMatchPolicy;
    std::optional<bool> m_bVerify;
};
