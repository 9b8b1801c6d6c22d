// Whether the loaded image may be written to a device, as far as the match policy asks.
#pragma once

#include <cstdint>

class CQuillonDlg;
class CZelUsbDevice;

// Bits of the match policy; each switches one comparison on.
constexpr uint32_t MATCH_VENDOR_ID = 0x1;
constexpr uint32_t MATCH_PRODUCT_ID = 0x2;
constexpr uint32_t MATCH_VERSION = 0x4;
constexpr uint32_t MATCH_SUBVERSION = 0x8;
constexpr uint32_t MATCH_CHIPSET = 0x100;

// True admits the download. False refuses it after the message naming the first difference was shown.
bool CheckImageMatch(CQuillonDlg* pDlg, CZelUsbDevice* pDevice);
