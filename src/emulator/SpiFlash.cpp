#include "emulator/SpiFlash.h"

#include <algorithm>
#include <cstring>

CSpiFlash::CSpiFlash(const FlashChipModel& desc)
    : m_desc(desc), m_data(desc.nCapacity, 0xFF), m_dirty(desc.nCapacity / kFlashSectorSize + 1, false)
{}

bool CSpiFlash::IsBusy(int64_t now)
{
    Settle(now);
    return m_op.bActive;
}

bool CSpiFlash::WriteEnable(uint8_t opcode, int64_t now)
{
    if (IsBusy(now) || opcode != OPC_WREN)
        return false;
    m_bWel = true;
    return true;
}

bool CSpiFlash::WriteDisable(uint8_t opcode, int64_t now)
{
    if (IsBusy(now) || opcode != OPC_WRDI)
        return false;
    m_bWel = false;
    return true;
}

bool CSpiFlash::Erase(uint8_t opcode, uint32_t nAddress, int64_t now)
{
    if (IsBusy(now) || !m_bWel)
        return false;
    Op op;
    op.bErase = true;
    int64_t duration = 0;
    nAddress %= Capacity();
    switch (opcode) {
    case OPC_SE:
        op.nAddress = nAddress & ~(kFlashSectorSize - 1);
        op.nLength = kFlashSectorSize;
        duration = m_desc.nSectorEraseUs;
        break;
    case OPC_BE32:
        op.nAddress = nAddress & ~(32u * 1024 - 1);
        op.nLength = std::min(32u * 1024, Capacity());
        duration = m_desc.nBlock32EraseUs;
        break;
    case OPC_BE64:
        op.nAddress = nAddress & ~(64u * 1024 - 1);
        op.nLength = std::min(64u * 1024, Capacity());
        duration = m_desc.nBlock64EraseUs;
        break;
    case OPC_CE:
    case OPC_CE2:
        op.nAddress = 0;
        op.nLength = Capacity();
        duration = m_desc.nChipEraseUs;
        break;
    default:
        return false;
    }
    m_bWel = false;
    ++m_nErases;
    Start(op, duration, now);
    return true;
}

bool CSpiFlash::Program(uint8_t opcode, uint32_t nAddress, const uint8_t* pData, uint32_t nLength, int64_t now)
{
    if (IsBusy(now) || !m_bWel || opcode != OPC_PP || nLength == 0)
        return false;
    Op op;
    op.bErase = false;
    nAddress %= Capacity();
    op.nAddress = nAddress & ~(kFlashPageSize - 1);
    op.nLength = kFlashPageSize;
    // The page latch starts all ones; bytes past the page end wrap to its start, later bytes win.
    std::memset(op.page, 0xFF, sizeof op.page);
    const uint32_t column = nAddress & (kFlashPageSize - 1);
    for (uint32_t i = 0; i < nLength; ++i)
        op.page[(column + i) & (kFlashPageSize - 1)] = pData[i];
    m_bWel = false;
    ++m_nPrograms;
    const uint32_t programmed = std::min(nLength, kFlashPageSize);
    // A short program takes proportionally less than a full page, with a fixed part.
    const int64_t duration = static_cast<int64_t>(m_desc.nPageProgramUs) * (8 + programmed) / (8 + kFlashPageSize);
    Start(op, duration, now);
    return true;
}

bool CSpiFlash::Read(uint8_t opcode, uint32_t nAddress, uint8_t* pBuffer, uint32_t nLength, int64_t now)
{
    if (IsBusy(now) || (opcode != OPC_READ && opcode != OPC_FAST_READ))
        return false;
    // A read runs on past the end of the array and wraps to address 0.
    uint32_t address = nAddress % Capacity();
    while (nLength > 0) {
        const uint32_t n = std::min(nLength, Capacity() - address);
        std::memcpy(pBuffer, m_data.data() + address, n);
        pBuffer += n;
        nLength -= n;
        address = 0;
    }
    return true;
}

uint32_t CSpiFlash::ReadJedecId(uint8_t opcode, int64_t now)
{
    if (IsBusy(now) || opcode != OPC_RDID)
        return 0xFFFFFF;
    return m_desc.nJedecId;
}

uint8_t CSpiFlash::ReadStatus(int64_t now)
{
    Settle(now);
    return static_cast<uint8_t>((m_op.bActive ? 1 : 0) | (m_bWel ? 2 : 0));
}

void CSpiFlash::Start(Op op, int64_t nDurationUs, int64_t now)
{
    op.bActive = true;
    op.nStart = now;
    op.nEnd = now + std::max<int64_t>(nDurationUs, 1);
    m_op = op;
    m_nBusyUs += op.nEnd - op.nStart;
}

void CSpiFlash::Settle(int64_t now)
{
    if (m_op.bActive && now >= m_op.nEnd)
        Apply(1.0);
}

void CSpiFlash::PowerCut(int64_t now)
{
    Settle(now);
    if (m_op.bActive) {
        const double fraction = static_cast<double>(now - m_op.nStart) / static_cast<double>(m_op.nEnd - m_op.nStart);
        Apply(std::clamp(fraction, 0.0, 0.999));
    }
    m_bWel = false;
}

void CSpiFlash::Apply(double fraction)
{
    uint8_t* p = m_data.data() + m_op.nAddress;
    const uint32_t n = m_op.nLength;
    const uint32_t done = static_cast<uint32_t>(fraction * n);
    if (m_op.bErase) {
        std::memset(p, 0xFF, done);
        // Cells past the cut are partly erased: some of their bits are set, the rest kept.
        for (uint32_t i = done; i < n && fraction < 1.0; ++i)
            p[i] |= static_cast<uint8_t>((i * 0x9E3779B1u) >> 24) & 0x5A;
    } else {
        for (uint32_t i = 0; i < done; ++i)
            p[i] &= m_op.page[i];
        // The cell being programmed at the cut keeps only part of its cleared bits.
        if (fraction < 1.0 && done < n)
            p[done] &= static_cast<uint8_t>(m_op.page[done] | 0xF0);
    }
    MarkDirty(m_op.nAddress, n);
    m_op.bActive = false;
}

void CSpiFlash::MarkDirty(uint32_t nAddress, uint32_t nLength)
{
    for (uint32_t s = nAddress / kFlashSectorSize; s <= (nAddress + nLength - 1) / kFlashSectorSize; ++s)
        m_dirty[s] = true;
}

std::vector<uint32_t> CSpiFlash::TakeDirtySectors()
{
    std::vector<uint32_t> sectors;
    for (uint32_t s = 0; s < m_dirty.size(); ++s)
        if (m_dirty[s]) {
            sectors.push_back(s);
            m_dirty[s] = false;
        }
    return sectors;
}
