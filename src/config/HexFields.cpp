#include "config/Configuration.h"
#include "config/HexScan.h"

int ScanHexFields(const char16_t* pszText, uint32_t* pValues, int nFields)
{
    return hexscan::ScanHexNumbers(pszText, pValues, nFields);
}
