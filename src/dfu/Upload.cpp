#include "dfu/Upload.h"

#include "app/QuillonDlg.h"
#include "app/Trace.h"
#include "device/ZelHidApi.h"
#include "dfu/DfuModeEntry.h"
#include "dfu/OperationWorker.h"
#include "dfu/RetrySchedule.h"
#include "platform/OutputFile.h"

#include <algorithm>

namespace {

// Lives as long as the program; only one operation runs at a time.
uint8_t s_uploadBuffer[kUploadBufferSize];

void ShowMessage(CQuillonDlg* pDlg, const char* pszText)
{
    pDlg->Host()->MessageBox(QString::fromLatin1(pszText));
}

void Trace(CQuillonDlg* pDlg, const char* pszText)
{
    AppendTrace(pDlg, QString::fromLatin1(pszText));
}

void ReportProgress(CQuillonDlg* pDlg, uint64_t nDone)
{
    if (IProgressObserver* pProgress = pDlg->Env().pProgress)
        pProgress->OnProgress(std::min<uint64_t>(nDone, kUploadBufferSize), kUploadBufferSize);
}

// Exactly the delivered bytes, and never more than the buffer holds, whatever the device reports. The
// file takes its name only once every byte is on the disk.
bool WriteDelivered(COutputFile& file, uint32_t nDelivered)
{
    return file.Write(s_uploadBuffer, std::min(nDelivered, kUploadBufferSize)) && file.Commit();
}

// Attempts on the retry schedule; a device that has gone ends them at once.
void RunAttempts(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, COutputFile& file)
{
    for (int nAttempt = 1;; ++nAttempt) {
        if (!pDevice->IsDeviceAvailable()) {
            ShowMessage(pDlg, "Firmware upload failed!");
            return;
        }
        std::fill(std::begin(s_uploadBuffer), std::end(s_uploadBuffer), uint8_t{0});
        uint32_t nLength = kUploadBufferSize;
        ReportProgress(pDlg, 0);
        const CReadProgressScope progress([](void* pContext, uint64_t nDone,
                                             uint64_t) { ReportProgress(static_cast<CQuillonDlg*>(pContext), nDone); },
                                          pDlg);
        if (pDevice->ReadFlash(0, nLength, s_uploadBuffer)) {
            ReportProgress(pDlg, std::min(nLength, kUploadBufferSize));
            // A file that did not take the bytes is no success.
            if (WriteDelivered(file, nLength))
                Trace(pDlg, "Firmware upload succeeded!\r\n");
            else
                ShowMessage(pDlg, "Write file failed!");
            return;
        }
        PauseBeforeRetry(pDlg, pDevice, nAttempt);
        if (!HasNextAttempt(nAttempt)) {
            ShowMessage(pDlg, "Firmware upload failed!");
            return;
        }
    }
}

}  // namespace

void UploadFirmware(CQuillonDlg* pDlg, CZelUsbDevice* pDevice)
{
    FileDialogRequest request;
    request.strFilter = QStringLiteral("BIN Files (*.bin)|*.bin|All Files (*.*)|*.*||");
    request.strDefaultExt = QStringLiteral("bin");
    request.bOverwritePrompt = true;
    request.bHideReadOnly = true;
    QString path;
    if (!pDlg->Host()->GetSaveFileName(request, path))
        return;

    BeginOperation(pDlg, pDevice);
    // A file that is there when the dialog answers was confirmed by its overwrite question. The open
    // never waits and never follows a link: a pipe, a folder or a link is refused at once.
    COutputFile file;
    if (!file.Create(path, pDlg->Env().bReplaceConfirmed)) {
        ShowMessage(pDlg, "Open file failed!");
        EndOperation(pDlg, pDevice);
        return;
    }

    Trace(pDlg, "Waiting until device is switched to DFU mode!\r\n");
    if (!EnterDfuMode(pDlg, pDevice)) {
        ShowMessage(pDlg, "Switching to DFU mode failed!");
    } else {
        Trace(pDlg, "Device is switched to DFU mode successfully!\r\n");
        Trace(pDlg, "Firmware upload started....\r\n");
        RunAttempts(pDlg, pDevice, file);

        // Unlike a download, the switch back is asked for even when the device has gone.
        Trace(pDlg, "Waiting until device is switched to normal mode....\r\n");
        if (pDevice->SwitchToNormalMode())
            Trace(pDlg, "Device is switched to normal mode successfully!\r\n");
        else
            ShowMessage(pDlg, "Device switching to normal mode failed!\r\n");
    }
    file.Discard();
    EndOperation(pDlg, pDevice);
}
