// The pieces a campaign run is built from: one emulated device behind the real device library, a
// clock that never waits, and the faulty programmers that the harness plants in front of the library
// to prove that it catches them. Notices go through the tests' own notifier (support/WindowFixture.h).
#pragma once

#include "Campaign.h"
#include "device/ZelHidApi.h"
#include "device/zelhid/HidTransport.h"
#include "emulator/EmulatedDevice.h"
#include "emulator/hid/EmulatorTransport.h"
#include "support/FakeClock.h"

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace campaign {

// One emulated device, always at the same interface path.
class CSingleDeviceTransport final : public IHidTransport {
public:
    CSingleDeviceTransport(std::string strPath, std::shared_ptr<CEmulatedDevice> device)
        : m_strPath(std::move(strPath)), m_device(std::move(device))
    {}
    std::vector<HidInterfaceInfo> Enumerate() override
    {
        std::optional<HidInterfaceInfo> info = Describe(m_strPath);
        return info ? std::vector<HidInterfaceInfo>{*info} : std::vector<HidInterfaceInfo>{};
    }
    std::optional<HidInterfaceInfo> Describe(const std::string& strPath) override
    {
        if (strPath != m_strPath || !m_device->IsPlugged())
            return std::nullopt;
        return DescribeEmulatedDevice(m_strPath, *m_device);
    }
    std::unique_ptr<IHidLink> Open(const std::string& strPath, bool) override
    {
        return strPath == m_strPath ? OpenEmulatorLink(m_device) : nullptr;
    }

private:
    std::string m_strPath;
    std::shared_ptr<CEmulatedDevice> m_device;
};

// Time passes only when the worker pauses; a hook sees every pause as it begins.
class CCampaignClock final : public CFakeClock {
public:
    void Sleep(uint32_t nMs) override
    {
        if (onSleep)
            onSleep(nMs);
        CFakeClock::Sleep(nMs);
    }
    std::function<void(uint32_t)> onSleep;
};

// A device object that forwards every call, except the writes that a faulty programmer gets wrong.
class CPlantedDevice final : public CZelUsbDevice {
public:
    CPlantedDevice(CZelUsbDevice* pInner, Planted planted, uint32_t nFlagOffset)
        : m_pInner(pInner), m_planted(planted), m_nFlagOffset(nFlagOffset)
    {}

    uint16_t GetVendorID() override { return m_pInner->GetVendorID(); }
    uint16_t GetProductID() override { return m_pInner->GetProductID(); }
    uint16_t GetVersion() override { return m_pInner->GetVersion(); }
    uint32_t GetSubVersion() override { return m_pInner->GetSubVersion(); }
    uint16_t GetChipsetType() override { return m_pInner->GetChipsetType(); }
    const char16_t* GetProductString() override { return m_pInner->GetProductString(); }
    const char16_t* GetDevicePath() override { return m_pInner->GetDevicePath(); }
    bool IsHidDfuSupported() override { return m_pInner->IsHidDfuSupported(); }
    bool IsHidDfuBootLoaderSupported() override { return m_pInner->IsHidDfuBootLoaderSupported(); }
    bool IsDeviceAvailable() override { return m_pInner->IsDeviceAvailable(); }
    bool SwitchToDfuMode() override { return m_pInner->SwitchToDfuMode(); }
    bool LoadDfuPatch(const uint8_t* pData, uint32_t nLength) override
    {
        return m_pInner->LoadDfuPatch(pData, nLength);
    }
    bool SwitchToNormalMode() override { return m_pInner->SwitchToNormalMode(); }
    bool DetectFlash() override { return m_pInner->DetectFlash(); }
    bool IsFlashRedetectNeeded() override { return m_pInner->IsFlashRedetectNeeded(); }
    uint16_t GetDefaultSerialNumberAddr() override { return m_pInner->GetDefaultSerialNumberAddr(); }
    bool WriteFlashFlag(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify) override
    {
        return m_pInner->WriteFlashFlag(nOffset, nLength, pData, bVerify);
    }
    bool ReadFlash(uint32_t nOffset, uint32_t& nLength, uint8_t* pBuffer) override
    {
        return m_pInner->ReadFlash(nOffset, nLength, pBuffer);
    }
    bool WriteFlash(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify) override
    {
        static const uint8_t kSet[2] = {0xAA, 0xAA};
        const bool bFlagClear = nOffset == m_nFlagOffset && nLength == 2 && pData[0] == 0xFF && pData[1] == 0xFF;
        if (bFlagClear && m_planted == Planted::SkipFlagClear)
            return true;  // claims the flag word cleared without sending anything
        if (bFlagClear && m_planted == Planted::FlagFirst)
            return m_pInner->WriteFlash(nOffset, 2, kSet, bVerify);
        if (m_planted == Planted::OwnFlagInBlock && nLength > 2 && nOffset <= m_nFlagOffset &&
            m_nFlagOffset + 2 <= nOffset + nLength) {
            std::vector<uint8_t> block(pData, pData + nLength);
            std::memcpy(block.data() + (m_nFlagOffset - nOffset), kSet, 2);
            return m_pInner->WriteFlash(nOffset, nLength, block.data(), bVerify);
        }
        return m_pInner->WriteFlash(nOffset, nLength, pData, bVerify);
    }

private:
    CZelUsbDevice* m_pInner;
    Planted m_planted;
    uint32_t m_nFlagOffset;
};

// Hands out planted device objects over a real backend; like the library, it keeps every object it
// handed out until ReleaseAll.
class CPlantingBackend final : public IZelHidBackend {
public:
    CPlantingBackend(IZelHidBackend& inner, Planted planted, uint32_t nFlagOffset)
        : m_inner(inner), m_planted(planted), m_nFlagOffset(nFlagOffset)
    {}
    const ZEL_USB_DEVICE_ARRAY* Enumerate(bool bRescan, const char16_t* pszPath) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const ZEL_USB_DEVICE_ARRAY* pInner = m_inner.Enumerate(bRescan, pszPath);
        m_array.clear();
        for (uint32_t i = 0; pInner != nullptr && i < pInner->nCount; ++i)
            m_array.push_back(Wrap(pInner->ppDevices[i]));
        m_result = {static_cast<uint32_t>(m_array.size()), m_array.empty() ? nullptr : m_array.data()};
        return &m_result;
    }
    CZelUsbDevice* Add(const char16_t* pszPath) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return Wrap(m_inner.Add(pszPath));
    }
    void Release(CZelUsbDevice* pDevice) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& [pInner, wrapper] : m_wrappers)
            if (wrapper.get() == pDevice)
                m_inner.Release(pInner);
    }
    void Release(const char16_t* pszPath) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_inner.Release(pszPath);
    }
    void ReleaseAll() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_inner.ReleaseAll();
        m_wrappers.clear();
        m_array.clear();
        m_result = ZEL_USB_DEVICE_ARRAY{0, nullptr};
    }

private:
    CZelUsbDevice* Wrap(CZelUsbDevice* pInner)
    {
        if (pInner == nullptr)
            return nullptr;
        std::unique_ptr<CPlantedDevice>& wrapper = m_wrappers[pInner];
        if (!wrapper)
            wrapper = std::make_unique<CPlantedDevice>(pInner, m_planted, m_nFlagOffset);
        return wrapper.get();
    }

    std::mutex m_mutex;
    IZelHidBackend& m_inner;
    Planted m_planted;
    uint32_t m_nFlagOffset;
    std::map<CZelUsbDevice*, std::unique_ptr<CPlantedDevice>> m_wrappers;
    std::vector<CZelUsbDevice*> m_array;
    ZEL_USB_DEVICE_ARRAY m_result{0, nullptr};
};

}  // namespace campaign
