#include "image/ZelFirmwareApi.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kChunkSize = 1 << 20;

// As many bytes as the file still has, up to nWant; -1 on a read error.
ssize_t ReadSome(int fd, uint8_t* p, size_t nWant)
{
    size_t nDone = 0;
    while (nDone < nWant) {
        const ssize_t n = ::read(fd, p + nDone, nWant - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        nDone += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(nDone);
}

// Closes the descriptor on every way out.
struct FileDescriptor {
    int fd;
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

}  // namespace

CZelFirmwareImage::CZelFirmwareImage(const char16_t* pszPath)
    : m_path(pszPath != nullptr ? std::filesystem::path(std::u16string(pszPath)) : std::filesystem::path())
{}

CZelFirmwareImage::CZelFirmwareImage(std::filesystem::path path) : m_path(std::move(path)) {}

// Reads the file in chunks; the last kImageRecordSize - 1 bytes of a chunk are carried over, so a
// record that straddles two chunks is seen whole. The last intact record in the file counts.
// Only a regular file that the program could load (less than 2 GiB) is read: opening never waits (a
// pipe), and a huge file is not scanned for minutes only to be refused when its bytes are read.
bool CZelFirmwareImage::ParseImageInfo(_ZEL_USB_DEV_INFO* pInfo)
{
    if (pInfo == nullptr || m_path.empty())
        return false;
    const FileDescriptor file{::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    struct stat st {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size > std::numeric_limits<int32_t>::max())
        return false;

    constexpr size_t kCarry = kImageRecordSize - 1;
    std::vector<uint8_t> window(kCarry + kChunkSize);
    size_t nHeld = 0;
    bool bFound = false;
    _ZEL_USB_DEV_INFO found{};
    for (;;) {
        const ssize_t nGot = ReadSome(file.fd, window.data() + nHeld, kChunkSize);
        if (nGot < 0)
            return false;
        const size_t nRead = static_cast<size_t>(nGot);
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
