#include "support/FakeZelHid.h"

#include <QByteArray>
#include <algorithm>

std::string Utf8(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

namespace {

std::string Hex(uint32_t value)
{
    return "0x" + QByteArray::number(value, 16).toStdString();
}

}  // namespace

void CFakeZelUsbDevice::Record(const std::string& name, const std::string& args)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back({name, args});
    }
    if (onCall)
        onCall(name);
}

bool CFakeZelUsbDevice::Next(std::deque<bool>& queue, bool bDefault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (queue.empty())
        return bDefault;
    bool result = queue.front();
    queue.pop_front();
    return result;
}

std::vector<FakeCall> CFakeZelUsbDevice::Calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

std::vector<std::string> CFakeZelUsbDevice::CallNames() const
{
    std::vector<std::string> names;
    for (const FakeCall& call : Calls())
        names.push_back(call.strName);
    return names;
}

std::vector<CFakeZelUsbDevice::Write> CFakeZelUsbDevice::Writes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes;
}

void CFakeZelUsbDevice::ClearCalls()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
    m_writes.clear();
}

const char16_t* CFakeZelUsbDevice::GetProductString()
{
    Record("GetProductString", "");
    return bHasProduct ? strProduct.c_str() : nullptr;
}

const char16_t* CFakeZelUsbDevice::GetDevicePath()
{
    Record("GetDevicePath", "");
    return strPath.c_str();
}

bool CFakeZelUsbDevice::IsDeviceAvailable()
{
    Record("IsDeviceAvailable", "");
    return bAvailable && !bReleased;
}
bool CFakeZelUsbDevice::LoadDfuPatch(const uint8_t* pData, uint32_t nLength)
{
    Record("LoadDfuPatch", std::to_string(nLength));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        lastPatch.assign(pData, pData + nLength);
    }
    return Next(qLoadPatch, true);
}

bool CFakeZelUsbDevice::Written(bool bFlag, uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify)
{
    const std::string head =
        QByteArray(reinterpret_cast<const char*>(pData), std::min(nLength, 4u)).toHex().toStdString();
    Record(bFlag ? "WriteFlashFlag" : "WriteFlash",
           Hex(nOffset) + "," + std::to_string(nLength) + "," + head + "," + (bVerify ? "1" : "0"));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_writes.push_back({bFlag, nOffset, std::vector<uint8_t>(pData, pData + nLength), bVerify});
    }
    return Next(bFlag ? qWriteFlag : qWrite, true);
}

bool CFakeZelUsbDevice::ReadFlash(uint32_t nOffset, uint32_t& nLength, uint8_t* pBuffer)
{
    Record("ReadFlash", Hex(nOffset) + "," + std::to_string(nLength));
    bool result = Next(qRead, true);
    if (!result)
        return false;
    uint32_t n = static_cast<uint32_t>(std::min<size_t>(readData.size(), nLength));
    std::copy(readData.begin(), readData.begin() + n, pBuffer);
    nLength = bReadOverReport ? static_cast<uint32_t>(readData.size()) : n;
    return true;
}

CFakeZelUsbDevice* CFakeZelHidBackend::Plug(std::u16string path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_plugged.emplace_back(m_all.emplace_back(std::make_unique<CFakeZelUsbDevice>(std::move(path))).get());
}

CFakeZelUsbDevice* CFakeZelHidBackend::Offer(std::u16string path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_offered[path] = m_all.emplace_back(std::make_unique<CFakeZelUsbDevice>(path)).get();
}

void CFakeZelHidBackend::Unplug(CFakeZelUsbDevice* pDevice)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_plugged.erase(std::remove(m_plugged.begin(), m_plugged.end(), pDevice), m_plugged.end());
    pDevice->bAvailable = false;
}

const ZEL_USB_DEVICE_ARRAY* CFakeZelHidBackend::Enumerate(bool bRescan, const char16_t*)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    log.push_back("Enumerate");
    if (bEnumerateNull)
        return nullptr;
    m_array.assign(m_plugged.begin(), m_plugged.end());
    m_enum.nCount = static_cast<uint32_t>(m_array.size());
    m_enum.ppDevices = m_array.data();
    return &m_enum;
}

CZelUsbDevice* CFakeZelHidBackend::Add(const char16_t* pszPath)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::u16string path = pszPath ? pszPath : u"";
    log.push_back("Add(" + Utf8(path) + ")");
    auto it = m_offered.find(path);
    return it == m_offered.end() ? nullptr : it->second;
}

void CFakeZelHidBackend::Release(CZelUsbDevice* pDevice)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!pDevice)
        return;
    auto* pFake = static_cast<CFakeZelUsbDevice*>(pDevice);
    log.push_back("ReleaseObject(" + Utf8(pFake->strPath) + ")");
    pFake->bReleased = true;
}

void CFakeZelHidBackend::Release(const char16_t* pszPath)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::u16string path = pszPath ? pszPath : u"";
    log.push_back("Release(" + Utf8(path) + ")");
    for (auto& device : m_all)
        device->bReleased = device->bReleased || device->strPath == path;
}

void CFakeZelHidBackend::ReleaseAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    log.push_back("ReleaseAll");
    for (auto& device : m_all)
        device->bReleased = true;
}
