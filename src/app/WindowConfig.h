// Quillon.ini and zel.dat read for the main window: its tables, name lists and per-chip settings,
// from the file beside the executable through the window's profile reader.
#pragma once

#include "config/ChipsetNaming.h"
#include "config/Configuration.h"

#include <QString>
#include <cstdint>
#include <memory>

class CQuillonDlg;
class CZelUsbDevice;

// The window's profile reader and Quillon.ini's path.
ProfileSource ProfileOf(const CQuillonDlg* pDlg);

uint32_t ReadIniInt(CQuillonDlg* pDlg, const QString& section, const QString& key, int32_t nDefault);
QString ReadIniString(CQuillonDlg* pDlg, const QString& section, const QString& key);

// Loads every table and list; true only when all loaded. Whatever fails stays null.
bool LoadConfiguration(CQuillonDlg* pDlg);
bool LoadKnownIds(CQuillonDlg* pDlg);
bool LoadDfuPatchInfos(CQuillonDlg* pDlg);
bool LoadFlashTable(CQuillonDlg* pDlg);
std::unique_ptr<NameList> LoadNameList(CQuillonDlg* pDlg, int nCategory);
int32_t LookupChipSetting(uint32_t nSubVersion, CQuillonDlg* pDlg, const QString& setting, uint16_t nChipsetType,
                          int32_t nDefault);

// The device's own chipset type, or the one ChipsetInfo gives its sub-version (asked for only then).
uint16_t GetEffectiveChipsetType(CZelUsbDevice* pDevice, CQuillonDlg* pDlg);
QString GetControllerName(CQuillonDlg* pDlg, uint8_t nController);
QString GetCodecName(CQuillonDlg* pDlg, uint8_t nCodec);
QString FormatChipsetName(CQuillonDlg* pDlg, uint16_t nChipsetType);
