#include "dfu/Download.h"

#include "app/QuillonDlg.h"
#include "app/Trace.h"
#include "dfu/AdmissionCheck.h"
#include "dfu/BlockProgramming.h"
#include "dfu/DfuModeEntry.h"
#include "dfu/OperationWorker.h"
#include "dfu/RetrySchedule.h"

namespace {

void ShowMessage(CQuillonDlg* pDlg, const char* pszText)
{
    pDlg->Host()->MessageBox(QString::fromLatin1(pszText));
}

void Trace(CQuillonDlg* pDlg, const char* pszText)
{
    AppendTrace(pDlg, QString::fromLatin1(pszText));
}

// Attempts on the retry schedule; a device that has gone ends them at once.
void RunAttempts(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, int32_t nFlagOffset, uint32_t nBlockMask)
{
    for (int nAttempt = 1;; ++nAttempt) {
        if (!pDevice->IsDeviceAvailable()) {
            ShowMessage(pDlg, "Firmware upgrade failed");
            return;
        }
        if (ProgramBlocks(pDlg, pDevice, nFlagOffset, nBlockMask)) {
            Trace(pDlg, "Firmware upgrade succeeded....\r\n");
            return;
        }
        PauseBeforeRetry(pDlg, pDevice, nAttempt);
        if (!HasNextAttempt(nAttempt)) {
            ShowMessage(pDlg, "Firmware upgrade failed");
            return;
        }
    }
}

}  // namespace

void DownloadFirmware(CQuillonDlg* pDlg, CZelUsbDevice* pDevice)
{
    if (pDlg->m_pImageData == nullptr) {
        pDlg->OnOpenImage();
        if (pDlg->m_pImageData == nullptr)
            return;
    }
    if (!CheckImageMatch(pDlg, pDevice))
        return;
    uint32_t nBlockMask = 0;
    int32_t nFlagOffset = 0;
    if (!SelectBlocks(pDlg, pDevice, nBlockMask, nFlagOffset))
        return;

    BeginOperation(pDlg, pDevice);
    Trace(pDlg, "Waiting until device is switched to DFU mode!\r\n");
    if (!EnterDfuMode(pDlg, pDevice)) {
        ShowMessage(pDlg, "Switching to DFU mode failed!");
    } else {
        Trace(pDlg, "Device is switched to DFU mode successfully!\r\n");
        Trace(pDlg, "Firmware upgrade started....\r\n");
        RunAttempts(pDlg, pDevice, nFlagOffset, nBlockMask);

        // A device that has gone is not asked to switch back, and nothing is said about it here.
        if (pDevice->IsDeviceAvailable()) {
            Trace(pDlg, "Waiting until device is switched to normal mode....\r\n");
            if (pDevice->SwitchToNormalMode())
                Trace(pDlg, "Device is switched to normal mode successfully!\r\n");
            else
                ShowMessage(pDlg, "Device switching to normal mode failed!\r\n");
        }
    }
    EndOperation(pDlg, pDevice);
}
