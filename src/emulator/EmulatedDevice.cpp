#include "emulator/EmulatedDevice.h"

#include "emulator/DfuPatch.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

using namespace zelproto;

namespace {

constexpr int64_t kNever = INT64_MAX;
// More than the longest transfer (1 + 1,057 reports), so that a reading host never loses any.
constexpr size_t kMaxQueuedReports = 4096;

FlashChipModel TimedChip(const DeviceDescription& desc)
{
    FlashChipModel chip = *desc.pChip;
    if (desc.timing.nPageProgramUs >= 0)
        chip.nPageProgramUs = static_cast<uint32_t>(desc.timing.nPageProgramUs);
    if (desc.timing.nSectorEraseUs >= 0)
        chip.nSectorEraseUs = static_cast<uint32_t>(desc.timing.nSectorEraseUs);
    return chip;
}

bool AllErased(const uint8_t* p, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        if (p[i] != 0xFF)
            return false;
    return true;
}

// A stand-in firmware: a short text header, then bytes that are neither blank nor a pattern.
void MakeFirmware(const DeviceDescription& desc, std::vector<uint8_t>& flash, bool bFlagSet)
{
    const uint32_t size = std::min<uint32_t>(64 * 1024, static_cast<uint32_t>(flash.size()));
    const std::string tag = "ZELFW " + desc.strProduct + " " + desc.strSerialNumber;
    uint32_t state = Crc32(reinterpret_cast<const uint8_t*>(tag.data()), tag.size());
    for (uint32_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        flash[i] = static_cast<uint8_t>(state >> 16);
    }
    std::memcpy(flash.data(), tag.data(), std::min<size_t>(tag.size(), size));
    flash[desc.nFlagOffset] = bFlagSet ? 0xAA : 0xFF;
    flash[desc.nFlagOffset + 1] = bFlagSet ? 0xAA : 0xFF;
}

}  // namespace

CEmulatedDevice::CEmulatedDevice(const DeviceDescription& desc, std::string strFlashPath)
    : m_desc(desc), m_strFlashPath(std::move(strFlashPath)), m_flash(TimedChip(desc)),
      m_realStart(std::chrono::steady_clock::now())
{
    std::vector<uint8_t>& flash = m_flash.MutableContents();
    bool bLoaded = false;
    if (!m_strFlashPath.empty()) {
        std::ifstream in(m_strFlashPath, std::ios::binary);
        if (in) {
            in.read(reinterpret_cast<char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
            bLoaded = true;
        }
    }
    if (!bLoaded) {
        std::ifstream image;
        if (!m_desc.strInitialImage.empty())
            image.open(m_desc.strInitialImage, std::ios::binary);
        if (image.is_open())
            image.read(reinterpret_cast<char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
        else if (m_desc.initialFlash != InitialFlash::Erased)
            MakeFirmware(m_desc, flash, m_desc.initialFlash == InitialFlash::Firmware);
        if (!m_strFlashPath.empty()) {
            std::ofstream out(m_strFlashPath, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
        }
    }
    m_flash.TakeDirtySectors();
    m_nRefuseDfu = m_desc.faults.nRefuseDfu;
    m_nRefuseNormal = m_desc.faults.nRefuseNormal;
    m_nFlashIdFails = m_desc.faults.nFlashIdFails;
    Boot(0);
}

CEmulatedDevice::~CEmulatedDevice()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_flash.Settle(m_now);
    Persist();
}

// ---- Links and the timeline -------------------------------------------------------------------

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

bool CEmulatedDevice::IsPlugged()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bPlugged;
}

void CEmulatedDevice::SetUnplugHandler(std::function<void()> fn)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onUnplug = std::move(fn);
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

void CEmulatedDevice::Unplug()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bPlugged)
        return;
    const int64_t t = std::min(m_now, m_unplugAt);
    RunWorkBefore(t);
    m_bUnplugNotified = true;   // the file is already gone: nobody needs telling
    PowerCut(t);
}

bool CEmulatedDevice::Replug(const FaultPlan& faults)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bPlugged)
        return false;
    m_desc.faults = faults;
    m_links.clear();
    m_work.clear();
    m_xfer = Transfer{};
    m_engineTime = m_now;
    m_unplugAt = kNever;
    m_bUnplugNotified = false;
    m_bPlugged = true;
    m_nReports = m_nWrites = m_nReads = m_nErases = m_nPrograms = 0;
    m_nDfuEntries = m_nPatches = m_nLeaves = m_nFlashIds = m_nWriteSteps = m_nReadSteps = 0;
    m_nFlashOps = m_nResponses = 0;
    m_bHaveLastResponse = false;
    m_nLastStatus = ST_OK;
    m_nRefuseDfu = faults.nRefuseDfu;
    m_nRefuseNormal = faults.nRefuseNormal;
    m_nFlashIdFails = faults.nFlashIdFails;
    Boot(m_now);
    return true;
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
    const Work w = std::move(m_work.front());
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
    case WorkKind::Erase: DoErase(w, s); break;
    case WorkKind::Program: DoProgram(w, s); break;
    case WorkKind::ModifySector: DoModifySector(w, s); break;
    case WorkKind::FinishWrite: DoFinishWrite(w, s); break;
    case WorkKind::ReadFlash: DoReadFlash(w, s); break;
    case WorkKind::Switch: DoSwitch(w, s); break;
    case WorkKind::FlashId: DoFlashId(w, s); break;
    case WorkKind::FlashConfig: DoFlashConfig(w, s); break;
    }
}

