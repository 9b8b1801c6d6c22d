// Numbers as the program shows them: "0x" and lower-case hexadecimal digits, zero-padded to nDigits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

inline std::string HexText(uint32_t nValue, int nDigits)
{
    char sz[16];
    std::snprintf(sz, sizeof sz, "0x%0*x", nDigits, nValue);
    return sz;
}
