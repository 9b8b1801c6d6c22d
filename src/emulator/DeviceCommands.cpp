// Command handling: decoding the host's reports, the checks every command makes, transfer assembly,
// and the answers.
#include "emulator/EmulatedDevice.h"

#include "emulator/DfuPatch.h"

#include <algorithm>
#include <cstring>

using namespace zelproto;

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
    id.nCapabilities = (m_desc.bHidDfu ? kCapHidDfu : 0) | (m_desc.bBootLoader ? kCapBootLoader : 0) |
                       (m_desc.bFlashCrc ? kCapFlashCrc : 0);
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
    Push(w);
}

void CEmulatedDevice::HandleOut(const uint8_t* pReport, int64_t t)
{
    uint8_t flipped[kReportSize];
    if (pReport[0] == kReportIdCommand) {
        if (const int bit = m_faults.NextCommandFlip(); bit >= 0) {
            std::memcpy(flipped, pReport, kReportSize);
            flipped[bit / 8 % kReportSize] ^= static_cast<uint8_t>(1u << (bit % 8));
            pReport = flipped;
        }
    }
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
        return;  // not a command, or one whose check fails: noise, never answered
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

// A mode switch the device answers once it is done; an unplug planned for this step comes halfway.
void CEmulatedDevice::SwitchMode(const CommandHeader& h, int64_t t, UnplugStep step, uint8_t nTarget)
{
    if (m_faults.StepReached(step))
        m_unplugAt = std::min<int64_t>(m_unplugAt, t + m_desc.timing.nModeSwitchUs / 2);
    Work w = ChipWork(WorkKind::Switch, h, t);
    w.nTarget = nTarget;
    Push(w);
}

void CEmulatedDevice::HandleCommand(const CommandHeader& h, const uint8_t* pInline, int64_t t)
{
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
        if (m_faults.RefuseDfu())
            return Respond(h, ST_REFUSED, t);
        return SwitchMode(h, t, UnplugStep::EnterDfu, MODE_DFU_BOOTLOADER);
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
        if (m_faults.RefuseNormal())
            return Respond(h, ST_REFUSED, t);
        return SwitchMode(h, t, UnplugStep::LeaveDfu, MODE_NORMAL);
    }
    case CMD_FLASH_ID: {
        if (!IsDfuMode(m_mode))
            return Respond(h, ST_WRONG_MODE, t);
        if (m_faults.StepReached(UnplugStep::FlashId))
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
        Push(w);
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
        m_xfer.faults = m_faults.NextWrite();
        m_xfer.bWholeSector = !(h.arg3 & kWriteProgramOnly) && offset % sector == 0 && length == sector;
        if (m_xfer.bWholeSector && !m_xfer.faults.bFail && !m_xfer.faults.bTimeout) {
            // The sector is replaced whole: start erasing while its data is still on the way.
            Work w;
            w.kind = WorkKind::Erase;
            w.nReady = t;
            w.bNeedsChip = true;
            w.nAddress = offset;
            Push(w);
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
        ++m_stats.nReads;
        Work w;
        w.kind = WorkKind::ReadFlash;
        w.nReady = t;
        w.bNeedsChip = true;
        w.nAddress = offset;
        w.nLength = count;
        w.resp = ResponseFor(h.nSeq, h.nCommand, ST_OK);
        w.faults = m_faults.NextRead();
        Push(w);
        return;
    }
    case CMD_FLASH_CRC: {
        if (!m_desc.bFlashCrc)
            return Respond(h, ST_UNKNOWN_COMMAND, t);
        if (!IsDfuMode(m_mode))
            return Respond(h, ST_WRONG_MODE, t);
        if (!m_setup.bValid)
            return Respond(h, ST_FLASH_ID_FAILED, t);
        const uint32_t offset = h.arg0, length = h.arg1, piece = h.arg3 ? h.arg3 : length;
        if (length == 0 || piece < std::min(length, kMinCrcPiece) ||
            (uint64_t{length} + piece - 1) / piece > kMaxCrcPieces)
            return Respond(h, ST_BAD_PARAMETER, t);
        if (offset >= m_setup.nCapacity || length > m_setup.nCapacity - offset)
            return Respond(h, ST_OUT_OF_RANGE, t);
        ++m_stats.nCrcQueries;
        if (m_faults.StepReached(UnplugStep::CrcQuery))
            m_unplugAt = std::min(m_unplugAt, t + SpiReadUs(length) / 2);
        Work w = ChipWork(WorkKind::CrcFlash, h, t);
        w.nAddress = offset;
        w.nLength = length;
        w.nSource = piece;
        Push(w);
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
    if (x.faults.bCorrupt && x.nReceived <= half && half < x.nReceived + n)
        x.data[half] ^= 0x10;  // a bit flipped on the wire
    const bool bCrossedHalf = x.nReceived <= half && half < x.nReceived + n;
    x.nReceived += n;
    if (x.kind == TransferKind::Write && x.bWholeSector && !x.faults.bFail && !x.faults.bTimeout) {
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
            Push(w);
        }
    }
    if (x.faults.bUnplugHalfway && bCrossedHalf)
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
        case DfuPatchCheck::Damaged:
            return Respond(h, ST_PATCH_DAMAGED, t);
        case DfuPatchCheck::OtherController:
            return Respond(h, ST_PATCH_REJECTED, t);
        case DfuPatchCheck::Accepted:
            break;
        }
        if (IsDfuMode(m_mode))
            return Respond(h, ST_OK, t);
        if (m_faults.RefuseDfu())
            return Respond(h, ST_REFUSED, t);
        const int64_t ready = t + m_desc.timing.nPatchCheckUs;
        if (m_faults.StepReached(UnplugStep::Patch))
            m_unplugAt = std::min<int64_t>(m_unplugAt, ready + m_desc.timing.nModeSwitchUs / 2);
        Work w;
        w.kind = WorkKind::Switch;
        w.nReady = ready;
        w.bNeedsChip = true;
        w.nTarget = MODE_DFU_PATCH;
        w.resp = ResponseFor(h.nSeq, h.nCommand, ST_OK);
        Push(w);
        return;
    }
    if (x.faults.bTimeout)
        return;  // the device never answers this one
    if (x.faults.bFail)
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
    Push(w);
}
