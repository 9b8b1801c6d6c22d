// How the library reads the three tables the program hands over (docs/device-library.md).
#pragma once

#include "device/ZelHidApi.h"
#include "device/zelhid/Protocol.h"

#include <cstdint>

// A HID interface is served when a KnownIdTable record names its vendor and product ID and either
// its usage page << 16 | usage or 0 (any interface). A null table serves nothing.
bool IsKnownInterface(const _ZEL_USB_DEV_ID_INFO* pTable, uint16_t nVendorId, uint16_t nProductId, uint16_t nUsagePage,
                      uint16_t nUsage);

// A device without a boot loader can be brought into DFU mode when a DfuPatchInfoTable record names
// its vendor ID, product ID and sub-version key (low 8 bits ignored) and, when the record gives chip
// bytes and the device reports a chipset type, the same controller (first chip byte = high byte of
// the chipset type) and codec (second chip byte = low byte). The version takes no part.
bool MatchesDfuPatchInfo(const _ZEL_USB_DEV_INFO* pTable, uint16_t nVendorId, uint16_t nProductId, uint32_t nSubVersion,
                         uint16_t nChipsetType);

// The FlashInfoTable record of a JEDEC ID (number 1, most significant byte first), or null.
const _FLASH_INFO* FindFlashInfo(const _FLASH_INFO* pTable, uint32_t nJedecId);
// The record's numbers as the device's flash setup.
zelproto::FlashConfig FlashConfigOf(const _FLASH_INFO& info);
