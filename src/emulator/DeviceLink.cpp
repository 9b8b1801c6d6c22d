// The link and the clock: reports crossing the USB link on the report interval's grid, the device's
// queue of work on its virtual clock, real-time pacing and power cuts.
#include "emulator/EmulatedDevice.h"

#include <algorithm>
#include <cstring>
#include <thread>

using namespace zelproto;

namespace {

// More than the longest transfer (1 + 1,057 reports), so that a reading host never loses any.
constexpr size_t kMaxQueuedReports = 4096;
constexpr std::chrono::milliseconds kPaceSlack{16};

}  // namespace

uint64_t CEmulatedDevice::OpenLink()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bPlugged)
        return 0;
    const uint64_t id = m_nNextLink++;
    m_links[id];
    return id;
}

void CEmulatedDevice::CloseLink(uint64_t nLink)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_links.erase(nLink);
}

int CEmulatedDevice::Write(uint64_t nLink, const uint8_t* pReport)
{
    std::function<void()> notify;
    int result = 1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bPlugged || !m_links.count(nLink))
            return -1;
        CatchUpRealTime();
        const int64_t slot = Grid(std::max(m_now, m_lastOut + m_desc.timing.nReportIntervalUs));
        RunWorkBefore(std::min(slot, m_unplugAt));
        if (m_unplugAt <= slot) {
            PowerCut(m_unplugAt);
            result = -1;
        } else {
            m_lastOut = slot;
            m_now = slot;
            ++m_stats.nReportsOut;
            CountReport(slot);
            HandleOut(pReport, slot);
        }
        if (!m_bPlugged && !m_bUnplugNotified) {
            m_bUnplugNotified = true;
            notify = m_onUnplug;
        }
    }
    if (notify)
        notify();
    PaceRealTime();
    return result;
}

int64_t CEmulatedDevice::PendingUntilUs(uint64_t nLink)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bPlugged)
        return -1;
    // In the middle of a transfer the host is still sending: its next report, not the device's work,
    // moves the clock (the device erases and programs while the data arrives).
    int64_t t = m_xfer.bActive ? kNever : NextWorkStart();
    if (const auto it = m_links.find(nLink); it != m_links.end() && !it->second.empty())
        t = std::min(t, it->second.front().nDeliver);
    return t == kNever ? -1 : t;
}

int CEmulatedDevice::Read(uint64_t nLink, uint8_t* pReport, uint32_t nTimeoutMs)
{
    std::function<void()> notify;
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bPlugged || !m_links.count(nLink))
            return -1;
        CatchUpRealTime();
        const int64_t deadline = m_now + static_cast<int64_t>(nTimeoutMs) * 1000;
        for (;;) {
            std::deque<InReport>& queue = m_links[nLink];
            const int64_t tDeliver = queue.empty() ? kNever : queue.front().nDeliver;
            const int64_t tWork = NextWorkStart();
            const int64_t tCut = m_unplugAt;
            if (tDeliver <= deadline && tDeliver <= tCut && tDeliver <= tWork) {
                std::memcpy(pReport, queue.front().data, kReportSize);
                queue.pop_front();
                m_now = std::max(m_now, tDeliver);
                result = 1;
                break;
            }
            if (tWork < tCut && tWork <= deadline) {
                ExecuteFront();
                continue;
            }
            if (tCut <= deadline) {
                PowerCut(tCut);
                result = -1;
                break;
            }
            m_now = std::max(m_now, deadline);
            result = 0;
            break;
        }
        if (!m_bPlugged && !m_bUnplugNotified) {
            m_bUnplugNotified = true;
            notify = m_onUnplug;
        }
    }
    if (notify)
        notify();
    PaceRealTime();
    return result;
}

int64_t CEmulatedDevice::Grid(int64_t t) const
{
    const int64_t interval = m_desc.timing.nReportIntervalUs;
    if (t <= 0)
        return 0;
    return (t + interval - 1) / interval * interval;
}

int64_t CEmulatedDevice::NextWorkStart()
{
    if (m_work.empty())
        return kNever;
    const Work& w = m_work.front();
    int64_t s = std::max(w.nReady, m_engineTime);
    if (w.bNeedsChip)
        s = std::max(s, m_flash.BusyUntil());
    return s;
}

void CEmulatedDevice::RunWorkBefore(int64_t t)
{
    // A power cut that the work itself brings on stops it there.
    while (NextWorkStart() < std::min(t, m_unplugAt))
        ExecuteFront();
}

