#include "dfu/BlockProgramming.h"

#include "app/QuillonDlg.h"
#include "config/ChipsetNaming.h"
#include "config/Configuration.h"

namespace {

const uint8_t kFlagSet = 0xAA;
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

// The loop ends at the first block after the highest set bit or at the image end; a clear bit skips
// one whole block.
bool WriteSelectedBlocks(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, uint32_t nBlockMask)
{
    const uint64_t nTotal = SelectedByteCount(nBlockMask, pDlg->m_nImageSize);
    uint64_t nDone = 0;
    ReportProgress(pDlg, 0, nTotal);
    uint32_t nRemaining = nBlockMask;
    int32_t nOffset = 0;
    int32_t nLength = static_cast<int32_t>(kBlockSize);
    while (nRemaining != 0 && nOffset < pDlg->m_nImageSize) {
        if ((nRemaining & 1) != 0) {
            if (pDlg->m_nImageSize - nOffset < nLength)
                nLength = pDlg->m_nImageSize - nOffset;
            if (!pDevice->WriteFlash(static_cast<uint32_t>(nOffset), static_cast<uint32_t>(nLength),
                                     pDlg->m_pImageData + nOffset, pDlg->m_bAutoVerify))
                return false;
            nDone += static_cast<uint64_t>(nLength);
            ReportProgress(pDlg, nDone, nTotal);
        }
        nRemaining >>= 1;
        nOffset += nLength;
    }
    return true;
}

}  // namespace

// The flag word is only looked at when it lies wholly inside the image, with at least one byte after it.
bool FlagProtocolApplies(const CQuillonDlg* pDlg, int32_t nFlagOffset)
{
    if (nFlagOffset <= 0 || nFlagOffset % static_cast<int32_t>(kBlockSize) != 0)
        return false;
    if (static_cast<int64_t>(nFlagOffset) + 2 >= pDlg->m_nImageSize)
        return false;
    const uint8_t* pFlag = pDlg->m_pImageData + nFlagOffset;
    return pFlag[0] == kFlagSet && pFlag[1] == kFlagSet;
}

uint32_t GetSerialNumberAddr(CQuillonDlg* pDlg, CZelUsbDevice* pDevice)
{
    const uint16_t nDeviceAddr = pDevice->GetDefaultSerialNumberAddr();
    const uint16_t nChipsetType = GetEffectiveChipsetType(pDevice, pDlg);
    const uint32_t nSubVersion = pDevice->GetSubVersion();
    return static_cast<uint32_t>(
        LookupChipSetting(nSubVersion, pDlg, QStringLiteral("SerialNumberAddr"), nChipsetType, nDeviceAddr));
}

uint32_t SerialNumberMask(uint32_t nSerialAddr)
{
    if (nSerialAddr == 0 || (nSerialAddr & (kBlockSize - 1)) != 0)
        return 0;
    return nSerialAddr >> 10;
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

    // With "Update All" the boot loader is written even where the serial-number mask covers it.
    if (pDlg->m_bUpdateAll != 0)
        nBlockMask = nBootMask | (nImageMask & ~nSerialMask);
    else
        nBlockMask = nImageMask & ~nSerialMask & ~nBootMask;

    nFlagOffset = LookupChipSetting(nSubVersion, pDlg, QStringLiteral("FlagOffset"), nChipsetType, kDefaultFlagOffset);

    if (nBlockMask == 0) {
        pDlg->Host()->MessageBox(QStringLiteral("Firmware upgrade is not permitted for this device!\r\n"));
        return false;
    }
    return true;
}

uint64_t SelectedByteCount(uint32_t nBlockMask, int32_t nImageSize)
{
    uint64_t nTotal = 0;
    int64_t nOffset = 0;
    for (uint32_t nRemaining = nBlockMask; nRemaining != 0 && nOffset < nImageSize; nRemaining >>= 1) {
        const int64_t nLength = nImageSize - nOffset < kBlockSize ? nImageSize - nOffset : kBlockSize;
        if ((nRemaining & 1) != 0)
            nTotal += static_cast<uint64_t>(nLength);
        nOffset += nLength;
    }
    return nTotal;
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
