#include "dfu/Upload.h"

#include "app/QuillonDlg.h"
#include "app/Trace.h"
#include "dfu/DfuModeEntry.h"
#include "dfu/OperationWorker.h"
#include "dfu/RetrySchedule.h"

#include <QFile>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

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
        pProgress->OnProgress(nDone, kUploadBufferSize);
}

// Exactly the delivered bytes, and never more than the buffer holds, whatever the device reports.
bool WriteDelivered(QFile& file, uint32_t nDelivered)
{
    const qint64 nLength = std::min(nDelivered, kUploadBufferSize);
    return file.write(reinterpret_cast<const char*>(s_uploadBuffer), nLength) == nLength && file.flush();
}

// Creates or truncates the chosen file for writing. The open never waits: a named pipe that nobody
// reads fails at once (it would hold the worker, and so the window, forever); one that is being read
// is written in the ordinary, waiting way.
bool OpenOutput(QFile& file, const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC,
                          0666);
    if (fd < 0)
        return false;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        !file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

// Attempts on the retry schedule; a device that has gone ends them at once.
void RunAttempts(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, QFile& file)
{
    for (int nAttempt = 1;; ++nAttempt) {
        if (!pDevice->IsDeviceAvailable()) {
            ShowMessage(pDlg, "Firmware upload failed!");
            return;
        }
        std::fill(std::begin(s_uploadBuffer), std::end(s_uploadBuffer), uint8_t{0});
        uint32_t nLength = kUploadBufferSize;
        ReportProgress(pDlg, 0);
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
    QFile file;
    if (!OpenOutput(file, path)) {
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
    file.close();
    EndOperation(pDlg, pDevice);
}