void CEmulatedDevice::ExecuteFront()
{
    const int64_t s = NextWorkStart();
    const Work w = m_work.front();
    m_work.pop_front();
    m_engineTime = s;
    m_flash.Settle(s);
    switch (w.kind) {
    case WorkKind::Respond: {
        uint8_t report[kReportSize];
        ResponseHeader resp = w.resp;
        resp.nMode = m_mode;
        EncodeResponse(report, resp, w.inlineData, w.nInline);
        EnqueueIn(report, s);
        break;
    }
    case WorkKind::Erase:
        DoErase(w, s);
        break;
    case WorkKind::Program:
        DoProgram(w, s);
        break;
    case WorkKind::ModifySector:
        DoModifySector(w, s);
        break;
    case WorkKind::FinishWrite:
        DoFinishWrite(w, s);
        break;
    case WorkKind::ReadFlash:
        DoReadFlash(w, s);
        break;
    case WorkKind::CrcFlash:
        DoCrcFlash(w, s);
        break;
    case WorkKind::Switch:
        DoSwitch(w, s);
        break;
    case WorkKind::FlashId:
        DoFlashId(w, s);
        break;
    case WorkKind::FlashConfig:
        DoFlashConfig(w, s);
        break;
    }
}

void CEmulatedDevice::CatchUpRealTime()
{
    if (!m_desc.timing.bRealTime)
        return;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_realStart);
    m_now = std::max(m_now, static_cast<int64_t>(static_cast<double>(elapsed.count()) * m_desc.timing.dSpeed));
}

void CEmulatedDevice::PaceRealTime()
{
    if (!m_desc.timing.bRealTime)
        return;
    int64_t now = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        now = m_now;
    }
    const auto target =
        m_realStart + std::chrono::microseconds(static_cast<int64_t>(static_cast<double>(now) / m_desc.timing.dSpeed));
    // A wake-up per 64-byte report would cost the host more CPU than the exchange itself, so the clock
    // may run up to kPaceSlack ahead of real time before the caller is made to wait it out.
    if (target - std::chrono::steady_clock::now() > kPaceSlack)
        std::this_thread::sleep_until(target);
}

void CEmulatedDevice::CountReport(int64_t t)
{
    if (m_faults.CountReport())
        m_unplugAt = std::min(m_unplugAt, t);
}

void CEmulatedDevice::PowerCut(int64_t t)
{
    m_flash.PowerCut(t);
    m_bPlugged = false;
    m_work.clear();
    m_xfer = Transfer{};
    for (auto& [id, queue] : m_links)
        while (!queue.empty() && queue.back().nDeliver > t)
            queue.pop_back();
    m_now = std::max(m_now, t);
    Persist();
}

void CEmulatedDevice::EnqueueIn(const uint8_t* pReport, int64_t nReady)
{
    if (pReport[0] != kReportIdCommand) {
        Deliver(pReport, nReady);
        return;
    }
    const CDeviceFaults::ResponseFaults faults = m_faults.NextResponse();
    if (faults.bDrop)
        return;
    if (faults.bStale && m_bHaveLastResponse)
        Deliver(m_lastResponse, nReady);
    std::memcpy(m_lastResponse, pReport, kReportSize);
    m_bHaveLastResponse = true;
    uint8_t report[kReportSize];
    std::memcpy(report, pReport, kReportSize);
    if (faults.nFlipBit >= 0)
        report[faults.nFlipBit / 8 % kReportSize] ^= static_cast<uint8_t>(1u << (faults.nFlipBit % 8));
    Deliver(report, nReady);
    if (faults.bDuplicate)
        Deliver(report, nReady);
}

void CEmulatedDevice::Deliver(const uint8_t* pReport, int64_t nReady)
{
    const int64_t deliver = Grid(std::max(nReady, m_lastIn + m_desc.timing.nReportIntervalUs));
    m_lastIn = deliver;
    ++m_stats.nReportsIn;
    CountReport(deliver);
    if (deliver > m_unplugAt)
        return;
    InReport in;
    std::memcpy(in.data, pReport, kReportSize);
    in.nDeliver = deliver;
    for (auto& [id, queue] : m_links) {
        queue.push_back(in);
        // A handle that never reads loses its oldest reports, as a full kernel buffer does.
        if (queue.size() > kMaxQueuedReports)
            queue.pop_front();
    }
    if (pReport[0] == kReportIdCommand)
        Persist();
}
