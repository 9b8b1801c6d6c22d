// zel.dat: read, decrypt, parse into the flash chip table.
#include "config/FlashTable.h"

#include "platform/FileIo.h"

bool LoadFlashTableFile(const QString& strPath, CHeapBlock<_FLASH_INFO>& table)
{
    uint8_t* pRead = nullptr;
    const int32_t nLength = ReadWholeFile(strPath, pRead);
    const CHeapBlock<uint8_t> buffer(pRead);
    if (nLength == 0 || !DecryptFlashTable(buffer, nLength))
        return false;
    // The two zero bytes after the file's end end the text at the latest.
    int nParsed = 0;
    table.reset(ParseFlashTableText(reinterpret_cast<const char*>(buffer.get()), nParsed));
    return table != nullptr && nParsed > 0;
}
