// The SPI NOR flash chips the emulator can fit to a device, with their datasheet typical timings.
#pragma once

#include <cstdint>
#include <string_view>

struct FlashChipModel {
    const char* pszName;  // part name, e.g. "W25Q80DV"
    const char* pszVendor;
    uint32_t nJedecId;        // manufacturer << 16 | memory type << 8 | capacity code
    uint32_t nCapacity;       // bytes
    uint32_t nPageProgramUs;  // one full 256-byte page
    uint32_t nSectorEraseUs;  // 4 KB
    uint32_t nBlock32EraseUs;
    uint32_t nBlock64EraseUs;
    uint32_t nChipEraseUs;
};

constexpr uint32_t kFlashPageSize = 256;
constexpr uint32_t kFlashSectorSize = 4096;

// Every chip of the catalogue, ending with a record whose name is null.
const FlashChipModel* BuiltInFlashChips();
// By part name, with or without the vendor ("W25Q80DV", "Winbond W25Q80DV"; case ignored), or null.
const FlashChipModel* FindFlashChipByName(std::string_view name);
const FlashChipModel* FindFlashChipByJedec(uint32_t nJedecId);
