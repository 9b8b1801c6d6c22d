// Quillon.ini: the known-ID and DFU patch tables and the per-chip settings.
#pragma once

#include <QString>
#include <cstdint>

class CQuillonDlg;

// Loads every table and list; true only when all loaded. Whatever fails stays null.
bool LoadConfiguration(CQuillonDlg* pDlg);
bool LoadKnownIds(CQuillonDlg* pDlg);
bool LoadDfuPatchInfos(CQuillonDlg* pDlg);
// The per-chip setting under "CHIP_%04x_SUBV_%08x" (low 8 bits of the sub-version cleared) in the
// section named by the setting, or nDefault.
int32_t LookupChipSetting(uint32_t nSubVersion, CQuillonDlg* pDlg, const QString& setting, uint16_t nChipsetType,
                          int32_t nDefault);

// Scans "%x, %x, ..." into nFields numbers as the entries are written; returns how many were read.
int ScanHexFields(const char16_t* pszText, uint32_t* pValues, int nFields);
