#include "dfu/AdmissionCheck.h"

#include "app/QuillonDlg.h"
#include "app/WindowConfig.h"

uint32_t DeviceMatchValue(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, uint32_t nBit)
{
    switch (nBit) {
    case MATCH_VENDOR_ID:
        return pDevice->GetVendorID();
    case MATCH_PRODUCT_ID:
        return pDevice->GetProductID();
    case MATCH_VERSION:
        return pDevice->GetVersion();
    case MATCH_SUBVERSION:
        return pDevice->GetSubVersion();
    case MATCH_CHIPSET:
        return static_cast<uint32_t>(GetEffectiveChipsetType(pDevice, pDlg) >> 8);
    default:
        return 0;
    }
}

bool CheckImageMatch(CQuillonDlg* pDlg, CZelUsbDevice* pDevice)
{
    const MatchPolicyRow* pMismatch = FirstMismatch(
        pDlg->m_nMatchPolicy, pDlg->m_ImageInfo, [&](uint32_t nBit) { return DeviceMatchValue(pDlg, pDevice, nBit); });
    if (pMismatch == nullptr)
        return true;
    pDlg->Host()->MessageBox(QString::fromLatin1(pMismatch->pszMessage));
    return false;
}
