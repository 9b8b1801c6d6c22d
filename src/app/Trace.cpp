#include "app/Trace.h"

#include "app/QuillonDlg.h"
#include "app/Resource.h"

#include <mutex>

namespace {

// Orders a tick against a stop: a tick that sees the timer running sets the bar while holding this,
// and a stop clears the timer under it before setting the bar, so the stop's 0 is always the last word.
// Never held across a host call made from the worker (those may wait for the window's thread).
std::mutex g_tickMutex;

}  // namespace

void AppendTrace(CQuillonDlg* pDlg, const QString& text)
{
    if (IDialogHost* pHost = pDlg->Host())
        pHost->EditAppendText(IDC_TRACE, text);
}

void CQuillonDlg::ClearTrace()
{
    if (IDialogHost* pHost = Host())
        pHost->SetDlgItemText(IDC_TRACE, QString());
}

// Positions 10, 20, ..., 100, then 0: an 11-tick cycle. A tick that arrives after a stop changes nothing.
void CQuillonDlg::OnTimer(unsigned)
{
    std::lock_guard lock(g_tickMutex);
    if (m_nTimerId.load() == 0)
        return;
    int32_t nPos = m_nProgressPos.load() + 10;
    if (nPos > 100)
        nPos = 0;
    m_nProgressPos.store(nPos);
    if (IDialogHost* pHost = Host())
        pHost->ProgressSetPos(IDC_PROGRESS, nPos);
}

void StartProgressIndicator(CQuillonDlg* pDlg)
{
    {
        std::lock_guard lock(g_tickMutex);
        pDlg->m_nProgressPos.store(0);
    }
    IDialogHost* pHost = pDlg->Host();
    const uint32_t nId = pHost != nullptr ? pHost->SetTimer(PROGRESS_TIMER_ID, PROGRESS_TIMER_PERIOD_MS) : 0;
    pDlg->m_nTimerId.store(nId);
}

void StopProgressIndicator(CQuillonDlg* pDlg)
{
    IDialogHost* pHost = pDlg->Host();
    const uint32_t nId = pDlg->m_nTimerId.load();
    if (pHost != nullptr && nId != 0)
        pHost->KillTimer(nId);
    {
        std::lock_guard lock(g_tickMutex);
        pDlg->m_nProgressPos.store(0);
        pDlg->m_nTimerId.store(0);
    }
    if (pHost != nullptr)
        pHost->ProgressSetPos(IDC_PROGRESS, 0);
}
