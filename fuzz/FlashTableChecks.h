// What every parsed flash chip table must satisfy, whatever text it came from.
#pragma once

#include "device/ZelHidApi.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// pText is zero-terminated. Aborts (a finding) when the table breaks its shape.
inline void CheckFlashTable(const char* pText, const _FLASH_INFO* pTable, int nParsed)
{
    if (!pTable) {
        if (nParsed != 0)
            std::abort();
        return;
    }
    if (std::strncmp(pText, "Chip", 4) != 0)
        std::abort();
    uint32_t nLines = 0;
    for (const char* p = pText; *p != '\0'; ++p)
        nLines += *p == '\n';
    // At most one record per "\n", and the record after the last chip line is all zero.
    if (nLines == 0 || nParsed < 0 || static_cast<uint32_t>(nParsed) > nLines)
        std::abort();
    for (uint32_t i = 0; i <= nLines; ++i) {
        const _FLASH_INFO& record = pTable[i];
        // Every name ends inside its field.
        if (std::memchr(record.szName, '\0', sizeof(record.szName)) == nullptr)
            std::abort();
        if (i >= static_cast<uint32_t>(nParsed)) {
            const auto* p = reinterpret_cast<const uint8_t*>(&record);
            for (size_t k = 0; k < sizeof(record); ++k)
                if (p[k] != 0)
                    std::abort();
        }
    }
}
