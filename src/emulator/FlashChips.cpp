#include "emulator/FlashChips.h"

#include <cctype>
#include <string>

namespace {

// Typical times from the parts' datasheets (page program of 256 bytes, 4 KB / 32 KB / 64 KB / chip erase).
const FlashChipModel kChips[] = {
    {"W25X40CL", "Winbond", 0xEF3013, 512 * 1024, 800, 60000, 120000, 200000, 1000000},
    {"W25Q40BV", "Winbond", 0xEF4013, 512 * 1024, 700, 30000, 120000, 150000, 1000000},
    {"W25Q80DV", "Winbond", 0xEF4014, 1024 * 1024, 700, 45000, 120000, 150000, 2000000},
    {"W25Q16JV", "Winbond", 0xEF4015, 2 * 1024 * 1024, 400, 45000, 120000, 150000, 5000000},
    {"W25Q32JV", "Winbond", 0xEF4016, 4 * 1024 * 1024, 400, 45000, 120000, 150000, 10000000},
    {"W25Q64JV", "Winbond", 0xEF4017, 8 * 1024 * 1024, 400, 45000, 120000, 150000, 20000000},
    {"W25Q128JV", "Winbond", 0xEF4018, 16 * 1024 * 1024, 400, 45000, 120000, 150000, 40000000},
    {"MX25L4006E", "Macronix", 0xC22013, 512 * 1024, 1400, 60000, 500000, 700000, 3500000},
    {"MX25L8006E", "Macronix", 0xC22014, 1024 * 1024, 1400, 60000, 500000, 700000, 7000000},
    {"MX25L1606E", "Macronix", 0xC22015, 2 * 1024 * 1024, 1400, 60000, 500000, 700000, 14000000},
    {"MX25L3206E", "Macronix", 0xC22016, 4 * 1024 * 1024, 1400, 60000, 500000, 700000, 25000000},
    {"MX25L6406E", "Macronix", 0xC22017, 8 * 1024 * 1024, 1400, 60000, 500000, 700000, 50000000},
    {"GD25Q40C", "GigaDevice", 0xC84013, 512 * 1024, 600, 50000, 150000, 250000, 3000000},
    {"GD25Q80C", "GigaDevice", 0xC84014, 1024 * 1024, 600, 50000, 150000, 250000, 5000000},
    {"GD25Q16C", "GigaDevice", 0xC84015, 2 * 1024 * 1024, 600, 50000, 150000, 250000, 8000000},
    {"GD25Q32C", "GigaDevice", 0xC84016, 4 * 1024 * 1024, 600, 50000, 150000, 250000, 15000000},
    {"GD25Q64C", "GigaDevice", 0xC84017, 8 * 1024 * 1024, 600, 50000, 150000, 250000, 25000000},
    {"IS25LP080D", "ISSI", 0x9D6014, 1024 * 1024, 200, 70000, 100000, 150000, 3000000},
    {"IS25LP016D", "ISSI", 0x9D6015, 2 * 1024 * 1024, 200, 70000, 100000, 150000, 3000000},
    {"IS25LP032D", "ISSI", 0x9D6016, 4 * 1024 * 1024, 200, 70000, 100000, 150000, 6000000},
    {"P25Q16H", "Puya", 0x856015, 2 * 1024 * 1024, 500, 40000, 120000, 150000, 5000000},
    {"P25Q32H", "Puya", 0x856016, 4 * 1024 * 1024, 500, 40000, 120000, 150000, 10000000},
    {"EN25Q16", "Eon", 0x1C3015, 2 * 1024 * 1024, 1300, 90000, 300000, 500000, 10000000},
    {"S25FL116K", "Spansion", 0x014015, 2 * 1024 * 1024, 700, 50000, 200000, 500000, 15000000},
    {"N25Q032A", "Micron", 0x20BA16, 4 * 1024 * 1024, 500, 300000, 700000, 700000, 30000000},
    {nullptr, nullptr, 0, 0, 0, 0, 0, 0, 0},
};

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

const FlashChipModel* BuiltInFlashChips()
{
    return kChips;
}

const FlashChipModel* FindFlashChipByName(std::string_view name)
{
    for (const FlashChipModel* p = kChips; p->pszName; ++p) {
        const std::string full = std::string(p->pszVendor) + " " + p->pszName;
        if (EqualNoCase(name, p->pszName) || EqualNoCase(name, full))
            return p;
    }
    return nullptr;
}

const FlashChipModel* FindFlashChipByJedec(uint32_t nJedecId)
{
    for (const FlashChipModel* p = kChips; p->pszName; ++p)
        if (p->nJedecId == nJedecId)
            return p;
    return nullptr;
}
