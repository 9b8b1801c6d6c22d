// DFU patch files: what a device without a boot loader of its own loads into its RAM to enter DFU mode.
//
// Layout (little-endian), 48-byte header then the payload:
//    0  magic "ZPAT"
//    4  format version (16 bits) = 1
//    6  header size (16 bits) = 48
//    8  controller index (8 bits): high byte of the chipset type the patch is made for
//    9  reserved, 0
//   10  controller name, 16 bytes, zero-padded ASCII (e.g. "ZA4800")
//   26  reserved, 2 bytes, 0
//   28  payload length (32 bits)
//   32  payload CRC32 (zlib)
//   36  reserved, 8 bytes, 0
//   44  header CRC32 (zlib) of bytes 0 to 43
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kDfuPatchHeaderSize = 48;

enum class DfuPatchCheck {
    Accepted,
    Damaged,         // not a patch, cut short, or a checksum fails
    OtherController  // a sound patch, made for another controller
};

// A patch for the controller; the payload stands for the code that the device runs from RAM.
std::vector<uint8_t> BuildDfuPatch(uint8_t nControllerIndex, const std::string& strControllerName,
                                   const std::vector<uint8_t>& payload);
// The payload that our build puts into a controller's patch (deterministic, 2 KB).
std::vector<uint8_t> DefaultDfuPatchPayload(const std::string& strControllerName);

DfuPatchCheck CheckDfuPatch(const uint8_t* pData, uint32_t nLength, uint8_t nControllerIndex,
                            const std::string& strControllerName);
