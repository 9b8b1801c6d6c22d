#include "platform/MemoryProfileReader.h"

void CMemoryProfileReader::SetFile(const QString& path, const QByteArray& bytes)
{
    ProfileData data = ParseProfileText(bytes);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.insert(path, std::move(data));
}

void CMemoryProfileReader::RemoveFile(const QString& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.remove(path);
}

uint32_t CMemoryProfileReader::GetPrivateProfileInt(const QString& section, const QString& key, int32_t nDefault,
                                                    const QString& path)
{
    ++m_nReads;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_files.constFind(path);
    const QString* pValue = it == m_files.constEnd() ? nullptr : it->Find(section, key);
    return pValue ? ProfileTextToInt(*pValue, nDefault) : static_cast<uint32_t>(nDefault);
}

QString CMemoryProfileReader::GetPrivateProfileString(const QString& section, const QString& key,
                                                      const QString& strDefault, int nCapacity,
                                                      const QString& path)
{
    ++m_nReads;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_files.constFind(path);
    const QString* pValue = it == m_files.constEnd() ? nullptr : it->Find(section, key);
    return CutProfileText(pValue ? *pValue : strDefault, nCapacity);
}
