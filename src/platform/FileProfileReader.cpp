// The profile reader over files on disk: one parsed copy per path, parsed again when the file changes.
#include "platform/NativePath.h"
#include "platform/ProfileReader.h"
#include "platform/ProfileText.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>

namespace {

// What tells one version of a file from the next. Replacing the file changes the inode; an edit in
// place changes the size or the times.
struct FileStamp {
    dev_t nDevice = 0;
    ino_t nInode = 0;
    off_t nSize = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileStamp& other) const
    {
        return nDevice == other.nDevice && nInode == other.nInode && nSize == other.nSize &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

FileStamp StampOf(const struct stat& st)
{
    return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

// A configuration file larger than this is taken for a damaged one and read as missing: even the
// largest tables the loaders accept take a few tens of MiB, and reading and indexing gigabytes would
// hold start-up for minutes.
constexpr off_t kMaxProfileFileBytes = off_t{64} << 20;

// Reads a regular file whole; false for anything else (missing, a directory, a device, a pipe, a file
// over kMaxProfileFileBytes).
bool ReadProfileFile(const QByteArray& nativePath, QByteArray& bytes, FileStamp& stamp)
{
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool bOk = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxProfileFileBytes;
    if (bOk) {
        QFile file;
        bOk = file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle);
        if (bOk)
            bytes = file.readAll();
        bOk = bOk && file.error() == QFileDevice::NoError;
        stamp = StampOf(st);
    }
    ::close(fd);
    return bOk;
}

class CFileProfileReader : public IProfileReader {
public:
    uint32_t GetPrivateProfileInt(const QString& section, const QString& key, int32_t nDefault,
                                  const QString& path) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ProfileData* pData = Current(path);
        QByteArrayView value;
        if (!pData || !pData->Find(section, key, value))
            return static_cast<uint32_t>(nDefault);
        return ProfileTextToInt(value, nDefault);
    }

    QString GetPrivateProfileString(const QString& section, const QString& key, const QString& strDefault,
                                    int nCapacity, const QString& path) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ProfileData* pData = Current(path);
        QByteArrayView value;
        if (!pData || !pData->Find(section, key, value))
            return CutProfileText(strDefault, nCapacity);
        return CutProfileText(QString::fromUtf8(value), nCapacity);
    }

private:
    struct Entry {
        FileStamp stamp;
        std::unique_ptr<ProfileData> pData;
    };

    // The parsed file as it is now on disk, or null when it cannot be read.
    ProfileData* Current(const QString& path)
    {
        if (path != m_lastPath) {
            m_lastPath = path;
            m_lastNativePath = PathToNative(path);
        }
        const QByteArray& nativePath = m_lastNativePath;
        struct stat st {};
        if (::stat(nativePath.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
            m_files.erase(path);
            return nullptr;
        }
        auto it = m_files.find(path);
        if (it != m_files.end() && it->second.stamp == StampOf(st))
            return it->second.pData.get();

        QByteArray bytes;
        Entry entry;
        if (!ReadProfileFile(nativePath, bytes, entry.stamp)) {
            m_files.erase(path);
            return nullptr;
        }
        entry.pData = std::make_unique<ProfileData>(bytes);
        return m_files.insert_or_assign(path, std::move(entry)).first->second.pData.get();
    }

    std::mutex m_mutex;
    std::map<QString, Entry> m_files;
    QString m_lastPath;  // the path of the previous read, usually the next one's too
    QByteArray m_lastNativePath;
};

}  // namespace

std::unique_ptr<IProfileReader> CreateFileProfileReader()
{
    return std::make_unique<CFileProfileReader>();
}
