#include "app/DeviceList.h"

#include "app/IdentityText.h"
#include "app/QuillonDlg.h"
#include "app/Resource.h"
#include "app/Trace.h"
#include "app/WindowConfig.h"

// Emptying the list releases nothing: the device objects stay the library's.
void RefreshDeviceList(CQuillonDlg* pDlg)
{
    IDialogHost* pHost = pDlg->Host();
    pHost->ComboResetContent(IDC_DEVICE_COMBO);

    const ZEL_USB_DEVICE_ARRAY* pArray = EnumZelUsbDevices(true, nullptr);
    if (pArray != nullptr && pArray->nCount > 0 && pArray->ppDevices != nullptr) {
        for (uint32_t i = 0; i < pArray->nCount; ++i) {
            CZelUsbDevice* pDevice = pArray->ppDevices[i];
            if (pDevice == nullptr || !pDevice->IsHidDfuSupported())
                continue;
            const char16_t* pszProduct = pDevice->GetProductString();
            if (pszProduct == nullptr)
                continue;
            const int nIndex = pHost->ComboAddString(IDC_DEVICE_COMBO, QString::fromUtf16(pszProduct));
            pHost->ComboSetItemData(IDC_DEVICE_COMBO, nIndex, pDevice);
        }
        pHost->ComboSetCurSel(IDC_DEVICE_COMBO, 0);
    }
    ShowSelectedDeviceInfo(pDlg);
}

void ShowSelectedDeviceInfo(CQuillonDlg* pDlg)
{
    IDialogHost* pHost = pDlg->Host();
    const int nIndex = pHost->ComboGetCurSel(IDC_DEVICE_COMBO);
    auto* pDevice =
        nIndex >= 0 ? static_cast<CZelUsbDevice*>(pHost->ComboGetItemData(IDC_DEVICE_COMBO, nIndex)) : nullptr;

    if (pDevice == nullptr) {
        for (int nId : {IDC_DEV_VID, IDC_DEV_PID, IDC_DEV_VERSION, IDC_DEV_SUBVERSION, IDC_DEV_CHIPSET})
            pHost->SetDlgItemText(nId, QString());
        pHost->SetCheck(IDC_UPDATE_ALL, 1);
        pDlg->m_bUpdateAll = 1;
        pHost->EnableDlgItem(IDC_UPDATE_ALL, false);
        return;
    }

    const uint16_t nChipsetType = GetEffectiveChipsetType(pDevice, pDlg);
    const uint32_t nSubVersion = pDevice->GetSubVersion();
    pHost->SetDlgItemText(IDC_DEV_VID, Hex4(pDevice->GetVendorID()));
    pHost->SetDlgItemText(IDC_DEV_PID, Hex4(pDevice->GetProductID()));
    pHost->SetDlgItemText(IDC_DEV_VERSION, Hex4(pDevice->GetVersion()));
    pHost->SetDlgItemText(IDC_DEV_SUBVERSION, Hex8(nSubVersion));
    pHost->SetDlgItemText(IDC_DEV_CHIPSET, FormatChipsetName(pDlg, nChipsetType));

    // A configured mask overrides the device's own boot-loader flag in both directions.
    const int32_t nDefault = pDevice->IsHidDfuBootLoaderSupported() ? 1 : 0;
    const int32_t nMask =
        LookupChipSetting(nSubVersion, pDlg, QStringLiteral("BootLoaderMask"), nChipsetType, nDefault);
    if (nMask != 0) {
        pHost->SetCheck(IDC_UPDATE_ALL, 0);
        pHost->EnableDlgItem(IDC_UPDATE_ALL, true);
        pDlg->m_bUpdateAll = 0;
    } else {
        pHost->SetCheck(IDC_UPDATE_ALL, 1);
        pHost->EnableDlgItem(IDC_UPDATE_ALL, false);
        pDlg->m_bUpdateAll = 1;
    }
}

void WriteDeviceCensus(CQuillonDlg* pDlg)
{
    IDialogHost* pHost = pDlg->Host();
    const int nCount = pHost->ComboGetCount(IDC_DEVICE_COMBO);
    AppendTrace(pDlg, QStringLiteral("Total %1 devices found!\r\n").arg(nCount));
    for (int i = 0; i < nCount; ++i) {
        auto* pDevice = static_cast<CZelUsbDevice*>(pHost->ComboGetItemData(IDC_DEVICE_COMBO, i));
        const QString path = pDevice != nullptr ? QString::fromUtf16(pDevice->GetDevicePath()) : QString();
        AppendTrace(pDlg, QStringLiteral("No.%1: %2\r\n").arg(QString::number(i), path));
    }
}
