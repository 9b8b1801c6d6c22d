// The decrypted text of zel.dat: the chip lines parsed into the flash chip table.
#include "FlashTableChecks.h"

#include "config/FlashTable.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    // As the loader holds it: the bytes, then two zero bytes.
    std::vector<char> text(nSize + 2, '\0');
    std::memcpy(text.data(), pData, nSize);
    int nParsed = 0;
    _FLASH_INFO* pTable = ParseFlashTableText(text.data(), nParsed);
    CheckFlashTable(text.data(), pTable, nParsed);
    std::free(pTable);
    return 0;
}
