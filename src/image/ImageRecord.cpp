#include "image/ZelFirmwareApi.h"

#include "base/ByteOrder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

const uint8_t kImageRecordMagic[8] = {'Z', 'E', 'L', 'I', 'M', 'G', 'I', 'D'};

namespace {

constexpr size_t kCrcOffset = 32;

uint32_t RecordCrc(const uint8_t* pRecord)
{
    return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), pRecord, static_cast<uInt>(kCrcOffset)));
}

}  // namespace

void EncodeImageRecord(const _ZEL_USB_DEV_INFO& info, uint8_t rec[kImageRecordSize])
{
    std::memcpy(rec, kImageRecordMagic, sizeof(kImageRecordMagic));
    PutLe16(rec + 8, kImageRecordVersion);
    PutLe16(rec + 10, static_cast<uint16_t>(kImageRecordSize));
    uint8_t* p = rec + 12;
    PutLe16(p + 0, info.wVendorId);
    PutLe16(p + 2, info.wProductId);
    PutLe32(p + 4, info.dwVersion);
    PutLe32(p + 8, info.dwSubVersion);
    p[12] = info.byChip[0];
    p[13] = info.byChip[1];
    std::memcpy(p + 14, info.byReserved, sizeof(info.byReserved));
    PutLe32(rec + kCrcOffset, RecordCrc(rec));
}

bool DecodeImageRecord(const uint8_t* pRecord, size_t nAvailable, _ZEL_USB_DEV_INFO& info)
{
    if (pRecord == nullptr || nAvailable < kImageRecordSize)
        return false;
    if (std::memcmp(pRecord, kImageRecordMagic, sizeof(kImageRecordMagic)) != 0)
        return false;
    if (GetLe16(pRecord + 8) != kImageRecordVersion || GetLe16(pRecord + 10) != kImageRecordSize)
        return false;
    if (GetLe32(pRecord + kCrcOffset) != RecordCrc(pRecord))
        return false;
    const uint8_t* p = pRecord + 12;
    _ZEL_USB_DEV_INFO decoded{};
    decoded.wVendorId = GetLe16(p + 0);
    decoded.wProductId = GetLe16(p + 2);
    decoded.dwVersion = GetLe32(p + 4);
    decoded.dwSubVersion = GetLe32(p + 8);
    decoded.byChip[0] = p[12];
    decoded.byChip[1] = p[13];
    std::memcpy(decoded.byReserved, p + 14, sizeof(decoded.byReserved));
    info = decoded;
    return true;
}

bool FindImageRecord(const uint8_t* pData, size_t nLength, _ZEL_USB_DEV_INFO& info, size_t* pOffset)
{
    if (pData == nullptr || nLength < kImageRecordSize)
        return false;
    // From the end backwards: a restamped image counts by its newest record.
    for (size_t nAt = nLength - kImageRecordSize + 1; nAt-- > 0;) {
        if (pData[nAt] != kImageRecordMagic[0])
            continue;
        if (DecodeImageRecord(pData + nAt, nLength - nAt, info)) {
            if (pOffset != nullptr)
                *pOffset = nAt;
            return true;
        }
    }
    return false;
}

StampResult StampImageRecord(std::vector<uint8_t>& image, const _ZEL_USB_DEV_INFO& info, bool bAllowAppend)
{
    uint8_t rec[kImageRecordSize];
    EncodeImageRecord(info, rec);

    _ZEL_USB_DEV_INFO existing{};
    size_t nOffset = 0;
    if (FindImageRecord(image.data(), image.size(), existing, &nOffset)) {
        std::copy(rec, rec + kImageRecordSize, image.begin() + static_cast<std::ptrdiff_t>(nOffset));
        return StampResult::Replaced;
    }
    if (image.size() >= kImageRecordSize &&
        std::all_of(image.end() - kImageRecordSize, image.end(), [](uint8_t b) { return b == 0xFF; })) {
        std::copy(rec, rec + kImageRecordSize, image.end() - kImageRecordSize);
        return StampResult::Trailer;
    }
    if (!bAllowAppend)
        return StampResult::NoRoom;
    image.insert(image.end(), rec, rec + kImageRecordSize);
    return StampResult::Appended;
}
