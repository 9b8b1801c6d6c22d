#include "device/zelhid/DeviceLock.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {

// flock without blocking; an exclusive one is tried again while shared holders may still go away.
bool LockFile(int fd, bool bExclusive, bool& bBusy)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(CDeviceLock::kSharedWaitMs);
    for (;;) {
        if (::flock(fd, (bExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0)
            return true;
        bBusy = errno == EWOULDBLOCK;
        if (!bBusy || !bExclusive || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

CDeviceLock::~CDeviceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

CDeviceLock::Outcome CDeviceLock::Take(const void* pOwner, bool bExclusive)
{
    bool bBusy = false;
    if (m_fd >= 0) {
        if (bExclusive && !m_bExclusive) {
            if (!LockFile(m_fd, true, bBusy))
                return bBusy ? Outcome::Busy : Outcome::NoFile;
            m_bExclusive = true;
        }
        m_owners.insert(pOwner);
        return Outcome::Taken;
    }
    if (m_strFile.empty())
        return Outcome::NoFile;
    // Read-only and non-blocking: opening a node must neither need more rights than the device's own
    // link nor wait.
    const int fd = m_bCreate ? ::open(m_strFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_CREAT | O_NOFOLLOW, 0644)
                             : ::open(m_strFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return Outcome::NoFile;
    if (!LockFile(fd, bExclusive, bBusy)) {
        ::close(fd);
        return bBusy ? Outcome::Busy : Outcome::NoFile;
    }
    m_fd = fd;
    m_bExclusive = bExclusive;
    m_owners.insert(pOwner);
    return Outcome::Taken;
}

void CDeviceLock::Release(const void* pOwner)
{
    m_owners.erase(pOwner);
    if (m_fd < 0 || !m_owners.empty())
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
    m_bExclusive = false;
}

int CDeviceLock::HolderPid(const std::string& strFile)
{
    struct stat st {};
    if (::stat(strFile.c_str(), &st) != 0)
        return 0;
    FILE* pLocks = std::fopen("/proc/locks", "re");
    if (!pLocks)
        return 0;
    // "1: FLOCK  ADVISORY  WRITE 1234 08:02:131 0 EOF"; waiters ("1: -> FLOCK ...") are not holders.
    char line[256];
    int nPid = 0;
    while (nPid == 0 && std::fgets(line, sizeof line, pLocks)) {
        char szKind[16], szMode[16], szAccess[16];
        int nHolder = 0;
        unsigned int nMajor = 0, nMinor = 0;
        unsigned long nInode = 0;
        if (std::sscanf(line, "%*d: %15s %15s %15s %d %x:%x:%lu", szKind, szMode, szAccess, &nHolder, &nMajor, &nMinor,
                        &nInode) == 7 &&
            std::string(szKind) == "FLOCK" && std::string(szAccess) == "WRITE" && nMajor == major(st.st_dev) &&
            nMinor == minor(st.st_dev) && nInode == st.st_ino)
            nPid = nHolder;
    }
    std::fclose(pLocks);
    return nPid > 0 ? nPid : 0;
}
