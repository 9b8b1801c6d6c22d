#include "dfu/OperationWorker.h"

#include "app/DeviceList.h"
#include "app/QuillonDlg.h"
#include "app/Resource.h"
#include "app/Trace.h"
#include "dfu/Download.h"
#include "dfu/RetrySchedule.h"
#include "dfu/Upload.h"
#include "platform/Clock.h"

#include <system_error>

namespace {

constexpr uint32_t kFinishingPauseMs = 500;

// After an upload the entry is touched only when the device has gone.
void FixUpAfterUpload(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, int nIndex)
{
    if (pDevice->IsDeviceAvailable())
        return;
    pDlg->Host()->ComboDeleteString(IDC_DEVICE_COMBO, nIndex);
    ReleaseZelUsbDevice(pDevice);
    ShowSelectedDeviceInfo(pDlg);
}

// After a download the entry always takes the device's current product string, or goes with the device.
void FixUpAfterDownload(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, int nIndex)
{
    IDialogHost* pHost = pDlg->Host();
    pHost->ComboDeleteString(IDC_DEVICE_COMBO, nIndex);
    if (pDevice->IsDeviceAvailable()) {
        const char16_t* pszProduct = pDevice->GetProductString();
        const QString text = pszProduct != nullptr ? QString::fromUtf16(pszProduct) : QString();
        pHost->ComboInsertString(IDC_DEVICE_COMBO, nIndex, text);
        pHost->ComboSetItemData(IDC_DEVICE_COMBO, nIndex, pDevice);
        pHost->ComboSetCurSel(IDC_DEVICE_COMBO, nIndex);
    } else {
        ReleaseZelUsbDevice(pDevice);
    }
    ShowSelectedDeviceInfo(pDlg);
}

// Notices that came while the worker ran were only recorded; one fresh enumeration answers them all.
void RefreshIfStale(CQuillonDlg* pDlg)
{
    if (!pDlg->m_bDeviceListStale.load())
        return;
    RefreshDeviceList(pDlg);
    pDlg->m_bDeviceListStale = false;
}

}  // namespace

void OperationThreadProc(CQuillonDlg* pDlg)
{
    IDialogHost* pHost = pDlg->Host();
    const int nIndex = pHost->ComboGetCurSel(IDC_DEVICE_COMBO);
    auto* pDevice =
        nIndex >= 0 ? static_cast<CZelUsbDevice*>(pHost->ComboGetItemData(IDC_DEVICE_COMBO, nIndex)) : nullptr;
    if (pDevice == nullptr) {
        pHost->MessageBox(QStringLiteral("Please choose a DFU device!"));
        // Notices are held back from Start on, so the ones that came meanwhile are answered here.
        RefreshIfStale(pDlg);
        pDlg->m_bWorkerRunning = false;
        return;
    }

    if (pDlg->m_nOperation != 0) {
        UploadFirmware(pDlg, pDevice);
        FixUpAfterUpload(pDlg, pDevice, nIndex);
    } else {
        DownloadFirmware(pDlg, pDevice);
        FixUpAfterDownload(pDlg, pDevice, nIndex);
    }
    RefreshIfStale(pDlg);

    WorkerClock(pDlg).Sleep(kFinishingPauseMs);
    pDlg->m_bBusy = false;
    pDlg->m_bWorkerRunning = false;
}

void SetOperationUiEnabled(CQuillonDlg* pDlg, bool bEnable, CZelUsbDevice* pDevice)
{
    IDialogHost* pHost = pDlg->Host();
    for (int nId : {IDC_DEVICE_COMBO, IDC_DOWNLOAD, IDC_UPLOAD, IDC_START, IDC_PROGRESS})
        pHost->EnableDlgItem(nId, bEnable);

    const bool bUpdateAll =
        bEnable && pDevice != nullptr && pDevice->IsDeviceAvailable() && pDevice->IsHidDfuBootLoaderSupported();
    pHost->EnableDlgItem(IDC_UPDATE_ALL, bUpdateAll);

    // Every item of every drop-down menu; the menu bar's own entries stay enabled.
    for (const MenuTemplate& menu : pDlg->Template().menu) {
        for (const MenuItemTemplate& item : menu.items)
            pHost->EnableMenuItem(item.nCommand, bEnable);
    }
}

void BeginOperation(CQuillonDlg* pDlg, CZelUsbDevice* pDevice)
{
    SetOperationUiEnabled(pDlg, false, pDevice);
    pDlg->m_bBusy = true;
    StartProgressIndicator(pDlg);
}

void EndOperation(CQuillonDlg* pDlg, CZelUsbDevice* pDevice)
{
    SetOperationUiEnabled(pDlg, true, pDevice);
    StopProgressIndicator(pDlg);
}

// One worker at a time: a Start while a worker still runs (Preparing or Finishing) is dropped.
void CQuillonDlg::OnStart()
{
    if (m_bWorkerRunning.load())
        return;
    m_bDeviceListStale = false;
    UpdateData(true);

    // The previous worker has ended; joining it only collects its thread.
    if (m_hWorkerThread.joinable())
        m_hWorkerThread.join();
    m_bWorkerRunning = true;
    try {
        m_hWorkerThread = std::thread(OperationThreadProc, this);
    } catch (const std::system_error&) {
        m_bWorkerRunning = false;
    }
}
