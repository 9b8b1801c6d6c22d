// A profile reader over texts held in memory, with the same rules as the file reader. For tests and
// for front ends that carry their configuration themselves.
#pragma once

#include "platform/ProfileReader.h"
#include "platform/ProfileText.h"

#include <QByteArray>
#include <atomic>
#include <map>
#include <memory>
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
    bool Find(const QString& section, const QString& key, const QString& path, QString& value);

    std::mutex m_mutex;
    std::map<QString, std::unique_ptr<ProfileData>> m_files;
    std::atomic<int> m_nReads{0};
};
