// Whether the loaded image may be written to a device, as far as the match policy asks.
#pragma once

#include "dfu/MatchPolicy.h"

#include <cstdint>

class CQuillonDlg;
class CZelUsbDevice;

// The device's value for one row of the match policy, asked of the device (and, for the chipset, of
// ChipsetInfo) when called.
uint32_t DeviceMatchValue(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, uint32_t nBit);

// True admits the download. False refuses it after the message naming the first difference was shown.
bool CheckImageMatch(CQuillonDlg* pDlg, CZelUsbDevice* pDevice);
