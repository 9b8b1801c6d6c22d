#include "dfu/DfuModeEntry.h"

#include "app/QuillonDlg.h"
#include "app/Trace.h"
#include "app/WindowConfig.h"
#include "base/HeapBlock.h"
#include "platform/FileIo.h"

QString BuildDfuPatchPath(CQuillonDlg* pDlg, CZelUsbDevice* pDevice)
{
    const uint8_t nController = static_cast<uint8_t>(GetEffectiveChipsetType(pDevice, pDlg) >> 8);
    return pDlg->m_strModuleDir + GetControllerName(pDlg, nController) + QStringLiteral(".bin");
}

namespace {

// A missing, unreadable or empty patch file is not told apart from a refused patch.
bool LoadPatchFile(CQuillonDlg* pDlg, CZelUsbDevice* pDevice)
{
    uint8_t* pRead = nullptr;
    const int32_t nLength = ReadWholeFile(BuildDfuPatchPath(pDlg, pDevice), pRead);
    const CHeapBlock<uint8_t> patch(pRead);
    if (nLength <= 0)
        return false;
    // Exactly the file's bytes: the two zero bytes behind them are not part of the patch.
    return pDevice->LoadDfuPatch(patch, static_cast<uint32_t>(nLength));
}

// One program per device: a device another program holds was not touched, and the trace says why.
void TraceHolder(CQuillonDlg* pDlg, CZelUsbDevice* pDevice)
{
    const int nPid = ZelUsbDeviceHeldBy(pDevice);
    if (nPid == 0)
        return;
    AppendTrace(pDlg, nPid > 0 ? QStringLiteral("Device is in use by another program (process %1)!\r\n").arg(nPid)
                               : QStringLiteral("Device is in use by another program!\r\n"));
}

}  // namespace

bool EnterDfuMode(CQuillonDlg* pDlg, CZelUsbDevice* pDevice)
{
    if (pDevice->IsHidDfuBootLoaderSupported()) {
        if (!pDevice->SwitchToDfuMode()) {
            TraceHolder(pDlg, pDevice);
            return false;
        }
    } else if (!LoadPatchFile(pDlg, pDevice)) {
        TraceHolder(pDlg, pDevice);
        return false;
    }

    if (pDlg->m_pFlashInfo == nullptr)
        return true;
    if (pDevice->DetectFlash())
        return true;
    pDevice->SwitchToNormalMode();
    return false;
}
