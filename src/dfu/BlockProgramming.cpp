#include "dfu/BlockProgramming.h"

#include "app/QuillonDlg.h"
#include "app/WindowConfig.h"

namespace {

const uint8_t kFlagCleared = 0xFF;

void SetFlagBytes(uint8_t* pFlag, uint8_t value)
{
    pFlag[0] = value;
    pFlag[1] = value;
}

void ReportProgress(CQuillonDlg* pDlg, uint64_t nDone, uint64_t nTotal)
{
    if (IProgressObserver* pProgress = pDlg->Env().pProgress)
        pProgress->OnProgress(nDone, nTotal);
}

// The blocks of the plan in ascending order.
bool WriteSelectedBlocks(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, uint32_t nBlockMask)
{
    const std::vector<PlannedBlock> blocks = PlanBlocks(nBlockMask, pDlg->m_nImageSize);
    const uint64_t nTotal = SelectedByteCount(nBlockMask, pDlg->m_nImageSize);
    uint64_t nDone = 0;
    ReportProgress(pDlg, 0, nTotal);
    for (const PlannedBlock& block : blocks) {
        if (!pDevice->WriteFlash(static_cast<uint32_t>(block.nOffset), static_cast<uint32_t>(block.nLength),
                                 pDlg->m_pImageData + block.nOffset, pDlg->m_bAutoVerify))
            return false;
        nDone += static_cast<uint64_t>(block.nLength);
        ReportProgress(pDlg, nDone, nTotal);
    }
    return true;
}

}  // namespace

bool FlagProtocolApplies(const CQuillonDlg* pDlg, int32_t nFlagOffset)
{
    return FlagWordApplies(pDlg->m_pImageData, pDlg->m_nImageSize, nFlagOffset);
}

uint32_t GetSerialNumberAddr(CQuillonDlg* pDlg, CZelUsbDevice* pDevice)
{
    const uint16_t nDeviceAddr = pDevice->GetDefaultSerialNumberAddr();
    const uint16_t nChipsetType = GetEffectiveChipsetType(pDevice, pDlg);
    const uint32_t nSubVersion = pDevice->GetSubVersion();
    return static_cast<uint32_t>(
        LookupChipSetting(nSubVersion, pDlg, QStringLiteral("SerialNumberAddr"), nChipsetType, nDeviceAddr));
}

bool SelectBlocks(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, uint32_t& nBlockMask, int32_t& nFlagOffset)
{
    const uint16_t nChipsetType = GetEffectiveChipsetType(pDevice, pDlg);
    const uint32_t nSubVersion = pDevice->GetSubVersion();

    const uint32_t nImageMask =
        static_cast<uint32_t>(LookupChipSetting(nSubVersion, pDlg, QStringLiteral("ImageMask"), nChipsetType, -1));
    const int32_t nBootDefault = pDevice->IsHidDfuBootLoaderSupported() ? 1 : 0;
    const uint32_t nBootMask = static_cast<uint32_t>(
        LookupChipSetting(nSubVersion, pDlg, QStringLiteral("BootLoaderMask"), nChipsetType, nBootDefault));
    const uint32_t nSerialMask = SerialNumberMask(GetSerialNumberAddr(pDlg, pDevice));

    nBlockMask = ComposeBlockMask(nImageMask, nBootMask, nSerialMask, pDlg->m_bUpdateAll != 0);

    nFlagOffset = LookupChipSetting(nSubVersion, pDlg, QStringLiteral("FlagOffset"), nChipsetType, kDefaultFlagOffset);

    if (nBlockMask == 0) {
        pDlg->Host()->MessageBox(QStringLiteral("Firmware upgrade is not permitted for this device!\r\n"));
        return false;
    }
    return true;
}

bool ProgramBlocks(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, int32_t nFlagOffset, uint32_t nBlockMask)
{
    const bool bFlagProtocol = FlagProtocolApplies(pDlg, nFlagOffset);
    uint8_t* pFlag = bFlagProtocol ? pDlg->m_pImageData + nFlagOffset : nullptr;

    // The device's flag word is cleared first and set only after every block is written, so a device
    // whose programming breaks off never boots a partly written image.
    if (bFlagProtocol) {
        SetFlagBytes(pFlag, kFlagCleared);
        if (!pDevice->WriteFlash(static_cast<uint32_t>(nFlagOffset), 2, pFlag, pDlg->m_bAutoVerify)) {
            SetFlagBytes(pFlag, kFlagSet);
            return false;
        }
    }

    if (nBlockMask != 0 && !WriteSelectedBlocks(pDlg, pDevice, nBlockMask)) {
        if (bFlagProtocol)
            SetFlagBytes(pFlag, kFlagSet);
        return false;
    }

    if (bFlagProtocol) {
        SetFlagBytes(pFlag, kFlagSet);
        return pDevice->WriteFlashFlag(static_cast<uint32_t>(nFlagOffset), 2, pFlag, pDlg->m_bAutoVerify);
    }
    return true;
}
