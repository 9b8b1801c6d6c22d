// The download flow: image, admission, block selection, DFU mode, the attempts, normal mode.
#pragma once

class CQuillonDlg;
class CZelUsbDevice;

void DownloadFirmware(CQuillonDlg* pDlg, CZelUsbDevice* pDevice);
