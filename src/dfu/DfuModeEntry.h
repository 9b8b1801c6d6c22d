// Bringing a device into DFU mode, through its boot loader or its controller's DFU patch file.
#pragma once

#include <QString>

class CQuillonDlg;
class CZelUsbDevice;

// The executable's directory, the controller name of the device's effective chipset type, ".bin".
QString BuildDfuPatchPath(CQuillonDlg* pDlg, CZelUsbDevice* pDevice);

// True: the device is in DFU mode and, when a flash table is loaded, its flash chip is identified.
// False: it is not; nothing has been shown or traced (after a failed flash detection the device has
// been asked to return to normal mode).
bool EnterDfuMode(CQuillonDlg* pDlg, CZelUsbDevice* pDevice);
