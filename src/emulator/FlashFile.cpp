#include "emulator/FlashFile.h"

#include "device/zelhid/Protocol.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

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

bool FlashFileInsideFolder(const std::string& strFolder, const std::string& strFile)
{
    const fs::path file = fs::path(strFile).lexically_normal();
    if (file.is_absolute() || file.empty() || *file.begin() == ".." || file == ".")
        return false;
    std::error_code ec;
    const fs::path folder = fs::weakly_canonical(strFolder, ec);
    const fs::path resolved = ec ? fs::path() : fs::weakly_canonical(folder / file, ec);
    if (ec)
        return false;
    const fs::path rel = resolved.lexically_relative(folder);
    return !rel.empty() && *rel.begin() != ".." && rel != ".";
}

bool CheckFlashFile(const std::string& strPath, uint64_t nChipBytes, std::string& strError)
{
    struct stat st;
    if (::stat(strPath.c_str(), &st) != 0)
        return true;
    if (!S_ISREG(st.st_mode)) {
        strError = "\"file\": not a regular file: " + strPath;
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) != nChipBytes) {
        strError = "\"file\": " + strPath + " holds " + std::to_string(st.st_size) + " bytes, not the chip's " +
                   std::to_string(nChipBytes) + ": not this device's flash (remove it to start afresh)";
        return false;
    }
    return true;
}

namespace {

bool WriteAll(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t done = ::write(fd, p, n);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        p += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

}  // namespace

void CreateFlashFile(const std::string& strPath, const std::vector<uint8_t>& contents)
{
    std::string temp = strPath + ".new-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    bool ok = fd >= 0 && ::fchmod(fd, 0644) == 0 && WriteAll(fd, contents.data(), contents.size()) && ::fsync(fd) == 0;
    if (fd >= 0)
        ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), strPath.c_str()) == 0;
    if (!ok) {
        std::fprintf(stderr, "quillon emulator: cannot write %s: %s\n", strPath.c_str(), std::strerror(errno));
        if (fd >= 0)
            ::unlink(temp.c_str());
    }
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
