// The reading rule both preference stores share.
#pragma once

#include <QVariant>
#include <cstdint>

// A stored value as a 32-bit integer: integers from -2^31 to 2^32 - 1 and decimal text denoting one;
// anything else (missing, wider, fractional, other text) gives nDefault.
uint32_t PreferenceValueToInt(const QVariant& value, uint32_t nDefault);
