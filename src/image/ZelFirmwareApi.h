// The firmware image library: finds, checks and writes the identity record that the maker's build
// line stamps into an image. Record layout and placement: docs/image-format.md.
#pragma once

#include "device/ZelHidApi.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The identity record, all numbers little-endian:
//   0  8  magic "ZELIMGID"
//   8  2  format version (1)
//  10  2  record size in bytes (36)
//  12 20  DeviceInfoRecord
//  32  4  CRC-32 (zlib) of bytes 0 to 31
constexpr size_t kImageRecordSize = 36;
constexpr uint16_t kImageRecordVersion = 1;
extern const uint8_t kImageRecordMagic[8];

// Writes the record for the identity into rec.
void EncodeImageRecord(const _ZEL_USB_DEV_INFO& info, uint8_t rec[kImageRecordSize]);
// True when the nAvailable bytes at pRecord begin with a whole, intact record of this version;
// info is written only then.
bool DecodeImageRecord(const uint8_t* pRecord, size_t nAvailable, _ZEL_USB_DEV_INFO& info);
// The intact record nearest the end of the bytes; pOffset (optional) receives where it starts.
// False, and info untouched, when there is none.
bool FindImageRecord(const uint8_t* pData, size_t nLength, _ZEL_USB_DEV_INFO& info, size_t* pOffset = nullptr);

enum class StampResult {
    Replaced,  // an intact record was overwritten in place
    Trailer,   // the record took the image's last 36 bytes, which were erased (0xFF)
    Appended,  // the record was added after the image (only when asked for)
    NoRoom,    // no record, last bytes not erased, appending not allowed: nothing changed
};

// Stamps the identity into a raw image for the maker's build line. The image's length stays the same
// unless bAllowAppend is set and there is no other place.
StampResult StampImageRecord(std::vector<uint8_t>& image, const _ZEL_USB_DEV_INFO& info, bool bAllowAppend);

// An image file; nothing is read until ParseImageInfo.
class CZelFirmwareImage {
public:
    explicit CZelFirmwareImage(const char16_t* pszPath);
    explicit CZelFirmwareImage(std::filesystem::path path);

    // Fills the record from the file's identity and returns true; false (record untouched) when the
    // file cannot be read or holds no intact record.
    bool ParseImageInfo(_ZEL_USB_DEV_INFO* pInfo);

private:
    std::filesystem::path m_path;
};
