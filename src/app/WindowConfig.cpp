#include "app/WindowConfig.h"

#include "app/QuillonDlg.h"
#include "config/FlashTable.h"

namespace {

ChipsetNames NamesOf(const CQuillonDlg* pDlg)
{
    return {pDlg->m_pControllerNames.get(), pDlg->m_pHdCodecNames.get(), pDlg->m_pIisCodecNames.get()};
}

}  // namespace

ProfileSource ProfileOf(const CQuillonDlg* pDlg)
{
    return {pDlg->Env().pProfile, pDlg->m_strIniPath};
}

uint32_t ReadIniInt(CQuillonDlg* pDlg, const QString& section, const QString& key, int32_t nDefault)
{
    return ReadIniInt(ProfileOf(pDlg), section, key, nDefault);
}

QString ReadIniString(CQuillonDlg* pDlg, const QString& section, const QString& key)
{
    return ReadIniString(ProfileOf(pDlg), section, key);
}

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
    return LoadKnownIdTable(ProfileOf(pDlg), pDlg->m_pKnownIds);
}

bool LoadDfuPatchInfos(CQuillonDlg* pDlg)
{
    return LoadDfuPatchTable(ProfileOf(pDlg), pDlg->m_pDfuPatchInfos);
}

bool LoadFlashTable(CQuillonDlg* pDlg)
{
    return LoadFlashTableFile(pDlg->m_strModuleDir + QStringLiteral("zel.dat"), pDlg->m_pFlashInfo);
}

std::unique_ptr<NameList> LoadNameList(CQuillonDlg* pDlg, int nCategory)
{
    return LoadNameList(ProfileOf(pDlg), nCategory);
}

int32_t LookupChipSetting(uint32_t nSubVersion, CQuillonDlg* pDlg, const QString& setting, uint16_t nChipsetType,
                          int32_t nDefault)
{
    return LookupChipSetting(nSubVersion, ProfileOf(pDlg), setting, nChipsetType, nDefault);
}

uint16_t GetEffectiveChipsetType(CZelUsbDevice* pDevice, CQuillonDlg* pDlg)
{
    const uint16_t nType = pDevice->GetChipsetType();
    if (nType != 0)
        return nType;
    return SubVersionChipsetType(pDevice->GetSubVersion(), ProfileOf(pDlg));
}

QString GetControllerName(CQuillonDlg* pDlg, uint8_t nController)
{
    return ControllerName(NamesOf(pDlg), nController);
}

QString GetCodecName(CQuillonDlg* pDlg, uint8_t nCodec)
{
    return CodecName(NamesOf(pDlg), nCodec);
}

QString FormatChipsetName(CQuillonDlg* pDlg, uint16_t nChipsetType)
{
    return ChipsetDisplayName(NamesOf(pDlg), nChipsetType);
}
