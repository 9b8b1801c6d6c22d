// Quillon.ini: the known-ID and DFU patch tables and the per-chip settings.
#pragma once

#include "base/HeapBlock.h"
#include "config/ProfileAccess.h"
#include "device/ZelHidApi.h"

#include <QString>
#include <cstdint>

// Each table is one block of its records and an all-zero record after them. False when the section
// gives no table (the block is left as it was) or the heap refuses it (the block is then null).
bool LoadKnownIdTable(const ProfileSource& profile, CHeapBlock<_ZEL_USB_DEV_ID_INFO>& table);
bool LoadDfuPatchTable(const ProfileSource& profile, CHeapBlock<_ZEL_USB_DEV_INFO>& table);

// The per-chip setting under "CHIP_%04x_SUBV_%08x" (low 8 bits of the sub-version cleared) in the
// section named by the setting, or nDefault.
int32_t LookupChipSetting(uint32_t nSubVersion, const ProfileSource& profile, const QString& setting,
                          uint16_t nChipsetType, int32_t nDefault);

// Scans "%x, %x, ..." into nFields numbers as the entries are written; returns how many were read.
int ScanHexFields(const char16_t* pszText, uint32_t* pValues, int nFields);
