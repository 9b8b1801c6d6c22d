#include "app/DeviceList.h"
#include "app/QuillonDlg.h"
#include "app/Resource.h"
#include "app/Trace.h"

#include <string>

namespace {

char16_t FoldAsciiCase(char16_t ch)
{
    return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - u'a' + u'A') : ch;
}

// Interface paths compare with the letters A to Z folded; nothing else is folded.
bool SamePath(const char16_t* pszPath, const std::u16string& other)
{
    if (pszPath == nullptr)
        return false;
    size_t i = 0;
    for (; pszPath[i] != u'\0'; ++i) {
        if (i >= other.size() || FoldAsciiCase(pszPath[i]) != FoldAsciiCase(other[i]))
            return false;
    }
    return i == other.size();
}

CZelUsbDevice* EntryDevice(IDialogHost* pHost, int nIndex)
{
    return static_cast<CZelUsbDevice*>(pHost->ComboGetItemData(IDC_DEVICE_COMBO, nIndex));
}

void OnDeviceArrival(CQuillonDlg* pDlg, const std::u16string& path)
{
    CZelUsbDevice* pDevice = AddZelUsbDevice(path.c_str());
    if (pDevice == nullptr)
        return;
    IDialogHost* pHost = pDlg->Host();
    AppendTrace(pDlg, QStringLiteral("Device %1 is plugged in\r\n").arg(QString::fromStdU16String(path)));
    const char16_t* pszProduct = pDevice->GetProductString();
    const QString text = pszProduct != nullptr ? QString::fromUtf16(pszProduct) : QString();
    const int nIndex = pHost->ComboAddString(IDC_DEVICE_COMBO, text);
    pHost->ComboSetItemData(IDC_DEVICE_COMBO, nIndex, pDevice);
    pHost->ComboSetCurSel(IDC_DEVICE_COMBO, nIndex);
    ShowSelectedDeviceInfo(pDlg);
}

// A second entry may share the removed entry's path (the library handed out two objects for one
// path) or even its object. Releasing by path would leave that entry pointing at a freed object, so
// then only the removed entry's own object is released, and nothing when the other entry shares it.
void ReleaseRemoved(IDialogHost* pHost, CZelUsbDevice* pRemoved, const std::u16string& path)
{
    bool bPathStillListed = false;
    const int nCount = pHost->ComboGetCount(IDC_DEVICE_COMBO);
    for (int i = 0; i < nCount; ++i) {
        CZelUsbDevice* pOther = EntryDevice(pHost, i);
        if (pOther == nullptr)
            continue;
        if (pOther == pRemoved)
            return;
        if (SamePath(pOther->GetDevicePath(), path))
            bPathStillListed = true;
    }
    if (bPathStillListed)
        ReleaseZelUsbDevice(pRemoved);
    else
        ReleaseZelUsbDevice(path.c_str());
}

void OnDeviceRemoval(CQuillonDlg* pDlg, const std::u16string& path)
{
    IDialogHost* pHost = pDlg->Host();
    const int nCount = pHost->ComboGetCount(IDC_DEVICE_COMBO);
    int nFound = -1;
    CZelUsbDevice* pRemoved = nullptr;
    for (int i = 0; i < nCount; ++i) {
        CZelUsbDevice* pDevice = EntryDevice(pHost, i);
        if (pDevice != nullptr && SamePath(pDevice->GetDevicePath(), path)) {
            nFound = i;
            pRemoved = pDevice;
            break;
        }
    }
    if (nFound < 0) {
        ReleaseZelUsbDevice(path.c_str());
        return;
    }

    AppendTrace(pDlg, QStringLiteral("Device %1 is removed\r\n").arg(QString::fromStdU16String(path)));
    const int nSelected = pHost->ComboGetCurSel(IDC_DEVICE_COMBO);
    pHost->ComboDeleteString(IDC_DEVICE_COMBO, nFound);
    if (nFound == nSelected) {
        pHost->ComboSetCurSel(IDC_DEVICE_COMBO, nCount > 1 ? 0 : -1);
        ShowSelectedDeviceInfo(pDlg);
    }
    ReleaseRemoved(pHost, pRemoved, path);
}

}  // namespace

// While a worker exists (from Start, before it marks the window busy, to its very end) notices only
// mark the list stale: the worker's device object must stay valid, and the worker re-enumerates.
bool CQuillonDlg::OnDeviceChange(const DeviceNotice& notice)
{
    if (m_bBusy.load() || m_bWorkerRunning.load()) {
        m_bDeviceListStale = true;
        return true;
    }
    if (!notice.bHasRecord || notice.nDeviceType != DBT_DEVTYP_DEVICEINTERFACE)
        return true;
    if (notice.nEvent == DBT_DEVICEARRIVAL)
        OnDeviceArrival(this, notice.strPath);
    else if (notice.nEvent == DBT_DEVICEREMOVECOMPLETE)
        OnDeviceRemoval(this, notice.strPath);
    return true;
}
