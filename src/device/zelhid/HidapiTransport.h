// The transport over hidapi (hidraw backend) for real devices.
//
// Reports: our reports are numbered, so hidapi takes and gives them with the report ID as byte 0,
// 64 bytes in all. A read that is not 64 bytes long or carries an unknown report ID is dropped.
// Timeouts: reads always run with one (hid_read_timeout). hidapi has no write timeout; a hidraw
// write returns when the kernel has sent the report or given up (the USB stack bounds it), and a
// write that outlasts our timeout counts as failed.
#pragma once

#include "device/zelhid/HidTransport.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The few hidapi calls we use, behind an interface so that tests can stand in for the library.
class IHidapi {
public:
    using Handle = void*;
    struct DeviceInfo {
        std::string strPath;
        uint16_t nVendorId = 0, nProductId = 0, nUsagePage = 0, nUsage = 0;
        int nInterface = -1;
        std::wstring strProduct, strSerialNumber;
    };
    virtual ~IHidapi() = default;
    virtual std::vector<DeviceInfo> Enumerate() = 0;
    virtual Handle Open(const std::string& strPath) = 0;  // null on failure
    virtual int Write(Handle h, const uint8_t* pData, size_t nLength) = 0;
    virtual int ReadTimeout(Handle h, uint8_t* pData, size_t nLength, int nMilliseconds) = 0;
    virtual void Close(Handle h) = 0;
    virtual void Sleep(uint32_t nMs) = 0;
    virtual uint64_t NowMs() = 0;
};

// hidapi itself (hid_init on creation, hid_exit on destruction).
std::unique_ptr<IHidapi> CreateSystemHidapi();

class CHidapiTransport final : public IHidTransport {
public:
    explicit CHidapiTransport(std::unique_ptr<IHidapi> api);

    std::vector<HidInterfaceInfo> Enumerate() override;
    std::optional<HidInterfaceInfo> Describe(const std::string& strPath) override;
    std::unique_ptr<IHidLink> Open(const std::string& strPath, bool bJustArrived) override;
    std::unique_ptr<IHidLink> Reopen(const HidInterfaceInfo& was) override;
    // A hidraw node goes with a mode switch and the device comes back on another: a device with a
    // serial number is locked by a file in /run/lock named after its vendor ID and serial number.
    std::string LockFile(const HidInterfaceInfo& info, bool& bCreate) override;

    // How long and how often opening a node that just arrived is tried.
    static constexpr uint32_t kOpenRetryMs = 1000;
    static constexpr uint32_t kOpenRetryStepMs = 50;
    // How long a device that left the bus (rebooting into another mode) is waited for by Reopen.
    static constexpr uint32_t kReopenMs = 5000;
    static constexpr const char* kLockDir = "/run/lock";

private:
    std::shared_ptr<IHidapi> m_api;
};
