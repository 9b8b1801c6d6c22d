// Quillon.ini: the two entry tables and the per-chip settings.
#include "config/Configuration.h"

#include "config/TableBlock.h"

namespace {

// The section's "Num", or 0 when it gives no table.
int32_t EntryCount(const ProfileSource& profile, const QString& section)
{
    const auto nCount = static_cast<int32_t>(ReadIniInt(profile, section, QStringLiteral("Num"), 0));
    return nCount > 0 && nCount <= kMaxConfigEntries ? nCount : 0;
}

// The entries "<key><i>" of the section, each scanned into nFields numbers and stored by store.
template <typename Record, int nFields, typename Store>
bool LoadTable(const ProfileSource& profile, const QString& section, const QString& key, CHeapBlock<Record>& table,
               Store store)
{
    const int32_t nCount = EntryCount(profile, section);
    if (nCount == 0)
        return false;
    table.reset(static_cast<Record*>(AllocateTable(static_cast<uint32_t>(nCount) + 1u, sizeof(Record))));
    if (!table)
        return false;
    for (int32_t i = 0; i < nCount; ++i) {
        const QString text = ReadIniString(profile, section, key + QString::number(i));
        uint32_t values[nFields] = {};
        ScanHexFields(reinterpret_cast<const char16_t*>(text.utf16()), values, nFields);
        store(table[i], values);
    }
    return true;
}

}  // namespace

bool LoadKnownIdTable(const ProfileSource& profile, CHeapBlock<_ZEL_USB_DEV_ID_INFO>& table)
{
    return LoadTable<_ZEL_USB_DEV_ID_INFO, 3>(profile, QStringLiteral("KnownIDs"), QStringLiteral("ID"), table,
                                              [](_ZEL_USB_DEV_ID_INFO& record, const uint32_t* values) {
                                                  record.wVendorId = static_cast<uint16_t>(values[0]);
                                                  record.wProductId = static_cast<uint16_t>(values[1]);
                                                  record.dwUsage = values[2];
                                              });
}

bool LoadDfuPatchTable(const ProfileSource& profile, CHeapBlock<_ZEL_USB_DEV_INFO>& table)
{
    return LoadTable<_ZEL_USB_DEV_INFO, 6>(profile, QStringLiteral("DfuPatchInfos"), QStringLiteral("Info"), table,
                                           [](_ZEL_USB_DEV_INFO& record, const uint32_t* values) {
                                               record.wVendorId = static_cast<uint16_t>(values[0]);
                                               record.wProductId = static_cast<uint16_t>(values[1]);
                                               record.dwVersion = values[2];
                                               record.dwSubVersion = values[3];
                                               record.byChip[0] = static_cast<uint8_t>(values[4]);
                                               record.byChip[1] = static_cast<uint8_t>(values[5]);
                                           });
}

int32_t LookupChipSetting(uint32_t nSubVersion, const ProfileSource& profile, const QString& setting,
                          uint16_t nChipsetType, int32_t nDefault)
{
    const QString key = QStringLiteral("CHIP_%1_SUBV_%2")
                            .arg(nChipsetType, 4, 16, QLatin1Char('0'))
                            .arg(nSubVersion & 0xFFFFFF00u, 8, 16, QLatin1Char('0'));
    return static_cast<int32_t>(ReadIniInt(profile, setting, key, nDefault));
}
