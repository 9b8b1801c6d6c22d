// The retry schedule that downloads and uploads share: after failed attempt n the worker pauses
// 5,000 x (n - 1) ms, offers the device library a flash re-detection and tries again, as long as the
// pause stays below 50,000 ms (ten attempts, 225 s of pauses in all).
#pragma once

#include <cstdint>

class CQuillonDlg;
class CZelUsbDevice;
class IClock;

constexpr uint32_t kRetryPauseStepMs = 5000;
constexpr uint32_t kRetryPauseLimitMs = 50000;

constexpr uint32_t RetryPauseMs(int nAttempt)
{
    return kRetryPauseStepMs * static_cast<uint32_t>(nAttempt - 1);
}

// False after the attempt whose successor would have to wait 50,000 ms or more.
constexpr bool HasNextAttempt(int nAttempt)
{
    return RetryPauseMs(nAttempt + 1) < kRetryPauseLimitMs;
}

// The clock the worker pauses with: the window's injected one, or the system's.
IClock& WorkerClock(CQuillonDlg* pDlg);

// After failed attempt n: the pause, then the re-detection offer (DetectFlash only with a flash table).
void PauseBeforeRetry(CQuillonDlg* pDlg, CZelUsbDevice* pDevice, int nAttempt);
