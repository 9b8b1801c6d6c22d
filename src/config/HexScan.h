// Scanning "%x, %x, ..." the way the table entries are written, for 8-bit and UTF-16 text.
#pragma once

#include <cstdint>

namespace hexscan {

template <typename Char>
int HexValue(Char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Blanks within one line; a line end is never stepped over, so that one line's numbers cannot run
// into the next line.
template <typename Char>
bool IsLineBlank(Char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Reads up to nFields numbers from zero-terminated text into pValues and returns how many were read.
// Each number: blanks, an optional sign, an optional "0x" or "0X", hexadecimal digits (the low 32 bits
// kept). Each number but the last must be followed directly by a comma. Fields not read are untouched.
template <typename Char>
int ScanHexNumbers(const Char* p, uint32_t* pValues, int nFields)
{
    int nRead = 0;
    if (!p)
        return 0;
    while (nRead < nFields) {
        if (nRead > 0) {
            if (*p != ',')
                break;
            ++p;
        }
        while (IsLineBlank(*p))
            ++p;
        bool bNegative = false;
        if (*p == '+' || *p == '-')
            bNegative = *p++ == '-';
        if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexValue(p[2]) >= 0)
            p += 2;
        if (HexValue(*p) < 0)
            break;
        uint32_t nValue = 0;
        for (; HexValue(*p) >= 0; ++p)
            nValue = nValue * 16u + static_cast<uint32_t>(HexValue(*p));
        pValues[nRead++] = bNegative ? 0u - nValue : nValue;
    }
    return nRead;
}

}  // namespace hexscan
