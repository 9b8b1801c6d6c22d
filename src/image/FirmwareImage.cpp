#include "image/ZelFirmwareApi.h"

#include <fstream>

namespace {

constexpr size_t kChunkSize = 1 << 20;

}  // namespace

CZelFirmwareImage::CZelFirmwareImage(const char16_t* pszPath)
    : m_path(pszPath != nullptr ? std::filesystem::path(std::u16string(pszPath)) : std::filesystem::path())
{
}

CZelFirmwareImage::CZelFirmwareImage(std::filesystem::path path) : m_path(std::move(path)) {}

// Reads the file in chunks, so that any size can be scanned; the last kImageRecordSize - 1 bytes of a
// chunk are carried over, so a record that straddles two chunks is seen whole. The last intact record
// in the file counts.
bool CZelFirmwareImage::ParseImageInfo(_ZEL_USB_DEV_INFO* pInfo)
{
    if (pInfo == nullptr || m_path.empty())
        return false;
    std::ifstream file(m_path, std::ios::binary);
    if (!file)
        return false;

    constexpr size_t kCarry = kImageRecordSize - 1;
    std::vector<uint8_t> window(kCarry + kChunkSize);
    size_t nHeld = 0;
    bool bFound = false;
    _ZEL_USB_DEV_INFO found{};
    for (;;) {
        file.read(reinterpret_cast<char*>(window.data() + nHeld), static_cast<std::streamsize>(kChunkSize));
        const size_t nRead = static_cast<size_t>(file.gcount());
        if (file.bad())
            return false;
        nHeld += nRead;
        _ZEL_USB_DEV_INFO candidate{};
        if (FindImageRecord(window.data(), nHeld, candidate)) {
            found = candidate;
            bFound = true;
        }
        if (nRead < kChunkSize)
            break;
        // Keep the tail: a record may start in it and end in the next chunk.
        const size_t nKeep = std::min(nHeld, kCarry);
        std::copy(window.begin() + static_cast<std::ptrdiff_t>(nHeld - nKeep),
                  window.begin() + static_cast<std::ptrdiff_t>(nHeld), window.begin());
        nHeld = nKeep;
    }
    if (bFound)
        *pInfo = found;
    return bFound;
}
