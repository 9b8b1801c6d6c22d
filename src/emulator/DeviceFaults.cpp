#include "emulator/DeviceFaults.h"

void CDeviceFaults::Reset(const FaultPlan& plan)
{
    m_plan = plan;
    m_steps.fill(0);
    m_nReports = m_nWrites = m_nReads = m_nResponses = m_nCommands = m_nFlashOps = 0;
    m_nRefuseDfu = plan.nRefuseDfu;
    m_nRefuseNormal = plan.nRefuseNormal;
    m_nFlashIdFails = plan.nFlashIdFails;
}

bool CDeviceFaults::StepReached(UnplugStep step)
{
    if (step == UnplugStep::None || step != m_plan.unplugStep)
        return false;
    return ++m_steps[static_cast<size_t>(step)] == m_plan.nUnplugStepCount;
}

bool CDeviceFaults::CountReport()
{
    ++m_nReports;
    return m_plan.nUnplugAfterReports && m_nReports == m_plan.nUnplugAfterReports;
}

bool CDeviceFaults::TakeRefusal(int& nCounter)
{
    if (nCounter < 0)
        return true;  // every request
    if (nCounter == 0)
        return false;
    --nCounter;
    return true;
}

CDeviceFaults::TransferFaults CDeviceFaults::NextTransfer(uint64_t& nCounter, const std::set<uint32_t>& fail,
                                                          const std::set<uint32_t>& corrupt,
                                                          const std::set<uint32_t>& timeout, UnplugStep step)
{
    const uint32_t n = static_cast<uint32_t>(++nCounter);
    TransferFaults f;
    f.bFail = fail.count(n) > 0;
    f.bCorrupt = corrupt.count(n) > 0;
    f.bTimeout = timeout.count(n) > 0;
    f.bUnplugHalfway = StepReached(step);
    return f;
}

int CDeviceFaults::NextCommandFlip()
{
    const auto flip = m_plan.flipCommands.find(static_cast<uint32_t>(++m_nCommands));
    return flip == m_plan.flipCommands.end() ? -1 : static_cast<int>(flip->second);
}

CDeviceFaults::ResponseFaults CDeviceFaults::NextResponse()
{
    const uint32_t n = static_cast<uint32_t>(++m_nResponses);
    ResponseFaults f;
    f.bDrop = m_plan.dropResponses.count(n) > 0;
    f.bDuplicate = m_plan.duplicateResponses.count(n) > 0;
    f.bStale = m_plan.staleResponses.count(n) > 0;
    if (const auto flip = m_plan.flipResponses.find(n); flip != m_plan.flipResponses.end())
        f.nFlipBit = static_cast<int>(flip->second);
    return f;
}