void CEmulatedDevice::CatchUpRealTime()
{
    if (!m_desc.timing.bRealTime)
        return;
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_realStart);
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
    const auto target = m_realStart + std::chrono::microseconds(static_cast<int64_t>(static_cast<double>(now) / m_desc.timing.dSpeed));
    std::this_thread::sleep_until(target);
}

void CEmulatedDevice::CountReport(int64_t t)
{
    ++m_nReports;
    if (m_desc.faults.nUnplugAfterReports && m_nReports == m_desc.faults.nUnplugAfterReports)
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
    const FaultPlan& faults = m_desc.faults;
    const uint32_t n = static_cast<uint32_t>(++m_nResponses);
    if (faults.dropResponses.count(n))
        return;
    if (faults.staleResponses.count(n) && m_bHaveLastResponse)
        Deliver(m_lastResponse, nReady);
    std::memcpy(m_lastResponse, pReport, kReportSize);
    m_bHaveLastResponse = true;
    uint8_t report[kReportSize];
    std::memcpy(report, pReport, kReportSize);
    if (const auto flip = faults.flipResponses.find(n); flip != faults.flipResponses.end())
        report[flip->second / 8 % kReportSize] ^= static_cast<uint8_t>(1u << (flip->second % 8));
    Deliver(report, nReady);
    if (faults.duplicateResponses.count(n))
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

// ---- Protocol -------------------------------------------------------------------------------------

ResponseHeader CEmulatedDevice::ResponseFor(uint8_t nSeq, uint8_t nCommand, uint8_t status) const
{
    ResponseHeader r;
    r.nSeq = nSeq;
    r.nCommand = nCommand;
    r.nStatus = status;
    r.nMode = m_mode;
    return r;
}

Identity CEmulatedDevice::CurrentIdentity() const
{
    Identity id;
    id.nVendorId = m_desc.nVendorId;
    id.nProductId = m_desc.nProductId;
    id.nVersion = m_mode == MODE_RECOVERY ? 0 : m_nFirmwareVersion;
    id.nSubVersion = m_desc.nSubVersion;
    id.nChipsetType = m_desc.nChipsetType;
    id.nDefaultSerialAddr = m_desc.nDefaultSerialAddr;
    id.nCapabilities = (m_desc.bHidDfu ? kCapHidDfu : 0) | (m_desc.bBootLoader ? kCapBootLoader : 0);
    id.nMode = m_mode;
    return id;
}

void CEmulatedDevice::Respond(const CommandHeader& h, uint8_t status, int64_t t, uint32_t v0, uint32_t v1, uint32_t v2,
                              const uint8_t* pInline, size_t nInline)
{
    Work w;
    w.kind = WorkKind::Respond;
    w.nReady = t;
    w.resp = ResponseFor(h.nSeq, h.nCommand, status);
    w.resp.val0 = v0;
    w.resp.val1 = v1;
    w.resp.val2 = v2;
    w.nInline = std::min(nInline, kInlineSize);
    if (pInline && w.nInline)
        std::memcpy(w.inlineData, pInline, w.nInline);
    m_nLastStatus = status;
    Push(std::move(w));
}

bool CEmulatedDevice::TakeRefusal(int& nCounter)
{
    if (nCounter < 0)
        return true;
    if (nCounter == 0)
        return false;
    --nCounter;
    return true;
}

bool CEmulatedDevice::StepReached(const char* pszStep, uint64_t& nCounter)
{
    if (m_desc.faults.strUnplugStep != pszStep)
        return false;
    return ++nCounter == m_desc.faults.nUnplugStepCount;
}

void CEmulatedDevice::HandleOut(const uint8_t* pReport, int64_t t)
{
    if (pReport[0] == kReportIdData) {
        // Bulk data belongs to the running transfer; anything else is a leftover and is dropped.
        if (m_xfer.bActive && m_xfer.nSeq == DataSeq(pReport)) {
            const uint32_t n = std::min<uint32_t>(kDataPayload, m_xfer.nLength - m_xfer.nReceived);
            AppendTransferData(DataPayload(pReport), n, t);
        }
        return;
    }
    CommandHeader h;
    if (!DecodeCommand(pReport, h))
        return;
    ++m_stats.nCommands;
    AbortTransaction(t);
    if (h.nVersion != kProtocolVersion) {
        Respond(h, ST_VERSION_UNSUPPORTED, t);
        return;
    }
    HandleCommand(h, InlinePayload(pReport), t);
}

void CEmulatedDevice::AbortTransaction(int64_t t)
{
    // A new command ends whatever the last one left running; the chip finishes its current step.
    m_work.clear();
    m_xfer.bActive = false;
    m_xfer.kind = TransferKind::None;
    for (auto& [id, queue] : m_links)
        while (!queue.empty() && queue.back().nDeliver > t)
            queue.pop_back();
    m_lastIn = std::min(m_lastIn, t);
}

CEmulatedDevice::Work CEmulatedDevice::ChipWork(WorkKind kind, const CommandHeader& h, int64_t t) const
{
    Work w;
    w.kind = kind;
    w.nReady = t;
    w.bNeedsChip = true;
    w.resp = ResponseFor(h.nSeq, h.nCommand, ST_OK);
    return w;
}

void CEmulatedDevice::HandleCommand(const CommandHeader& h, const uint8_t* pInline, int64_t t)
{
    const uint32_t switchUs = m_desc.timing.nModeSwitchUs;
    switch (h.nCommand) {
    case CMD_IDENTIFY: {
        uint8_t payload[kIdentitySize];
        EncodeIdentity(payload, CurrentIdentity());
        Respond(h, ST_OK, t, 0, 0, 0, payload, sizeof payload);
        return;
    }
    case CMD_STATUS:
        Respond(h, ST_OK, t, m_setup.bValid ? 1 : 0, m_nLastStatus);
        return;
    case CMD_ENTER_DFU: {
        if (IsDfuMode(m_mode))
            return Respond(h, ST_OK, t);
        if (!m_desc.bHidDfu || !m_desc.bBootLoader)
            return Respond(h, ST_NOT_SUPPORTED, t);
        if (TakeRefusal(m_nRefuseDfu))
            return Respond(h, ST_REFUSED, t);
        if (StepReached("enterDfu", m_nDfuEntries))
            m_unplugAt = std::min<int64_t>(m_unplugAt, t + switchUs / 2);
        Work w = ChipWork(WorkKind::Switch, h, t);
        w.nTarget = MODE_DFU_BOOTLOADER;
        Push(std::move(w));
        return;
    }
    case CMD_LOAD_PATCH: {
        if (!m_desc.bHidDfu)
            return Respond(h, ST_NOT_SUPPORTED, t);
        if (h.arg1 == 0 || h.arg1 > kMaxPatchTransfer)
            return Respond(h, ST_BAD_PARAMETER, t);
        m_xfer = Transfer{};
        m_xfer.kind = TransferKind::Patch;
        m_xfer.bActive = true;
        m_xfer.nSeq = h.nSeq;
        m_xfer.nCommand = h.nCommand;
        m_xfer.nLength = h.arg1;
        m_xfer.nCrc = h.arg2;
        m_xfer.data.assign(h.arg1, 0);
        AppendTransferData(pInline, std::min<uint32_t>(h.arg1, kInlineSize), t);
        return;
    }
    case CMD_LEAVE_DFU: {
        if (TakeRefusal(m_nRefuseNormal))
            return Respond(h, ST_REFUSED, t);
        if (StepReached("leaveDfu", m_nLeaves))
            m_unplugAt = std::min<int64_t>(m_unplugAt, t + switchUs / 2);
        Work w = ChipWork(WorkKind::Switch, h, t);
        w.nTarget = MODE_NORMAL;
        Push(std::move(w));
        return;
    }
    case CMD_FLASH_ID: {
        if (!IsDfuMode(m_mode))
            return Respond(h, ST_WRONG_MODE, t);
        if (StepReached("flashId", m_nFlashIds))
            m_unplugAt = std::min(m_unplugAt, t);
        Push(ChipWork(WorkKind::FlashId, h, t));
        return;
    }
    case CMD_FLASH_CONFIG: {
        if (!IsDfuMode(m_mode))
            return Respond(h, ST_WRONG_MODE, t);
        const FlashConfig cfg = DecodeFlashConfig(pInline);
        const uint32_t sector = cfg.nSectorSize;
        const bool bSectorOk = sector >= kFlashPageSize && sector <= 65536 && (sector & (sector - 1)) == 0;
        if (cfg.nCapacityKb == 0 || cfg.nCapacityKb > 256 * 1024 || !bSectorOk || cfg.nCapacityKb * 1024 < sector ||
            (cfg.nAddressBytes != 3 && cfg.nAddressBytes != 4) || !cfg.opcodes[OP_WREN] || !cfg.opcodes[OP_RDSR] ||
            !cfg.opcodes[OP_READ] || !cfg.opcodes[OP_PP] || !cfg.opcodes[OP_SE] || !cfg.opcodes[OP_RDID])
            return Respond(h, ST_BAD_PARAMETER, t);
        Work w = ChipWork(WorkKind::FlashConfig, h, t);
        std::memcpy(w.inlineData, pInline, kFlashConfigSize);
        Push(std::move(w));
        return;
    }
    case CMD_FLASH_WRITE: {
        if (!IsDfuMode(m_mode))
            return Respond(h, ST_WRONG_MODE, t);
        if (!m_setup.bValid)
            return Respond(h, ST_FLASH_ID_FAILED, t);
        const uint32_t offset = h.arg0, length = h.arg1, sector = m_setup.nSectorSize;
        if (length == 0 || length > kMaxWriteTransfer || offset / sector != (offset + length - 1) / sector)
            return Respond(h, ST_BAD_PARAMETER, t);
        if (offset >= m_setup.nCapacity || length > m_setup.nCapacity - offset)
            return Respond(h, ST_OUT_OF_RANGE, t);
        const uint32_t n = static_cast<uint32_t>(++m_nWrites);
        ++m_stats.nWrites;
        m_xfer = Transfer{};
        m_xfer.kind = TransferKind::Write;
        m_xfer.bActive = true;
        m_xfer.nSeq = h.nSeq;
        m_xfer.nCommand = h.nCommand;
        m_xfer.nOffset = offset;
        m_xfer.nLength = length;
        m_xfer.nCrc = h.arg2;
        m_xfer.nFlags = h.arg3;
        m_xfer.data.assign(length, 0);
        m_xfer.bFail = m_desc.faults.failWrites.count(n) > 0;
        m_xfer.bTimeout = m_desc.faults.timeoutWrites.count(n) > 0;
        m_xfer.bCorrupt = m_desc.faults.corruptWrites.count(n) > 0;
        m_xfer.bUnplugHalfway = StepReached("write", m_nWriteSteps);
        m_xfer.bWholeSector = !(h.arg3 & kWriteProgramOnly) && offset % sector == 0 && length == sector;
        if (m_xfer.bWholeSector && !m_xfer.bFail && !m_xfer.bTimeout) {
            // The sector is replaced whole: start erasing while its data is still on the way.
            Work w;
            w.kind = WorkKind::Erase;
            w.nReady = t;
            w.bNeedsChip = true;
            w.nAddress = offset;
            Push(std::move(w));
        }
        AppendTransferData(pInline, std::min<uint32_t>(length, kInlineSize), t);
        return;
    }
    case CMD_FLASH_READ: {
        if (!IsDfuMode(m_mode))
            return Respond(h, ST_WRONG_MODE, t);
        if (!m_setup.bValid)
            return Respond(h, ST_FLASH_ID_FAILED, t);
        const uint32_t offset = h.arg0;
        const uint32_t count =
            offset >= m_setup.nCapacity ? 0 : std::min({h.arg1, kMaxReadTransfer, m_setup.nCapacity - offset});
        const uint32_t n = static_cast<uint32_t>(++m_nReads);
        ++m_stats.nReads;
        Work w;
        w.kind = WorkKind::ReadFlash;
        w.nReady = t;
        w.bNeedsChip = true;
        w.nAddress = offset;
        w.nLength = count;
        w.resp = ResponseFor(h.nSeq, h.nCommand, ST_OK);
        // Fault flags ride in the spare source field: 1 fail, 2 corrupt, 4 time out, 8 unplug.
        w.nSource = (m_desc.faults.failReads.count(n) ? 1u : 0u) | (m_desc.faults.corruptReads.count(n) ? 2u : 0u) |
                    (m_desc.faults.timeoutReads.count(n) ? 4u : 0u) | (StepReached("read", m_nReadSteps) ? 8u : 0u);
        Push(std::move(w));
        return;
    }
    default:
        Respond(h, ST_UNKNOWN_COMMAND, t);
        return;
    }
}

void CEmulatedDevice::AppendTransferData(const uint8_t* p, uint32_t n, int64_t t)
{
    Transfer& x = m_xfer;
    if (n == 0 && x.nLength != 0)
        return;
    std::memcpy(x.data.data() + x.nReceived, p, n);
    const uint32_t half = x.nLength / 2;
    if (x.bCorrupt && x.nReceived <= half && half < x.nReceived + n)
        x.data[half] ^= 0x10;   // a bit flipped on the wire
    const bool bCrossedHalf = x.nReceived <= half && half < x.nReceived + n;
    x.nReceived += n;
    if (x.kind == TransferKind::Write && x.bWholeSector && !x.bFail && !x.bTimeout) {
        while ((x.nPagesQueued + 1) * kFlashPageSize <= x.nReceived) {
            const uint32_t source = x.nPagesQueued++ * kFlashPageSize;
            if (AllErased(x.data.data() + source, kFlashPageSize))
                continue;
            Work w;
            w.kind = WorkKind::Program;
            w.nReady = t;
            w.bNeedsChip = true;
            w.nAddress = x.nOffset + source;
            w.nLength = kFlashPageSize;
            w.nSource = source;
            w.bFromTransfer = true;
            Push(std::move(w));
        }
    }
    if (x.bUnplugHalfway && bCrossedHalf)
        m_unplugAt = std::min(m_unplugAt, t);
    if (x.nReceived == x.nLength) {
        x.bActive = false;
        CompleteTransfer(t);
    }
}

void CEmulatedDevice::CompleteTransfer(int64_t t)
{
    Transfer& x = m_xfer;
    CommandHeader h;
    h.nSeq = x.nSeq;
    h.nCommand = x.nCommand;
    const bool bCrcOk = Crc32(x.data.data(), x.data.size()) == x.nCrc;
    if (x.kind == TransferKind::Patch) {
        if (!bCrcOk)
            return Respond(h, ST_CRC_MISMATCH, t);
        switch (CheckDfuPatch(x.data.data(), x.nLength, m_desc.nControllerIndex, m_desc.strControllerName)) {
        case DfuPatchCheck::Damaged: return Respond(h, ST_PATCH_DAMAGED, t);
        case DfuPatchCheck::OtherController: return Respond(h, ST_PATCH_REJECTED, t);
        case DfuPatchCheck::Accepted: break;
        }
        if (IsDfuMode(m_mode))
            return Respond(h, ST_OK, t);
        if (TakeRefusal(m_nRefuseDfu))
            return Respond(h, ST_REFUSED, t);
        const int64_t ready = t + m_desc.timing.nPatchCheckUs;
        if (StepReached("patch", m_nPatches))
            m_unplugAt = std::min<int64_t>(m_unplugAt, ready + m_desc.timing.nModeSwitchUs / 2);
        Work w;
        w.kind = WorkKind::Switch;
        w.nReady = ready;
        w.bNeedsChip = true;
        w.nTarget = MODE_DFU_PATCH;
        w.resp = ResponseFor(h.nSeq, h.nCommand, ST_OK);
        Push(std::move(w));
        return;
    }
    if (x.bTimeout)
        return;   // the device never answers this one
    if (x.bFail)
        return Respond(h, ST_FLASH_ERROR, t);
    if (!bCrcOk) {
        // Pages not yet started are dropped; the erase or program under way completes.
        m_work.clear();
        return Respond(h, ST_CRC_MISMATCH, t);
    }
    Work w;
    w.kind = x.bWholeSector ? WorkKind::FinishWrite : WorkKind::ModifySector;
    w.nReady = t;
    w.bNeedsChip = true;
    w.resp = ResponseFor(h.nSeq, h.nCommand, ST_OK);
    Push(std::move(w));
}

// ---- Device work ----------------------------------------------------------------------------------

int64_t CEmulatedDevice::SpiReadUs(uint32_t nBytes) const
{
    return 5 + static_cast<int64_t>(nBytes) * 1000 / m_desc.timing.nSpiBytesPerMs;
}

uint8_t CEmulatedDevice::Opcode(int index, uint8_t fallback) const
{
    return m_setup.opcodes[index] ? m_setup.opcodes[index] : fallback;
}

// Counts the flash operation about to start. True when the power goes before the chip takes it;
// otherwise a cut during or after it is armed once it has started (CutFlashOp).
bool CEmulatedDevice::FlashOpCut(int64_t s)
{
    m_bCutThisOp = ++m_nFlashOps == m_desc.faults.nUnplugAtFlashOp;
    if (!m_bCutThisOp || m_desc.faults.unplugFlashOpPhase != FlashCutPhase::Before)
        return false;
    m_unplugAt = std::min(m_unplugAt, s);
    return true;
}

void CEmulatedDevice::CutFlashOp(int64_t s)
{
    if (!m_bCutThisOp)
        return;
    const int64_t end = m_flash.BusyUntil();
    const int64_t cut = m_desc.faults.unplugFlashOpPhase == FlashCutPhase::After ? end : s + (end - s) / 2;
    m_unplugAt = std::min(m_unplugAt, cut);
}

void CEmulatedDevice::DoErase(const Work& w, int64_t s)
{
    if (FlashOpCut(s))
        return;
    const bool ok = m_flash.WriteEnable(Opcode(OP_WREN, 0x06), s) && m_flash.Erase(Opcode(OP_SE, 0x20), w.nAddress, s);
    if (!ok) {
        m_xfer.bFlashError = true;
        return;
    }
    ++m_nErases;
    ++m_stats.nErases;
    if (m_desc.faults.strUnplugStep == "erase" && m_nErases == m_desc.faults.nUnplugStepCount)
        m_unplugAt = std::min(m_unplugAt, s + (m_flash.BusyUntil() - s) / 2);
    CutFlashOp(s);
}

void CEmulatedDevice::DoProgram(const Work& w, int64_t s)
{
    if (FlashOpCut(s))
        return;
    const uint8_t* src = (w.bFromTransfer ? m_xfer.data.data() : m_sectorImage.data()) + w.nSource;
    const bool ok = m_flash.WriteEnable(Opcode(OP_WREN, 0x06), s) &&
                    m_flash.Program(Opcode(OP_PP, 0x02), w.nAddress, src, w.nLength, s);
    if (!ok) {
        m_xfer.bFlashError = true;
        return;
    }
    ++m_nPrograms;
    ++m_stats.nPrograms;
    if (m_desc.faults.strUnplugStep == "program" && m_nPrograms == m_desc.faults.nUnplugStepCount)
        m_unplugAt = std::min(m_unplugAt, s + (m_flash.BusyUntil() - s) / 2);
    CutFlashOp(s);
}

void CEmulatedDevice::DoModifySector(const Work& w, int64_t s)
{
    const uint32_t sector = m_setup.nSectorSize;
    const uint32_t base = m_xfer.nOffset - m_xfer.nOffset % sector;
    const uint32_t rel = m_xfer.nOffset - base;
    const uint32_t length = m_xfer.nLength;
    m_scratch.resize(sector);
    if (!m_flash.Read(Opcode(OP_READ, 0x03), base, m_scratch.data(), sector, s)) {
        uint8_t report[kReportSize];
        EncodeResponse(report, ResponseFor(w.resp.nSeq, w.resp.nCommand, ST_FLASH_ERROR), nullptr, 0);
        EnqueueIn(report, s);
        return;
    }
    const int64_t t = s + SpiReadUs(sector);
    const uint8_t* current = m_scratch.data() + rel;
    const uint8_t* wanted = m_xfer.data.data();
    bool bSame = true, bProgramOnly = true;
    for (uint32_t i = 0; i < length; ++i) {
        bSame = bSame && current[i] == wanted[i];
        bProgramOnly = bProgramOnly && (current[i] & wanted[i]) == wanted[i];
    }
    Work finish = w;
    finish.kind = WorkKind::FinishWrite;
    finish.nReady = t;
    if (m_xfer.nFlags & kWriteProgramOnly) {
        if (!bProgramOnly) {
            // Programming cannot set bits back to one: refuse instead of leaving wrong bytes.
            uint8_t report[kReportSize];
            EncodeResponse(report, ResponseFor(w.resp.nSeq, w.resp.nCommand, ST_NOT_ERASED), nullptr, 0);
            EnqueueIn(report, t);
            return;
        }
    } else if (bSame) {
        Push(finish);
        return;
    }
    Work program;
    program.kind = WorkKind::Program;
    program.nReady = t;
    program.bNeedsChip = true;
    program.nLength = kFlashPageSize;
    if (bProgramOnly) {
        // Only bits to clear: program the range's pages, ones everywhere else.
        m_sectorImage.assign(sector, 0xFF);
        std::memcpy(m_sectorImage.data() + rel, wanted, length);
        for (uint32_t page = rel / kFlashPageSize; page <= (rel + length - 1) / kFlashPageSize; ++page) {
            program.nAddress = base + page * kFlashPageSize;
            program.nSource = page * kFlashPageSize;
            Push(program);
        }
    } else {
        // Keep every byte outside the range: erase the sector and program it back merged.
        m_sectorImage.assign(m_scratch.begin(), m_scratch.end());
        std::memcpy(m_sectorImage.data() + rel, wanted, length);
        Work erase;
        erase.kind = WorkKind::Erase;
        erase.nReady = t;
        erase.bNeedsChip = true;
        erase.nAddress = base;
        Push(erase);
        for (uint32_t source = 0; source < sector; source += kFlashPageSize) {
            if (AllErased(m_sectorImage.data() + source, kFlashPageSize))
                continue;
            program.nAddress = base + source;
            program.nSource = source;
            Push(program);
        }
    }
    Push(finish);
}

void CEmulatedDevice::DoFinishWrite(const Work& w, int64_t s)
{
    ResponseHeader resp = ResponseFor(w.resp.nSeq, w.resp.nCommand, ST_OK);
    resp.val0 = m_xfer.nLength;
    int64_t ready = s;
    if (m_xfer.bFlashError) {
        resp.nStatus = ST_FLASH_ERROR;
    } else if (m_xfer.nFlags & kWriteVerify) {
        m_scratch.resize(m_xfer.nLength);
        const bool ok = m_flash.Read(Opcode(OP_READ, 0x03), m_xfer.nOffset, m_scratch.data(), m_xfer.nLength, s);
        ready = s + SpiReadUs(m_xfer.nLength);
        resp.val1 = Crc32(m_scratch.data(), m_scratch.size());
        if (!ok || std::memcmp(m_scratch.data(), m_xfer.data.data(), m_xfer.nLength) != 0)
            resp.nStatus = ST_VERIFY_FAILED;
    }
    m_nLastStatus = resp.nStatus;
    uint8_t report[kReportSize];
    EncodeResponse(report, resp, nullptr, 0);
    EnqueueIn(report, ready);
}

void CEmulatedDevice::DoReadFlash(const Work& w, int64_t s)
{
    const bool bFail = w.nSource & 1, bCorrupt = w.nSource & 2, bTimeout = w.nSource & 4, bUnplug = w.nSource & 8;
    ResponseHeader resp = ResponseFor(w.resp.nSeq, w.resp.nCommand, ST_OK);
    uint8_t report[kReportSize];
    m_scratch.resize(w.nLength);
    if (bFail || (w.nLength && !m_flash.Read(Opcode(OP_READ, 0x03), w.nAddress, m_scratch.data(), w.nLength, s))) {
        resp.nStatus = ST_FLASH_ERROR;
        m_nLastStatus = resp.nStatus;
        EncodeResponse(report, resp, nullptr, 0);
        EnqueueIn(report, s);
        return;
    }
    const int64_t ready = s + SpiReadUs(w.nLength);
    resp.val0 = w.nLength;
    resp.val1 = Crc32(m_scratch.data(), w.nLength);
    if (bCorrupt && w.nLength)
        m_scratch[w.nLength / 2] ^= 0x01;   // a bit flipped on the wire
    const uint32_t reports = DataReportCount(w.nLength);
    if (bTimeout && reports == 0)
        return;
    m_nLastStatus = ST_OK;
    EncodeResponse(report, resp, m_scratch.data(), std::min<size_t>(w.nLength, kInlineSize));
    EnqueueIn(report, ready);
    const uint32_t sent = bTimeout ? reports / 2 : reports;
    for (uint32_t i = 0; i < sent; ++i) {
        const uint32_t offset = static_cast<uint32_t>(kInlineSize + i * kDataPayload);
        EncodeData(report, w.resp.nSeq, m_scratch.data() + offset, std::min<size_t>(kDataPayload, w.nLength - offset));
        EnqueueIn(report, ready);
        if (bUnplug && i == reports / 2)
            m_unplugAt = std::min(m_unplugAt, m_lastIn);
    }
}

void CEmulatedDevice::DoSwitch(const Work& w, int64_t s)
{
    if (w.nTarget == MODE_NORMAL) {
        Boot(s);
    } else {
        m_mode = w.nTarget;
        m_setup = FlashSetup{};
    }
    uint8_t report[kReportSize];
    EncodeResponse(report, ResponseFor(w.resp.nSeq, w.resp.nCommand, ST_OK), nullptr, 0);
    EnqueueIn(report, s + m_desc.timing.nModeSwitchUs);
}

void CEmulatedDevice::Boot(int64_t t)
{
    // The firmware runs only when the flag word says the last download completed.
    uint8_t flag[2] = {0, 0};
    m_flash.Settle(t);
    const bool ok = m_flash.Read(CSpiFlash::OPC_READ, m_desc.nFlagOffset, flag, 2, t);
    m_mode = ok && flag[0] == 0xAA && flag[1] == 0xAA ? MODE_NORMAL : MODE_RECOVERY;
    m_setup = FlashSetup{};
    m_nFirmwareVersion = FirmwareVersion();
}

uint32_t CEmulatedDevice::FirmwareVersion() const
{
    // The firmware tells its version by the identity record its image carries (docs/image-format.md):
    // the last intact one in the first 128 KB. A firmware without one reports the device file's version.
    static const char kMagic[] = "ZELIMGID";
    constexpr size_t kRecordSize = 36;
    const std::vector<uint8_t>& flash = m_flash.Contents();
    const size_t end = std::min<size_t>(flash.size(), 128 * 1024);
    for (size_t pos = end >= kRecordSize ? end - kRecordSize + 1 : 0; pos-- > 0;) {
        const uint8_t* r = flash.data() + pos;
        if (r[0] == 'Z' && std::memcmp(r, kMagic, 8) == 0 && GetLe16(r + 8) == 1 && GetLe16(r + 10) == kRecordSize &&
            GetLe32(r + 32) == Crc32(r, 32))
            return GetLe32(r + 16);
    }
    return m_desc.nVersion;
}

bool CEmulatedDevice::DefaultSetup(uint32_t nJedecId)
{
    const uint32_t code = nJedecId & 0xFF;
    if (code < 0x10 || code > 0x1A)
        return false;
    m_setup = FlashSetup{};
    m_setup.bValid = true;
    m_setup.nJedecId = nJedecId;
    m_setup.nCapacity = 1u << code;
    m_setup.nSectorSize = kFlashSectorSize;
    const uint8_t standard[OP_COUNT] = {0x06, 0x04, 0x05, 0x01, 0x03, 0x0B, 0x02, 0x20, 0x52,
                                        0xD8, 0xC7, 0x9F, 0xB9, 0xAB, 0x90, 0x00, 0x00, 0x00};
    std::memcpy(m_setup.opcodes, standard, sizeof standard);
    return true;
}

void CEmulatedDevice::DoFlashId(const Work& w, int64_t s)
{
    ResponseHeader resp = ResponseFor(w.resp.nSeq, w.resp.nCommand, ST_OK);
    uint32_t jedec = 0xFFFFFF;
    if (!TakeRefusal(m_nFlashIdFails))
        jedec = m_flash.ReadJedecId(Opcode(OP_RDID, 0x9F), s);
    resp.val0 = jedec;
    if (jedec == 0xFFFFFF || jedec == 0) {
        m_setup = FlashSetup{};
        resp.nStatus = ST_FLASH_ID_FAILED;
    } else if (!(m_setup.bValid && m_setup.nJedecId == jedec) && !DefaultSetup(jedec)) {
        resp.nStatus = ST_FLASH_ID_FAILED;
    }
    m_nLastStatus = resp.nStatus;
    uint8_t report[kReportSize];
    EncodeResponse(report, resp, nullptr, 0);
    EnqueueIn(report, s);
}

void CEmulatedDevice::DoFlashConfig(const Work& w, int64_t s)
{
    const FlashConfig cfg = DecodeFlashConfig(w.inlineData);
    ResponseHeader resp = ResponseFor(w.resp.nSeq, w.resp.nCommand, ST_OK);
    const uint32_t jedec = m_flash.ReadJedecId(cfg.opcodes[OP_RDID], s);
    resp.val0 = jedec;
    if (jedec != cfg.nJedecId) {
        resp.nStatus = ST_FLASH_MISMATCH;
    } else {
        m_setup = FlashSetup{};
        m_setup.bValid = true;
        m_setup.nJedecId = jedec;
        m_setup.nCapacity = cfg.nCapacityKb * 1024;
        m_setup.nSectorSize = cfg.nSectorSize;
        std::memcpy(m_setup.opcodes, cfg.opcodes, sizeof cfg.opcodes);
    }
    m_nLastStatus = resp.nStatus;
    uint8_t report[kReportSize];
    EncodeResponse(report, resp, nullptr, 0);
    EnqueueIn(report, s);
}

void CEmulatedDevice::Persist()
{
    if (m_strFlashPath.empty())
        return;
    const std::vector<uint32_t> sectors = m_flash.TakeDirtySectors();
    if (sectors.empty())
        return;
    const int fd = ::open(m_strFlashPath.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "quillon emulator: cannot write %s\n", m_strFlashPath.c_str());
        return;
    }
    const std::vector<uint8_t>& data = m_flash.Contents();
    for (uint32_t sector : sectors) {
        const size_t offset = static_cast<size_t>(sector) * kFlashSectorSize;
        if (offset >= data.size())
            continue;
        const size_t n = std::min<size_t>(kFlashSectorSize, data.size() - offset);
        if (::pwrite(fd, data.data() + offset, n, static_cast<off_t>(offset)) != static_cast<ssize_t>(n))
            std::fprintf(stderr, "quillon emulator: cannot write %s\n", m_strFlashPath.c_str());
    }
    ::close(fd);
}

// ---- Observation ----------------------------------------------------------------------------------

int64_t CEmulatedDevice::NowUs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_now;
}

uint8_t CEmulatedDevice::Mode()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mode;
}

std::vector<uint8_t> CEmulatedDevice::FlashContents()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_flash.Settle(m_now);
    return m_flash.Contents();
}

void CEmulatedDevice::SetFlashContents(uint32_t nOffset, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t>& data = m_flash.MutableContents();
    if (nOffset > data.size())
        return;
    std::copy_n(bytes.begin(), std::min(bytes.size(), data.size() - nOffset), data.begin() + nOffset);
}

CEmulatedDevice::Stats CEmulatedDevice::GetStats()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Stats s = m_stats;
    s.nFlashBusyUs = m_flash.BusyTimeUs();
    return s;
}
