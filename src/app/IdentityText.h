// Identity numbers as the window's boxes show them: "0x" and 4 (low 16 bits) or 8 hexadecimal digits.
#pragma once

#include "base/HexText.h"

#include <QString>
#include <cstdint>

inline QString Hex4(uint32_t nValue)
{
    return QString::fromStdString(HexText(nValue & 0xFFFFu, 4));
}

inline QString Hex8(uint32_t nValue)
{
    return QString::fromStdString(HexText(nValue, 8));
}
