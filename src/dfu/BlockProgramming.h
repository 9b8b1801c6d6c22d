// Which 4 KB blocks of the image are written into a device, and writing them under the flag-word
// protocol.
#pragma once

#include "dfu/BlockPlan.h"

#include <cstdint>

class CQuillonDlg;
class CZelUsbDevice;

// The device's serial-number address: the SerialNumberAddr setting, the device's own value by default.
uint32_t GetSerialNumberAddr(CQuillonDlg* pDlg, CZelUsbDevice* pDevice);

// The block mask and flag offset for this device, from the per-chip settings and "Update All".
// False (after the refusal was shown) when no block may be written.
bool SelectBlocks(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, uint32_t& nBlockMask, int32_t& nFlagOffset);

// Whether ProgramBlocks brackets the blocks with the flag word: the offset is a positive multiple of
// 4,096, the word lies inside the image with a byte after it, and the image holds 0xAA 0xAA there.
bool FlagProtocolApplies(const CQuillonDlg* pDlg, int32_t nFlagOffset);

// One attempt: the flag word cleared, the selected blocks in ascending order, the flag word set.
// True when every write succeeded. The image buffer is as before when it returns.
bool ProgramBlocks(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, int32_t nFlagOffset, uint32_t nBlockMask);
