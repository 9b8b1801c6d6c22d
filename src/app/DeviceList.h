// The device list, the identity display and the start-up census.
#pragma once

class CQuillonDlg;
class CZelUsbDevice;

void RefreshDeviceList(CQuillonDlg* pDlg);
void ShowSelectedDeviceInfo(CQuillonDlg* pDlg);
void WriteDeviceCensus(CQuillonDlg* pDlg);
