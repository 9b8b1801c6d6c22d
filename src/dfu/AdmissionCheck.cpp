#include "dfu/AdmissionCheck.h"

#include "app/QuillonDlg.h"
#include "config/ChipsetNaming.h"

namespace {

// Each comparison asks the device for exactly the one value it needs, and only when its bit is set.
bool Passes(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, uint32_t nBit)
{
    const _ZEL_USB_DEV_INFO& image = pDlg->m_ImageInfo;
    switch (nBit) {
    case MATCH_VENDOR_ID:
        return image.wVendorId == pDevice->GetVendorID();
    case MATCH_PRODUCT_ID:
        return image.wProductId == pDevice->GetProductID();
    case MATCH_VERSION:
        // Only the low half of the image's version takes part; the image may be newer, not older.
        return static_cast<uint16_t>(image.dwVersion & 0xFFFF) >= pDevice->GetVersion();
    case MATCH_SUBVERSION:
        return ((image.dwSubVersion ^ pDevice->GetSubVersion()) & 0xFFFFFF00u) == 0;
    case MATCH_CHIPSET: {
        // The image's two chip bytes form one number that is held against the controller index alone.
        const uint32_t nImageChip = image.byChip[0] * 256u + image.byChip[1];
        return nImageChip == static_cast<uint32_t>(GetEffectiveChipsetType(pDevice, pDlg) >> 8);
    }
    default:
        return true;
    }
}

struct MatchRow {
    uint32_t nBit;
    const char* pszMessage;
};

const MatchRow kRows[] = {
    {MATCH_VENDOR_ID, "Vendor ID of firmware doesn't match device vendor ID!"},
    {MATCH_PRODUCT_ID, "Product ID of firmware doesn't match device product ID!"},
    {MATCH_VERSION, "Version of firmware is older than device version!"},
    {MATCH_SUBVERSION, "Sub-version of firmware doesn't match device sub-version!"},
    {MATCH_CHIPSET, "Chipset of firmware doesn't match device chipset!"},
};

}  // namespace

bool CheckImageMatch(CQuillonDlg* pDlg, CZelUsbDevice* pDevice)
{
    const uint32_t nPolicy = pDlg->m_nMatchPolicy;
    if (nPolicy == 0)
        return true;
    for (const MatchRow& row : kRows) {
        if ((nPolicy & row.nBit) == 0)
            continue;
        if (!Passes(pDlg, pDevice, row.nBit)) {
            pDlg->Host()->MessageBox(QString::fromLatin1(row.pszMessage));
            return false;
        }
    }
    return true;
}
