// The pieces a campaign run is built from: one emulated device behind the real device library, a
// clock that never waits, notices that the run sends itself, and the faulty programmers that the
// harness plants in front of the library to prove that it catches them.
#pragma once

#include "Campaign.h"
#include "device/ZelHidApi.h"
#include "device/zelhid/HidTransport.h"
#include "emulator/EmulatedDevice.h"
#include "platform/Clock.h"
#include "platform/DeviceNotifier.h"

#include <atomic>
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
    std::vector<HidInterfaceInfo> Enumerate() override;
    std::optional<HidInterfaceInfo> Describe(const std::string& strPath) override;
    std::unique_ptr<IHidLink> Open(const std::string& strPath, bool bJustArrived) override;

private:
    std::string m_strPath;
    std::shared_ptr<CEmulatedDevice> m_device;
};

// Time passes only when the worker pauses; a hook sees every pause as it begins.
class CCampaignClock final : public IClock {
public:
    uint64_t NowMs() override { return m_now.load(); }
    void Sleep(uint32_t nMs) override;
    std::function<void(uint32_t)> onSleep;

private:
    std::atomic<uint64_t> m_now{0};
};

// Notices that the run sends, as the system would send them, into the window's queue.
class CCampaignNotifier final : public IDeviceNotifier {
public:
    bool Register(std::function<void(const DeviceNotice&)> sink) override;
    void Unregister() override;
    void Notify(unsigned nEvent, const std::u16string& path);

private:
    std::mutex m_mutex;
    std::function<void(const DeviceNotice&)> m_sink;
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
    bool WriteFlash(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify) override;
    bool WriteFlashFlag(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify) override
    {
        return m_pInner->WriteFlashFlag(nOffset, nLength, pData, bVerify);
    }
    bool ReadFlash(uint32_t nOffset, uint32_t& nLength, uint8_t* pBuffer) override
    {
        return m_pInner->ReadFlash(nOffset, nLength, pBuffer);
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
    const ZEL_USB_DEVICE_ARRAY* Enumerate(bool bRescan, const char16_t* pszPath) override;
    CZelUsbDevice* Add(const char16_t* pszPath) override;
    void Release(CZelUsbDevice* pDevice) override;
    void Release(const char16_t* pszPath) override;
    void ReleaseAll() override;

private:
    CZelUsbDevice* Wrap(CZelUsbDevice* pInner);

    std::mutex m_mutex;
    IZelHidBackend& m_inner;
    Planted m_planted;
    uint32_t m_nFlagOffset;
    std::map<CZelUsbDevice*, std::unique_ptr<CPlantedDevice>> m_wrappers;
    std::vector<CZelUsbDevice*> m_array;
    ZEL_USB_DEVICE_ARRAY m_result{0, nullptr};
};

}  // namespace campaign
