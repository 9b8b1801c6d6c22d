// Chipset identification and naming: the three name lists, the effective chipset type and its text.
#pragma once

#include <QString>
#include <cstdint>

class CQuillonDlg;
class CZelUsbDevice;

// A count and that many owned names (zero-terminated UTF-16, at most 255 characters), one heap block
// for the slots; free with FreeNameList.
struct NameList {
    int32_t nCount;
    char16_t* apszNames[1];   // nCount slots
};

enum NameCategory { NAME_CONTROLLER = 0, NAME_HDCODEC = 1, NAME_IISCODEC = 2 };

NameList* LoadNameList(CQuillonDlg* pDlg, int nCategory);
void FreeNameList(NameList* pList);
uint16_t GetEffectiveChipsetType(CZelUsbDevice* pDevice, CQuillonDlg* pDlg);
QString GetControllerName(CQuillonDlg* pDlg, uint8_t nController);
QString GetCodecName(CQuillonDlg* pDlg, uint8_t nCodec);
QString FormatChipsetName(CQuillonDlg* pDlg, uint16_t nChipsetType);
