#include "device/zelhid/TableMatch.h"

#include "base/ByteOrder.h"

#include <cstring>

namespace {

bool IsAllZero(const void* p, size_t n)
{
    const uint8_t* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i])
            return false;
    return true;
}

}  // namespace

// The tables end at their first all-zero record.
bool IsKnownInterface(const _ZEL_USB_DEV_ID_INFO* pTable, uint16_t nVendorId, uint16_t nProductId, uint16_t nUsagePage,
                      uint16_t nUsage)
{
    if (!pTable)
        return false;
    const uint32_t usage = (static_cast<uint32_t>(nUsagePage) << 16) | nUsage;
    for (const _ZEL_USB_DEV_ID_INFO* r = pTable; !IsAllZero(r, sizeof *r); ++r)
        if (r->wVendorId == nVendorId && r->wProductId == nProductId && (r->dwUsage == 0 || r->dwUsage == usage))
            return true;
    return false;
}

bool MatchesDfuPatchInfo(const _ZEL_USB_DEV_INFO* pTable, uint16_t nVendorId, uint16_t nProductId, uint32_t nSubVersion,
                         uint16_t nChipsetType)
{
    if (!pTable)
        return false;
    for (const _ZEL_USB_DEV_INFO* r = pTable; !IsAllZero(r, sizeof *r); ++r) {
        if (r->wVendorId != nVendorId || r->wProductId != nProductId ||
            (r->dwSubVersion & ~0xFFu) != (nSubVersion & ~0xFFu))
            continue;
        const bool bRecordNamesChip = r->byChip[0] || r->byChip[1];
        if (bRecordNamesChip && nChipsetType != 0 &&
            (r->byChip[0] != (nChipsetType >> 8) || r->byChip[1] != (nChipsetType & 0xFF)))
            continue;
        return true;
    }
    return false;
}

const _FLASH_INFO* FindFlashInfo(const _FLASH_INFO* pTable, uint32_t nJedecId)
{
    if (!pTable)
        return nullptr;
    for (const _FLASH_INFO* r = pTable; !IsAllZero(r, sizeof *r); ++r) {
        const uint32_t id = GetBigEndian(r->byJedecId, sizeof r->byJedecId);
        if (id != 0 && id == nJedecId)
            return r;
    }
    return nullptr;
}

zelproto::FlashConfig FlashConfigOf(const _FLASH_INFO& info)
{
    zelproto::FlashConfig cfg;
    cfg.nJedecId = GetBigEndian(info.byJedecId, sizeof info.byJedecId);
    cfg.nCapacityKb = GetBigEndian(info.byCapacityKb, sizeof info.byCapacityKb);
    cfg.nSectorSize = GetBigEndian(info.bySectorSize, sizeof info.bySectorSize);
    cfg.nAddressBytes = info.byAddressBytes;
    static_assert(sizeof cfg.opcodes == sizeof info.byOpcodes);
    std::memcpy(cfg.opcodes, info.byOpcodes, sizeof cfg.opcodes);
    return cfg;
}
