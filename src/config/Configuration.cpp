// Quillon.ini: the path, the two entry tables and the per-chip settings.
#include "config/Configuration.h"

#include "app/QuillonDlg.h"
#include "config/ChipsetNaming.h"
#include "config/FlashTable.h"
#include "config/ProfileAccess.h"
#include "config/TableBlock.h"

#include <cstdlib>

namespace {

// The section's "Num", or 0 when it gives no table.
int32_t EntryCount(CQuillonDlg* pDlg, const QString& section)
{
    const auto nCount = static_cast<int32_t>(ReadIniInt(pDlg, section, QStringLiteral("Num"), 0));
    return nCount > 0 && nCount <= kMaxConfigEntries ? nCount : 0;
}

}  // namespace

bool LoadConfiguration(CQuillonDlg* pDlg)
{
    pDlg->m_strIniPath = pDlg->m_strModuleDir + QStringLiteral("Quillon.ini");
    bool bResult = true;
    if (!LoadKnownIds(pDlg))
        bResult = false;
    if (!LoadDfuPatchInfos(pDlg))
        bResult = false;
    pDlg->m_pControllerNames = LoadNameList(pDlg, NAME_CONTROLLER);
    pDlg->m_pHdCodecNames = LoadNameList(pDlg, NAME_HDCODEC);
    pDlg->m_pIisCodecNames = LoadNameList(pDlg, NAME_IISCODEC);
    if (!pDlg->m_pControllerNames || !pDlg->m_pHdCodecNames || !pDlg->m_pIisCodecNames)
        bResult = false;
    if (!LoadFlashTable(pDlg))
        bResult = false;
    return bResult;
}

bool LoadKnownIds(CQuillonDlg* pDlg)
{
    const QString section = QStringLiteral("KnownIDs");
    const int32_t nCount = EntryCount(pDlg, section);
    if (nCount == 0)
        return false;
    auto* pTable = static_cast<_ZEL_USB_DEV_ID_INFO*>(
        AllocateTable(static_cast<uint32_t>(nCount) + 1u, sizeof(_ZEL_USB_DEV_ID_INFO)));
    pDlg->m_pKnownIds = pTable;
    if (!pTable)
        return false;
    for (int32_t i = 0; i < nCount; ++i) {
        const QString text = ReadIniString(pDlg, section, QStringLiteral("ID") + QString::number(i));
        uint32_t values[3] = {};
        ScanHexFields(reinterpret_cast<const char16_t*>(text.utf16()), values, 3);
        _ZEL_USB_DEV_ID_INFO& record = pTable[i];
        record.wVendorId = static_cast<uint16_t>(values[0]);
        record.wProductId = static_cast<uint16_t>(values[1]);
        record.dwUsage = values[2];
    }
    return true;
}

bool LoadDfuPatchInfos(CQuillonDlg* pDlg)
{
    const QString section = QStringLiteral("DfuPatchInfos");
    const int32_t nCount = EntryCount(pDlg, section);
    if (nCount == 0)
        return false;
    auto* pTable = static_cast<_ZEL_USB_DEV_INFO*>(
        AllocateTable(static_cast<uint32_t>(nCount) + 1u, sizeof(_ZEL_USB_DEV_INFO)));
    pDlg->m_pDfuPatchInfos = pTable;
    if (!pTable)
        return false;
    for (int32_t i = 0; i < nCount; ++i) {
        const QString text = ReadIniString(pDlg, section, QStringLiteral("Info") + QString::number(i));
        uint32_t values[6] = {};
        ScanHexFields(reinterpret_cast<const char16_t*>(text.utf16()), values, 6);
        _ZEL_USB_DEV_INFO& record = pTable[i];
        record.wVendorId = static_cast<uint16_t>(values[0]);
        record.wProductId = static_cast<uint16_t>(values[1]);
        record.dwVersion = values[2];
        record.dwSubVersion = values[3];
        record.byChip[0] = static_cast<uint8_t>(values[4]);
        record.byChip[1] = static_cast<uint8_t>(values[5]);
    }
    return true;
}

int32_t LookupChipSetting(uint32_t nSubVersion, CQuillonDlg* pDlg, const QString& setting, uint16_t nChipsetType,
                          int32_t nDefault)
{
    const QString key = QStringLiteral("CHIP_%1_SUBV_%2")
                            .arg(nChipsetType, 4, 16, QLatin1Char('0'))
                            .arg(nSubVersion & 0xFFFFFF00u, 8, 16, QLatin1Char('0'));
    return static_cast<int32_t>(ReadIniInt(pDlg, setting, key, nDefault));
}
