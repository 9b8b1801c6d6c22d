#include "platform/OutputFile.h"

#include "platform/FileIo.h"
#include "platform/NativePath.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

std::mutex g_lastErrorMutex;
std::string g_strLastError;

std::string ErrnoText(int nError)
{
    return std::system_category().message(nError);
}

// A fresh name in the target's folder, hidden, made exclusively (O_EXCL never follows a link).
int CreateTemporary(const std::string& target, std::string& temp)
{
    static std::atomic<unsigned> s_nCounter{0};
    const size_t nSlash = target.rfind('/');
    const std::string folder = nSlash == std::string::npos ? std::string() : target.substr(0, nSlash + 1);
    const std::string name = nSlash == std::string::npos ? target : target.substr(nSlash + 1);
    for (int nAttempt = 0; nAttempt < 100; ++nAttempt) {
        char szSuffix[48];
        std::snprintf(szSuffix, sizeof szSuffix, ".%ld-%u.part", static_cast<long>(::getpid()), s_nCounter++);
        temp = folder + "." + name.substr(0, 200) + szSuffix;
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Gives the temporary file the target's name, never replacing what is there.
int LinkWithoutReplacing(const std::string& temp, const std::string& target)
{
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without that kind of rename: a hard link is made only where no name exists.
    if (::link(temp.c_str(), target.c_str()) != 0)
        return errno;
    ::unlink(temp.c_str());
    return 0;
}

}  // namespace

COutputFile::~COutputFile()
{
    Discard();
}

bool COutputFile::Fail(const std::string& reason)
{
    m_strError = reason;
    std::lock_guard lock(g_lastErrorMutex);
    g_strLastError = reason;
    return false;
}

bool COutputFile::Create(const QString& path, bool bReplace)
{
    Discard();
    m_strPath = PathToNative(path).toStdString();
    m_bReplace = false;
    if (m_strPath.empty())
        return Fail(ErrnoText(ENOENT));
    struct stat st {};
    if (::lstat(m_strPath.c_str(), &st) == 0) {
        if (!bReplace)
            return Fail("exists");
        if (S_ISLNK(st.st_mode))
            return Fail("a symbolic link, which is never written through");
        if (!S_ISREG(st.st_mode))
            return Fail("not a regular file");
        if (::faccessat(AT_FDCWD, m_strPath.c_str(), W_OK, AT_EACCESS) != 0)
            return Fail(ErrnoText(errno));
        m_bReplace = true;  // only what is there now: a name that appears later is never replaced
    } else if (errno != ENOENT) {
        return Fail(ErrnoText(errno));
    }
    m_fd = CreateTemporary(m_strPath, m_strTemp);
    if (m_fd < 0) {
        const int nError = errno;
        m_strTemp.clear();
        return Fail(ErrnoText(nError));
    }
    return true;
}

bool COutputFile::Write(const void* pData, size_t nLength)
{
    if (m_fd < 0)
        return Fail(ErrnoText(EBADF));
    return WriteFully(m_fd, pData, nLength) || Fail(ErrnoText(errno));
}

bool COutputFile::Commit()
{
    if (m_fd < 0)
        return Fail(ErrnoText(EBADF));
    const bool bSynced = ::fsync(m_fd) == 0;
    const int nSyncError = errno;
    const bool bClosed = ::close(m_fd) == 0;
    const int nCloseError = errno;
    m_fd = -1;
    if (!bSynced || !bClosed) {
        Discard();
        return Fail(ErrnoText(!bSynced ? nSyncError : nCloseError));
    }
    int nError = 0;
    if (m_bReplace)
        nError = ::rename(m_strTemp.c_str(), m_strPath.c_str()) == 0 ? 0 : errno;
    else
        nError = LinkWithoutReplacing(m_strTemp, m_strPath);
    if (nError != 0) {
        Discard();
        return Fail(nError == EEXIST ? std::string("exists") : ErrnoText(nError));
    }
    m_strTemp.clear();
    return true;
}

void COutputFile::Discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_strTemp.empty()) {
        ::unlink(m_strTemp.c_str());
        m_strTemp.clear();
    }
}

std::string LastOutputFileError()
{
    std::lock_guard lock(g_lastErrorMutex);
    return g_strLastError;
}

bool WriteWholeFile(const QString& path, const void* pData, size_t nLength, bool bReplace, std::string& strError)
{
    COutputFile file;
    const bool bOk = file.Create(path, bReplace) && file.Write(pData, nLength) && file.Commit();
    strError = file.Error();
    return bOk;
}
