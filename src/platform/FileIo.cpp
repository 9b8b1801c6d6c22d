// Whole-file reading. Only a regular file read in full counts: a short read, a file of 2 GiB or more,
// and anything that is not a regular file (a directory, a pipe, a device) yield nothing.
#include "platform/FileIo.h"

#include "platform/NativePath.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool ReadFully(int fd, uint8_t* pBuffer, size_t nLength)
{
    size_t nDone = 0;
    while (nDone < nLength) {
        const ssize_t n = ::read(fd, pBuffer + nDone, nLength - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        nDone += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool WriteFully(int fd, const void* pData, size_t nLength)
{
    const auto* p = static_cast<const uint8_t*>(pData);
    while (nLength > 0) {
        const ssize_t n = ::write(fd, p, nLength);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        p += n;
        nLength -= static_cast<size_t>(n);
    }
    return true;
}

int32_t ReadWholeFile(const QString& path, uint8_t*& pBuffer)
{
    pBuffer = nullptr;
    // Non-blocking, so that opening a pipe never waits for a writer; the type check below refuses it.
    const int fd = ::open(PathToNative(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        st.st_size > std::numeric_limits<int32_t>::max()) {
        ::close(fd);
        return 0;
    }
    const size_t nLength = static_cast<size_t>(st.st_size);
    auto* pData = static_cast<uint8_t*>(std::calloc(nLength + 2, 1));
    if (!pData || !ReadFully(fd, pData, nLength)) {
        std::free(pData);
        ::close(fd);
        return 0;
    }
    ::close(fd);
    pBuffer = pData;
    return static_cast<int32_t>(nLength);
}
