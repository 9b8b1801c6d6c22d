#include "platform/MemoryProfileReader.h"

void CMemoryProfileReader::SetFile(const QString& path, const QByteArray& bytes)
{
    auto pData = std::make_unique<ProfileData>(bytes);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.insert_or_assign(path, std::move(pData));
}

void CMemoryProfileReader::RemoveFile(const QString& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.erase(path);
}

bool CMemoryProfileReader::Find(const QString& section, const QString& key, const QString& path, QString& value)
{
    ++m_nReads;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_files.find(path);
    QByteArrayView view;
    if (it == m_files.end() || !it->second->Find(section, key, view))
        return false;
    value = QString::fromUtf8(view);
    return true;
}

uint32_t CMemoryProfileReader::GetPrivateProfileInt(const QString& section, const QString& key, int32_t nDefault,
                                                    const QString& path)
{
    QString value;
    if (!Find(section, key, path, value))
        return static_cast<uint32_t>(nDefault);
    return ProfileTextToInt(value.toUtf8(), nDefault);
}

QString CMemoryProfileReader::GetPrivateProfileString(const QString& section, const QString& key,
                                                      const QString& strDefault, int nCapacity, const QString& path)
{
    QString value;
    return CutProfileText(Find(section, key, path, value) ? value : strDefault, nCapacity);
}
