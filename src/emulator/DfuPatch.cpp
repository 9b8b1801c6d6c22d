#include "emulator/DfuPatch.h"

#include "device/zelhid/Protocol.h"

#include <algorithm>
#include <cstring>

using zelproto::Crc32;
using zelproto::GetLe16;
using zelproto::GetLe32;
using zelproto::PutLe16;
using zelproto::PutLe32;

namespace {
constexpr size_t kNameOffset = 10;
constexpr size_t kNameSize = 16;
}  // namespace

std::vector<uint8_t> BuildDfuPatch(uint8_t nControllerIndex, const std::string& strControllerName,
                                   const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> file(kDfuPatchHeaderSize + payload.size(), 0);
    uint8_t* h = file.data();
    std::memcpy(h, "ZPAT", 4);
    PutLe16(h + 4, 1);
    PutLe16(h + 6, kDfuPatchHeaderSize);
    h[8] = nControllerIndex;
    std::memcpy(h + kNameOffset, strControllerName.data(), std::min(strControllerName.size(), kNameSize));
    PutLe32(h + 28, static_cast<uint32_t>(payload.size()));
    PutLe32(h + 32, Crc32(payload.data(), payload.size()));
    PutLe32(h + 44, Crc32(h, 44));
    if (!payload.empty())
        std::memcpy(h + kDfuPatchHeaderSize, payload.data(), payload.size());
    return file;
}

std::vector<uint8_t> DefaultDfuPatchPayload(const std::string& strControllerName)
{
    // A fixed pseudo-random body seeded by the name, so that every build makes the same file.
    uint32_t state = Crc32(reinterpret_cast<const uint8_t*>(strControllerName.data()), strControllerName.size());
    std::vector<uint8_t> payload(2048);
    for (uint8_t& b : payload) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
    }
    return payload;
}

DfuPatchCheck CheckDfuPatch(const uint8_t* p, uint32_t nLength, uint8_t nControllerIndex,
                            const std::string& strControllerName)
{
    if (!p || nLength < kDfuPatchHeaderSize || std::memcmp(p, "ZPAT", 4) != 0)
        return DfuPatchCheck::Damaged;
    if (GetLe16(p + 4) != 1 || GetLe16(p + 6) != kDfuPatchHeaderSize || GetLe32(p + 44) != Crc32(p, 44))
        return DfuPatchCheck::Damaged;
    const uint32_t payloadLength = GetLe32(p + 28);
    if (payloadLength != nLength - kDfuPatchHeaderSize ||
        GetLe32(p + 32) != Crc32(p + kDfuPatchHeaderSize, payloadLength))
        return DfuPatchCheck::Damaged;
    char name[kNameSize + 1] = {};
    std::memcpy(name, p + kNameOffset, kNameSize);
    if (p[8] != nControllerIndex || strControllerName != name)
        return DfuPatchCheck::OtherController;
    return DfuPatchCheck::Accepted;
}
