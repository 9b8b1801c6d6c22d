// A strict SPI NOR flash chip on a virtual clock (microseconds).
//
// What it enforces, as the parts do:
//   - erase and program need a preceding write enable; the latch clears when the operation starts;
//   - an erase sets a whole aligned sector (4 KB) or block (32/64 KB) to 0xFF;
//   - programming only clears bits (new = old AND data) and wraps within its 256-byte page;
//   - while an erase or program runs the chip is busy and ignores everything but the status read;
//   - a power cut during an erase or program leaves that range torn (neither old nor new).
// Erase and program take their datasheet time: the effect lands when the time has passed (Settle).
#pragma once

#include "emulator/FlashChips.h"

#include <cstdint>
#include <vector>

// True when every byte is 0xFF: a page that programming would leave as it is.
inline bool AllErased(const uint8_t* p, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        if (p[i] != 0xFF)
            return false;
    return true;
}

class CSpiFlash {
public:
    // Standard opcodes the chips decode.
    enum : uint8_t {
        OPC_WRSR = 0x01,
        OPC_PP = 0x02,
        OPC_READ = 0x03,
        OPC_WRDI = 0x04,
        OPC_RDSR = 0x05,
        OPC_WREN = 0x06,
        OPC_FAST_READ = 0x0B,
        OPC_SE = 0x20,
        OPC_BE32 = 0x52,
        OPC_CE = 0xC7,
        OPC_CE2 = 0x60,
        OPC_RDID = 0x9F,
        OPC_BE64 = 0xD8,
    };

    explicit CSpiFlash(const FlashChipModel& desc);

    const FlashChipModel& Description() const { return m_desc; }
    uint32_t Capacity() const { return m_desc.nCapacity; }

    // Each call is one SPI transaction at time `now`; false when the chip ignores it (busy, no write
    // enable, unknown opcode). Programs and erases run until BusyUntil().
    bool WriteEnable(uint8_t opcode, int64_t now);
    bool WriteDisable(uint8_t opcode, int64_t now);
    bool Erase(uint8_t opcode, uint32_t nAddress, int64_t now);
    bool Program(uint8_t opcode, uint32_t nAddress, const uint8_t* pData, uint32_t nLength, int64_t now);
    bool Read(uint8_t opcode, uint32_t nAddress, uint8_t* pBuffer, uint32_t nLength, int64_t now);
    // 0xFFFFFF when ignored (busy or wrong opcode): an unanswered read sees the pulled-up bus.
    uint32_t ReadJedecId(uint8_t opcode, int64_t now);
    uint8_t ReadStatus(int64_t now);  // bit 0 busy, bit 1 write enable latch

    int64_t BusyUntil() const { return m_op.bActive ? m_op.nEnd : 0; }
    bool IsBusy(int64_t now);
    // Completes the running operation if its time has come.
    void Settle(int64_t now);
    // Power is lost at `now`: a running operation is torn, the latch cleared.
    void PowerCut(int64_t now);

    // Contents as they are now (for persistence and tests), and sectors changed since the last call.
    const std::vector<uint8_t>& Contents() const { return m_data; }
    std::vector<uint8_t>& MutableContents() { return m_data; }
    std::vector<uint32_t> TakeDirtySectors();

    // Statistics for benchmarks and tests.
    uint64_t EraseCount() const { return m_nErases; }
    uint64_t ProgramCount() const { return m_nPrograms; }
    int64_t BusyTimeUs() const { return m_nBusyUs; }

private:
    struct Op {
        bool bActive = false;
        bool bErase = false;
        uint32_t nAddress = 0;
        uint32_t nLength = 0;
        uint8_t page[kFlashPageSize];
        int64_t nStart = 0;
        int64_t nEnd = 0;
    };

    void Start(Op op, int64_t nDurationUs, int64_t now);
    void Apply(double fraction);
    void MarkDirty(uint32_t nAddress, uint32_t nLength);

    FlashChipModel m_desc;
    std::vector<uint8_t> m_data;
    std::vector<bool> m_dirty;
    bool m_bWel = false;
    Op m_op;
    uint64_t m_nErases = 0;
    uint64_t m_nPrograms = 0;
    int64_t m_nBusyUs = 0;
};
