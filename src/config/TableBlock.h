// The heap blocks of the tables: fixed-size records, zero-filled, sizes computed in 32 bits.
#pragma once

#include <cstdint>

// More entries than this in one table of Quillon.ini is taken for a damaged file: the table is absent.
// It keeps a mistyped count from holding start-up for minutes.
constexpr int32_t kMaxConfigEntries = 1 << 20;

// A zero-filled block of nRecords records of nRecordSize bytes, or null when the size does not fit in
// 32 bits or the heap refuses it. Free with std::free.
void* AllocateTable(uint32_t nRecords, uint32_t nRecordSize);
