#include "emulator/FlashFile.h"

#include "device/zelhid/Protocol.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

// A stand-in firmware: a short text header, then bytes that are neither blank nor a pattern.
void MakeFirmware(const DeviceDescription& desc, std::vector<uint8_t>& flash, bool bFlagSet)
{
    const uint32_t size = std::min<uint32_t>(64 * 1024, static_cast<uint32_t>(flash.size()));
    const std::string tag = "ZELFW " + desc.strProduct + " " + desc.strSerialNumber;
    uint32_t state = zelproto::Crc32(reinterpret_cast<const uint8_t*>(tag.data()), tag.size());
    for (uint32_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        flash[i] = static_cast<uint8_t>(state >> 16);
    }
    std::memcpy(flash.data(), tag.data(), std::min<size_t>(tag.size(), size));
    flash[desc.nFlagOffset] = bFlagSet ? 0xAA : 0xFF;
    flash[desc.nFlagOffset + 1] = bFlagSet ? 0xAA : 0xFF;
}

}  // namespace

void MakeInitialFlash(const DeviceDescription& desc, std::vector<uint8_t>& flash)
{
    std::ifstream image;
    if (!desc.strInitialImage.empty())
        image.open(desc.strInitialImage, std::ios::binary);
    if (image.is_open())
        image.read(reinterpret_cast<char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
    else if (desc.initialFlash != InitialFlash::Erased)
        MakeFirmware(desc, flash, desc.initialFlash == InitialFlash::Firmware);
}

bool ReadFlashFile(const std::string& strPath, std::vector<uint8_t>& contents)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in)
        return false;
    in.read(reinterpret_cast<char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    return true;
}

void CreateFlashFile(const std::string& strPath, const std::vector<uint8_t>& contents)
{
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
}

void WriteFlashSectors(const std::string& strPath, const std::vector<uint8_t>& contents,
                       const std::vector<uint32_t>& sectors)
{
    const int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "quillon emulator: cannot write %s\n", strPath.c_str());
        return;
    }
    for (uint32_t sector : sectors) {
        const size_t offset = static_cast<size_t>(sector) * kFlashSectorSize;
        if (offset >= contents.size())
            continue;
        const size_t n = std::min<size_t>(kFlashSectorSize, contents.size() - offset);
        if (::pwrite(fd, contents.data() + offset, n, static_cast<off_t>(offset)) != static_cast<ssize_t>(n))
            std::fprintf(stderr, "quillon emulator: cannot write %s\n", strPath.c_str());
    }
    ::close(fd);
}
