// The faults a device plays out during one plug-in: its fault plan (docs/emulator.md, "Faults") and the
// counters that tell when each planned fault is due. Counts start at 1 from the plug-in.
#pragma once

#include "emulator/DeviceFile.h"

#include <array>
#include <cstdint>

class CDeviceFaults {
public:
    explicit CDeviceFaults(const FaultPlan& plan = {}) { Reset(plan); }
    // A new plug-in: this plan, every counter from zero.
    void Reset(const FaultPlan& plan);
    const FaultPlan& Plan() const { return m_plan; }

    // Counts an occurrence of the step; true when it is the one the device is pulled out at.
    bool StepReached(UnplugStep step);
    // Counts a report of either direction; true when the device is pulled out right after it.
    bool CountReport();
    // Requests that the plan refuses (each call takes one refusal).
    bool RefuseDfu() { return TakeRefusal(m_nRefuseDfu); }
    bool RefuseNormal() { return TakeRefusal(m_nRefuseNormal); }
    bool FailFlashId() { return TakeRefusal(m_nFlashIdFails); }

    // What befalls the next flash write or read transfer.
    struct TransferFaults {
        bool bFail = false, bCorrupt = false, bTimeout = false, bUnplugHalfway = false;
    };
    TransferFaults NextWrite()
    {
        return NextTransfer(m_nWrites, m_plan.failWrites, m_plan.corruptWrites, m_plan.timeoutWrites,
                            UnplugStep::Write);
    }
    TransferFaults NextRead()
    {
        return NextTransfer(m_nReads, m_plan.failReads, m_plan.corruptReads, m_plan.timeoutReads, UnplugStep::Read);
    }

    // What befalls the next response (command report sent by the device).
    struct ResponseFaults {
        bool bDrop = false, bDuplicate = false, bStale = false;
        int nFlipBit = -1;  // the bit of the 64-byte report to flip, or -1
    };
    ResponseFaults NextResponse();
    // Counts a command report from the host; the bit of it to flip on the way, or -1.
    int NextCommandFlip();

    // Counts the flash operation about to start; true when the power goes at it (in the plan's phase).
    bool NextFlashOpCut() { return ++m_nFlashOps == m_plan.nUnplugAtFlashOp; }
    FlashCutPhase FlashOpCutPhase() const { return m_plan.unplugFlashOpPhase; }

private:
    static bool TakeRefusal(int& nCounter);
    TransferFaults NextTransfer(uint64_t& nCounter, const std::set<uint32_t>& fail, const std::set<uint32_t>& corrupt,
                                const std::set<uint32_t>& timeout, UnplugStep step);

    FaultPlan m_plan;
    std::array<uint64_t, kUnplugSteps> m_steps{};
    uint64_t m_nReports = 0, m_nWrites = 0, m_nReads = 0, m_nResponses = 0, m_nCommands = 0, m_nFlashOps = 0;
    int m_nRefuseDfu = 0, m_nRefuseNormal = 0, m_nFlashIdFails = 0;
};
