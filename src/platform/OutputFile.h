// Files the programs create (uploads, backups, stamped images, flash tables). The bytes go to a new
// temporary file in the chosen file's folder, which takes the chosen name only once every byte is
// written and flushed: a failed write (a full disk) leaves no file under that name, and a file that
// was there stays as it was. Nothing is ever written through a symbolic link, into a pipe or a
// device, and an existing file is replaced only when replacing was asked for, in the same step as the
// file takes its name.
#pragma once

#include <QString>
#include <cstddef>
#include <string>

class COutputFile {
public:
    COutputFile() = default;
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // bReplace: the regular file that is there now may be replaced; otherwise any existing name (a
    // dangling link too) is refused, and so is one that appears before the file takes its name. A
    // link, a folder, a pipe or a device is always refused.
    bool Create(const QString& path, bool bReplace);
    bool Write(const void* pData, size_t nLength);
    // Flushes the bytes to the disk and gives the file its name.
    bool Commit();
    // Removes the temporary file; the chosen name is untouched. Also done when an uncommitted file goes.
    void Discard();

    // Why the last step failed ("No space left on device", "exists"...).
    const std::string& Error() const { return m_strError; }

private:
    bool Fail(const std::string& reason);

    std::string m_strPath;
    std::string m_strTemp;
    int m_fd = -1;
    bool m_bReplace = false;
    std::string m_strError;
};

// The reason of the latest failure of any output file in this program, "" when none failed yet; for a
// front end that reports why after a flow that shows only its own messages.
std::string LastOutputFileError();

// Writes the whole file as COutputFile does; false with the reason in strError.
bool WriteWholeFile(const QString& path, const void* pData, size_t nLength, bool bReplace, std::string& strError);
