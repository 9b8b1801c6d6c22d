// The profile reader over files on disk: one parsed copy per path, parsed again when the file changes.
#include "platform/ProfileReader.h"
#include "platform/ProfileText.h"

#include <QFile>
#include <QHash>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Reads a regular file whole; false for anything else (missing, a directory, a device, a pipe).
bool ReadProfileFile(const QByteArray& nativePath, QByteArray& bytes, FileStamp& stamp)
{
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool bOk = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
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
        const ProfileData* pData = Current(path);
        const QString* pValue = pData ? pData->Find(section, key) : nullptr;
        return pValue ? ProfileTextToInt(*pValue, nDefault) : static_cast<uint32_t>(nDefault);
    }

    QString GetPrivateProfileString(const QString& section, const QString& key, const QString& strDefault,
                                    int nCapacity, const QString& path) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const ProfileData* pData = Current(path);
        const QString* pValue = pData ? pData->Find(section, key) : nullptr;
        return CutProfileText(pValue ? *pValue : strDefault, nCapacity);
    }

private:
    struct Entry {
        FileStamp stamp;
        ProfileData data;
    };

    // The parsed file as it is now on disk, or null when it cannot be read.
    const ProfileData* Current(const QString& path)
    {
        const QByteArray nativePath = QFile::encodeName(path);
        struct stat st {};
        if (::stat(nativePath.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
            m_files.remove(path);
            return nullptr;
        }
        auto it = m_files.find(path);
        if (it != m_files.end() && (*it)->stamp == StampOf(st))
            return &(*it)->data;

        QByteArray bytes;
        auto entry = std::make_shared<Entry>();
        if (!ReadProfileFile(nativePath, bytes, entry->stamp)) {
            m_files.remove(path);
            return nullptr;
        }
        entry->data = ParseProfileText(bytes);
        m_files.insert(path, entry);
        return &entry->data;
    }

    std::mutex m_mutex;
    QHash<QString, std::shared_ptr<Entry>> m_files;
};

}  // namespace

std::unique_ptr<IProfileReader> CreateFileProfileReader()
{
    return std::make_unique<CFileProfileReader>();
}
