// Numbers stored byte by byte: little-endian in the report protocol, the image's identity record and
// the emulator's files; most significant byte first in the flash chip table.
#pragma once

#include <cstddef>
#include <cstdint>

inline void PutLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint16_t GetLe16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t GetLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// The first nBytes (at most 4) as one number, most significant byte first.
inline uint32_t GetBigEndian(const uint8_t* p, size_t nBytes)
{
    uint32_t v = 0;
    for (size_t i = 0; i < nBytes; ++i)
        v = (v << 8) | p[i];
    return v;
}
