// A profile reader over texts held in memory, with the same rules as the file reader. For tests and
// for front ends that carry their configuration themselves.
#pragma once

#include "platform/ProfileReader.h"
#include "platform/ProfileText.h"

#include <QByteArray>
#include <QHash>
#include <atomic>
#include <mutex>

class CMemoryProfileReader : public IProfileReader {
public:
    // Sets the bytes of the file at path (as a file on disk would hold them), replacing any earlier ones.
    void SetFile(const QString& path, const QByteArray& bytes);
    void RemoveFile(const QString& path);
    // How many reads were asked for, of any file.
    int ReadCount() const { return m_nReads.load(); }

    uint32_t GetPrivateProfileInt(const QString& section, const QString& key, int32_t nDefault,
                                  const QString& path) override;
    QString GetPrivateProfileString(const QString& section, const QString& key, const QString& strDefault,
                                    int nCapacity, const QString& path) override;

private:
    std::mutex m_mutex;
    QHash<QString, ProfileData> m_files;
    std::atomic<int> m_nReads{0};
};
