// zel.dat end to end as the loader takes it: the file's bytes decrypted in place, then parsed.
#include "FlashTableChecks.h"

#include "config/FlashTable.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    std::vector<uint8_t> buffer(nSize + 2, 0);
    std::memcpy(buffer.data(), pData, nSize);
    if (!DecryptFlashTable(buffer.data(), static_cast<int32_t>(nSize)))
        std::abort();  // the cipher takes any length
    const char* pText = reinterpret_cast<const char*>(buffer.data());
    int nParsed = 0;
    _FLASH_INFO* pTable = ParseFlashTableText(pText, nParsed);
    CheckFlashTable(pText, pTable, nParsed);
    std::free(pTable);

    // The cipher is its own inverse: encrypting the plain text gives the file back.
    if (!EncryptFlashTable(buffer.data(), static_cast<int32_t>(nSize)) || std::memcmp(buffer.data(), pData, nSize) != 0)
        std::abort();
    return 0;
}
