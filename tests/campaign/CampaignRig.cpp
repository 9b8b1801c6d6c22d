#include "CampaignRig.h"

#include "emulator/hid/EmulatorTransport.h"

#include <cstring>

namespace campaign {

std::vector<HidInterfaceInfo> CSingleDeviceTransport::Enumerate()
{
    if (!m_device->IsPlugged())
        return {};
    return {DescribeEmulatedDevice(m_strPath, *m_device)};
}

std::optional<HidInterfaceInfo> CSingleDeviceTransport::Describe(const std::string& strPath)
{
    if (strPath != m_strPath || !m_device->IsPlugged())
        return std::nullopt;
    return DescribeEmulatedDevice(m_strPath, *m_device);
}

std::unique_ptr<IHidLink> CSingleDeviceTransport::Open(const std::string& strPath, bool)
{
    if (strPath != m_strPath)
        return nullptr;
    return OpenEmulatorLink(m_device);
}

void CCampaignClock::Sleep(uint32_t nMs)
{
    if (onSleep)
        onSleep(nMs);
    m_now += nMs;
}

bool CCampaignNotifier::Register(std::function<void(const DeviceNotice&)> sink)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sink = std::move(sink);
    return true;
}

void CCampaignNotifier::Unregister()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sink = nullptr;
}

void CCampaignNotifier::Notify(unsigned nEvent, const std::u16string& path)
{
    DeviceNotice notice;
    notice.nEvent = nEvent;
    notice.bHasRecord = true;
    notice.nDeviceType = DBT_DEVTYP_DEVICEINTERFACE;
    notice.strPath = path;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_sink)
        m_sink(notice);
}

bool CPlantedDevice::WriteFlash(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify)
{
    static const uint8_t kSet[2] = {0xAA, 0xAA};
    const bool bFlagClear = nOffset == m_nFlagOffset && nLength == 2 && pData[0] == 0xFF && pData[1] == 0xFF;
    switch (m_planted) {
    case Planted::SkipFlagClear:
        if (bFlagClear)
            return true;  // claims the flag word cleared without sending anything
        break;
    case Planted::FlagFirst:
        if (bFlagClear)
            return m_pInner->WriteFlash(nOffset, 2, kSet, bVerify);
        break;
    case Planted::OwnFlagInBlock:
        if (nLength > 2 && nOffset <= m_nFlagOffset && m_nFlagOffset + 2 <= nOffset + nLength) {
            std::vector<uint8_t> block(pData, pData + nLength);
            std::memcpy(block.data() + (m_nFlagOffset - nOffset), kSet, 2);
            return m_pInner->WriteFlash(nOffset, nLength, block.data(), bVerify);
        }
        break;
    case Planted::None:
        break;
    }
    return m_pInner->WriteFlash(nOffset, nLength, pData, bVerify);
}

CZelUsbDevice* CPlantingBackend::Wrap(CZelUsbDevice* pInner)
{
    if (pInner == nullptr)
        return nullptr;
    std::unique_ptr<CPlantedDevice>& wrapper = m_wrappers[pInner];
    if (!wrapper)
        wrapper = std::make_unique<CPlantedDevice>(pInner, m_planted, m_nFlagOffset);
    return wrapper.get();
}

const ZEL_USB_DEVICE_ARRAY* CPlantingBackend::Enumerate(bool bRescan, const char16_t* pszPath)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const ZEL_USB_DEVICE_ARRAY* pInner = m_inner.Enumerate(bRescan, pszPath);
    m_array.clear();
    for (uint32_t i = 0; pInner != nullptr && i < pInner->nCount; ++i)
        m_array.push_back(Wrap(pInner->ppDevices[i]));
    m_result.nCount = static_cast<uint32_t>(m_array.size());
    m_result.ppDevices = m_array.empty() ? nullptr : m_array.data();
    return &m_result;
}

CZelUsbDevice* CPlantingBackend::Add(const char16_t* pszPath)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return Wrap(m_inner.Add(pszPath));
}

void CPlantingBackend::Release(CZelUsbDevice* pDevice)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& [pInner, wrapper] : m_wrappers)
        if (wrapper.get() == pDevice)
            m_inner.Release(pInner);
}

void CPlantingBackend::Release(const char16_t* pszPath)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inner.Release(pszPath);
}

void CPlantingBackend::ReleaseAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inner.ReleaseAll();
    m_wrappers.clear();
    m_array.clear();
    m_result = ZEL_USB_DEVICE_ARRAY{0, nullptr};
}

}  // namespace campaign
