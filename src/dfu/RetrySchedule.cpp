#include "dfu/RetrySchedule.h"

#include "app/QuillonDlg.h"
#include "platform/Clock.h"

static_assert(RetryPauseMs(1) == 0 && RetryPauseMs(10) == 45000, "pauses grow by 5 s from 0");
static_assert(HasNextAttempt(9) && !HasNextAttempt(10), "ten attempts in all");

IClock& WorkerClock(CQuillonDlg* pDlg)
{
    IClock* pClock = pDlg->Env().pClock;
    return pClock != nullptr ? *pClock : SystemClock();
}

void PauseBeforeRetry(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, int nAttempt)
{
    WorkerClock(pDlg).Sleep(RetryPauseMs(nAttempt));
    // Asked even without a flash table; only the detection itself needs one.
    if (pDevice->IsFlashRedetectNeeded() && g_pFlashInfo != nullptr)
        pDevice->DetectFlash();
}
