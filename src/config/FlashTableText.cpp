// The plain text of the flash chip table: lines, the name field and the 22 numbers of a chip line.
#include "config/FlashTable.h"

#include "config/HexScan.h"
#include "config/TableBlock.h"
#include "device/ZelHidApi.h"

#include <cstring>

namespace {

constexpr int kNumbersPerLine = 22;
constexpr size_t kMaxNameLength = sizeof(_FLASH_INFO::szName) - 1;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

const char* SkipBlanks(const char* p)
{
    while (IsBlank(*p))
        ++p;
    return p;
}

void ParseChipLine(const char* pLine, _FLASH_INFO& record)
{
    const char* pNumbers = TakeFirstField(pLine, record.szName);
    uint32_t v[kNumbersPerLine] = {};
    hexscan::ScanHexNumbers(pNumbers, v, kNumbersPerLine);
    // Numbers 1 to 3 most significant byte first.
    record.byJedecId[0] = static_cast<uint8_t>(v[0] >> 24);
    record.byJedecId[1] = static_cast<uint8_t>(v[0] >> 16);
    record.byJedecId[2] = static_cast<uint8_t>(v[0] >> 8);
    record.byJedecId[3] = static_cast<uint8_t>(v[0]);
    record.byCapacityKb[0] = static_cast<uint8_t>(v[1] >> 8);
    record.byCapacityKb[1] = static_cast<uint8_t>(v[1]);
    record.bySectorSize[0] = static_cast<uint8_t>(v[2] >> 8);
    record.bySectorSize[1] = static_cast<uint8_t>(v[2]);
    record.byAddressBytes = static_cast<uint8_t>(v[3]);
    for (size_t k = 0; k < sizeof(record.byOpcodes); ++k)
        record.byOpcodes[k] = static_cast<uint8_t>(v[4 + k]);
}

}  // namespace

const char* NextLine(const char* pText)
{
    if (!pText)
        return nullptr;
    const char* p = SkipBlanks(pText);
    if (*p == '\0')
        return nullptr;
    while (*p != '\0' && *p != '\n')
        ++p;
    return SkipBlanks(p);
}

const char* TakeFirstField(const char* pText, char* szName)
{
    std::memset(szName, 0, kMaxNameLength + 1);
    const char* p = SkipBlanks(pText);
    size_t nKept = 0;
    for (; *p != '\0' && *p != ','; ++p) {
        if (nKept < kMaxNameLength)
            szName[nKept++] = *p;
    }
    while (nKept > 0 && IsBlank(szName[nKept - 1]))
        szName[--nKept] = '\0';
    if (*p == ',')
        ++p;
    return SkipBlanks(p);
}

_FLASH_INFO* ParseFlashTableText(const char* pText, int& nParsed)
{
    nParsed = 0;
    if (!pText || std::strncmp(pText, "Chip", 4) != 0)
        return nullptr;
    uint32_t nLines = 0;
    for (const char* p = pText; *p != '\0'; ++p) {
        if (*p == '\n')
            ++nLines;
    }
    if (nLines == 0)
        return nullptr;
    // Every chip line follows a "\n", so L + 1 records always end with an all-zero one.
    auto* pTable = static_cast<_FLASH_INFO*>(AllocateTable(nLines + 1u, sizeof(_FLASH_INFO)));
    if (!pTable)
        return nullptr;
    const char* pLine = NextLine(pText);  // steps over the header line
    const char* pNext = NextLine(pLine);
    while (pNext) {
        ParseChipLine(pLine, pTable[nParsed]);
        ++nParsed;
        pLine = pNext;
        pNext = NextLine(pNext);
    }
    return pTable;
}
