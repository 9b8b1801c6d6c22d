// Chip work: the device's flash engine (erase, program, read-modify-write, verify, reads), mode
// switches and the boot rule, flash identification and set-up, with the power cuts planned on them.
#include "emulator/EmulatedDevice.h"

#include <algorithm>
#include <cstring>

using namespace zelproto;

int64_t CEmulatedDevice::SpiReadUs(uint32_t nBytes) const
{
    return 5 + static_cast<int64_t>(nBytes) * 1000 / m_desc.timing.nSpiBytesPerMs;
}

uint8_t CEmulatedDevice::Opcode(int index, uint8_t fallback) const
{
    return m_setup.opcodes[index] ? m_setup.opcodes[index] : fallback;
}

bool CEmulatedDevice::FlashOpCut(int64_t s)
{
    m_bCutThisOp = m_faults.NextFlashOpCut();
    if (!m_bCutThisOp || m_faults.FlashOpCutPhase() != FlashCutPhase::Before)
        return false;
    m_unplugAt = std::min(m_unplugAt, s);
    return true;
}

void CEmulatedDevice::CutFlashOp(int64_t s)
{
    if (!m_bCutThisOp)
        return;
    const int64_t end = m_flash.BusyUntil();
    const int64_t cut = m_faults.FlashOpCutPhase() == FlashCutPhase::After ? end : s + (end - s) / 2;
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
    ++m_stats.nErases;
    if (m_faults.StepReached(UnplugStep::Erase))
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
    ++m_stats.nPrograms;
    if (m_faults.StepReached(UnplugStep::Program))
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
    const bool bFail = w.faults.bFail, bCorrupt = w.faults.bCorrupt, bTimeout = w.faults.bTimeout,
               bUnplug = w.faults.bUnplugHalfway;
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
        m_scratch[w.nLength / 2] ^= 0x01;  // a bit flipped on the wire
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

// The device reads the range and answers the CRC32 of each piece (an IN transfer, 4 bytes a piece).
void CEmulatedDevice::DoCrcFlash(const Work& w, int64_t s)
{
    ResponseHeader resp = ResponseFor(w.resp.nSeq, w.resp.nCommand, ST_OK);
    uint8_t report[kReportSize];
    m_scratch.resize(w.nLength);
    if (!m_flash.Read(Opcode(OP_READ, 0x03), w.nAddress, m_scratch.data(), w.nLength, s)) {
        resp.nStatus = m_nLastStatus = ST_FLASH_ERROR;
        EncodeResponse(report, resp, nullptr, 0);
        EnqueueIn(report, s);
        return;
    }
    std::vector<uint8_t> crcs;
    for (uint32_t at = 0; at < w.nLength; at += w.nSource) {
        uint8_t le[4];
        PutLe32(le, Crc32(m_scratch.data() + at, std::min(w.nSource, w.nLength - at)));
        crcs.insert(crcs.end(), le, le + 4);
    }
    const int64_t ready = s + SpiReadUs(w.nLength);
    const uint32_t count = static_cast<uint32_t>(crcs.size());
    resp.val0 = count;
    resp.val1 = Crc32(crcs.data(), count);
    m_nLastStatus = ST_OK;
    EncodeResponse(report, resp, crcs.data(), std::min<size_t>(count, kInlineSize));
    EnqueueIn(report, ready);
    for (uint32_t offset = static_cast<uint32_t>(kInlineSize); offset < count; offset += kDataPayload) {
        EncodeData(report, w.resp.nSeq, crcs.data() + offset, std::min<size_t>(kDataPayload, count - offset));
        EnqueueIn(report, ready);
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
    if (!m_faults.FailFlashId())
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
