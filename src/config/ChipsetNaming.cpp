// The three name lists of ChipsetInfo, the effective chipset type and its display text.
#include "config/ChipsetNaming.h"

#include "app/QuillonDlg.h"
#include "config/ProfileAccess.h"
#include "config/TableBlock.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

const QString kChipsetInfo = QStringLiteral("ChipsetInfo");

const char* CategoryWord(int nCategory)
{
    switch (nCategory) {
    case NAME_CONTROLLER:
        return "Controller";
    case NAME_HDCODEC:
        return "HDCodec";
    case NAME_IISCODEC:
        return "IISCodec";
    default:
        return nullptr;
    }
}

QString NameAt(const NameList* pList, int nIndex)
{
    if (!pList || nIndex < 0 || nIndex >= pList->nCount || !pList->apszNames[nIndex])
        return QString();
    return QString::fromUtf16(pList->apszNames[nIndex]);
}

}  // namespace

NameList* LoadNameList(CQuillonDlg* pDlg, int nCategory)
{
    const char* pszWord = CategoryWord(nCategory);
    if (!pszWord)
        return nullptr;
    const QString word = QLatin1String(pszWord);
    const int32_t nCount = static_cast<int32_t>(ReadIniInt(pDlg, kChipsetInfo, word + QStringLiteral("Num"), 0));
    if (nCount <= 0 || nCount > kMaxConfigEntries)
        return nullptr;

    uint32_t nSlots = 0;
    uint32_t nSize = 0;
    if (__builtin_mul_overflow(static_cast<uint32_t>(nCount), static_cast<uint32_t>(sizeof(char16_t*)), &nSlots) ||
        __builtin_add_overflow(nSlots, static_cast<uint32_t>(offsetof(NameList, apszNames)), &nSize))
        return nullptr;
    auto* pList = static_cast<NameList*>(std::calloc(nSize, 1));
    if (!pList)
        return nullptr;
    pList->nCount = nCount;

    for (int32_t i = 0; i < nCount; ++i) {
        const QString name = ReadIniString(pDlg, kChipsetInfo, word + QStringLiteral("Name") + QString::number(i));
        const size_t nBytes = (static_cast<size_t>(name.size()) + 1) * sizeof(char16_t);
        auto* pszName = static_cast<char16_t*>(std::malloc(nBytes));
        if (!pszName) {
            FreeNameList(pList);
            return nullptr;
        }
        std::memcpy(pszName, name.utf16(), nBytes);
        pList->apszNames[i] = pszName;
    }
    return pList;
}

void FreeNameList(NameList* pList)
{
    if (!pList)
        return;
    for (int32_t i = 0; i < pList->nCount; ++i)
        std::free(pList->apszNames[i]);
    std::free(pList);
}

uint16_t GetEffectiveChipsetType(CZelUsbDevice* pDevice, CQuillonDlg* pDlg)
{
    const uint16_t nType = pDevice->GetChipsetType();
    if (nType != 0)
        return nType;
    const QString key = QStringLiteral("SUBV_%1").arg(pDevice->GetSubVersion() & 0xFFFFFF00u, 8, 16, QLatin1Char('0'));
    return static_cast<uint16_t>(ReadIniInt(pDlg, kChipsetInfo, key, 0));
}

QString GetControllerName(CQuillonDlg* pDlg, uint8_t nController)
{
    const NameList* pList = pDlg->m_pControllerNames;
    if (pList && nController < pList->nCount)
        return NameAt(pList, nController);
    return QStringLiteral("Unknown");
}

QString GetCodecName(CQuillonDlg* pDlg, uint8_t nCodec)
{
    if (nCodec == 0)
        return QString();
    if (nCodec < 128)
        return NameAt(pDlg->m_pHdCodecNames, nCodec);
    return NameAt(pDlg->m_pIisCodecNames, nCodec - 128);
}

QString FormatChipsetName(CQuillonDlg* pDlg, uint16_t nChipsetType)
{
    const QString controller = GetControllerName(pDlg, static_cast<uint8_t>(nChipsetType >> 8));
    const QString codec = GetCodecName(pDlg, static_cast<uint8_t>(nChipsetType & 0xFF));
    if (codec.isEmpty())
        return controller;
    return controller + u'+' + codec;
}
