// Firmware image files: the identity record searched in the bytes, read from a file of those bytes,
// and stamped into them.
#include "image/ZelFirmwareApi.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool SameInfo(const _ZEL_USB_DEV_INFO& a, const _ZEL_USB_DEV_INFO& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The file the image library reads: an anonymous memory file, reached by its /proc path.
class CMemoryFile {
public:
    CMemoryFile() : m_fd(memfd_create("image.bin", MFD_CLOEXEC)) {}
    ~CMemoryFile()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool Fill(const uint8_t* pData, size_t nSize)
    {
        if (m_fd < 0 || ftruncate(m_fd, 0) != 0 || lseek(m_fd, 0, SEEK_SET) != 0)
            return false;
        size_t nDone = 0;
        while (nDone < nSize) {
            const ssize_t n = write(m_fd, pData + nDone, nSize - nDone);
            if (n <= 0)
                return false;
            nDone += static_cast<size_t>(n);
        }
        return true;
    }
    std::string Path() const { return "/proc/self/fd/" + std::to_string(m_fd); }

private:
    int m_fd;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const _ZEL_USB_DEV_INFO untouched = {0x5a5a, 0xa5a5, 0x11111111, 0x22222222, {0x33, 0x44}, {1, 2, 3, 4, 5, 6}};

    // In memory.
    _ZEL_USB_DEV_INFO found = untouched;
    size_t nOffset = 0;
    const bool bFound = FindImageRecord(pData, nSize, found, &nOffset);
    if (bFound) {
        _ZEL_USB_DEV_INFO again{};
        if (nOffset + kImageRecordSize > nSize || !DecodeImageRecord(pData + nOffset, nSize - nOffset, again) ||
            !SameInfo(again, found))
            std::abort();
    } else if (!SameInfo(found, untouched)) {
        std::abort();  // a failed search leaves the caller's record alone
    }

    // From a file: the same answer as the search over the same bytes.
    static CMemoryFile file;
    if (file.Fill(pData, nSize)) {
        _ZEL_USB_DEV_INFO fromFile = untouched;
        CZelFirmwareImage image(std::filesystem::path(file.Path()));
        const bool bFromFile = image.ParseImageInfo(&fromFile);
        if (bFromFile != bFound || !SameInfo(fromFile, found))
            std::abort();
    }

    // Stamping any image: afterwards its identity is the stamped one, unless there was no room.
    std::vector<uint8_t> stamped(pData, pData + nSize);
    const _ZEL_USB_DEV_INFO identity = {0x2fe3, 0x1200, 0x00010106, 0x12000100, {0, 1}, {}};
    const StampResult result = StampImageRecord(stamped, identity, nSize % 2 == 0);
    _ZEL_USB_DEV_INFO after{};
    const bool bAfter = FindImageRecord(stamped.data(), stamped.size(), after);
    switch (result) {
    case StampResult::NoRoom:
        if (stamped.size() != nSize || std::memcmp(stamped.data(), pData, nSize) != 0)
            std::abort();
        break;
    case StampResult::Appended:
        if (stamped.size() != nSize + kImageRecordSize || !bAfter || !SameInfo(after, identity))
            std::abort();
        break;
    case StampResult::Replaced:
    case StampResult::Trailer:
        if (stamped.size() != nSize || !bAfter || !SameInfo(after, identity))
            std::abort();
        break;
    }
    return 0;
}
