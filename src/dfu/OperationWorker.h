// The worker thread that runs one download or upload, and the locking of the window around it.
#pragma once

class CQuillonDlg;
class CZelUsbDevice;

// The worker's entry: one operation on the selected device, the list fix-up, the re-enumeration after
// deferred notices, the final pause; clears m_bBusy and, as its very last action, m_bWorkerRunning.
void OperationThreadProc(CQuillonDlg* pDlg);

// Locks (false) or unlocks (true) the controls and menu commands that could interfere with an operation.
void SetOperationUiEnabled(CQuillonDlg* pDlg, bool bEnable, CZelUsbDevice* pDevice);

// The window enters Running: controls locked, m_bBusy set, the progress indicator started.
void BeginOperation(CQuillonDlg* pDlg, CZelUsbDevice* pDevice);
// Running ends: controls unlocked, the indicator stopped; m_bBusy stays set until the worker ends.
void EndOperation(CQuillonDlg* pDlg, CZelUsbDevice* pDevice);
