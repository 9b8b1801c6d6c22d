#include "config/TableBlock.h"

#include <cstdlib>

void* AllocateTable(uint32_t nRecords, uint32_t nRecordSize)
{
    uint32_t nSize = 0;
    if (nRecords == 0 || nRecordSize == 0 || __builtin_mul_overflow(nRecords, nRecordSize, &nSize))
        return nullptr;
    // calloc leaves untouched pages unmapped, so a large, mostly empty table costs no memory.
    return std::calloc(nSize, 1);
}
