// The transport under the device library: find HID interfaces, open one by path, exchange 64-byte
// reports (report ID first) with a timeout. Implemented over hidapi and over the emulator.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct HidInterfaceInfo {
    std::string strPath;  // the transport's own path of the interface
    uint16_t nVendorId = 0;
    uint16_t nProductId = 0;
    uint16_t nUsagePage = 0;
    uint16_t nUsage = 0;
    int nInterface = -1;
    bool bHasProduct = false;
    std::u16string strProduct;
    std::u16string strSerialNumber;
};

class IHidLink {
public:
    virtual ~IHidLink() = default;
    // Sends one 64-byte report (byte 0 is the report ID). False when it was not sent.
    virtual bool Write(const uint8_t* pReport, uint32_t nTimeoutMs) = 0;
    // 1: a 64-byte report; 0: none within the timeout (0 ms: only what is already waiting);
    // -1: the link failed, the device is gone.
    virtual int Read(uint8_t* pReport, uint32_t nTimeoutMs) = 0;
    virtual bool IsConnected() = 0;
};

class IHidTransport {
public:
    virtual ~IHidTransport() = default;
    virtual std::vector<HidInterfaceInfo> Enumerate() = 0;
    // The interface at this path, if it is present now.
    virtual std::optional<HidInterfaceInfo> Describe(const std::string& strPath) = 0;
    // bJustArrived: the interface was announced a moment ago; opening is retried briefly while the
    // system finishes setting it up.
    virtual std::unique_ptr<IHidLink> Open(const std::string& strPath, bool bJustArrived) = 0;
    // The same device again after its link failed, when the system may have enumerated it anew (a
    // mode switch on a real bus gives it a new node): found by its vendor ID, usage and serial number,
    // waiting a while for it to come back. Null where links never move (the default).
    virtual std::unique_ptr<IHidLink> Reopen(const HidInterfaceInfo& was)
    {
        (void)was;
        return nullptr;
    }
    // The file whose lock stands for the device among programs (DeviceLock.h), and whether it is ours to
    // create. It must stay the same while the device is re-enumerated; the interface's own path does,
    // where links never move (the default).
    virtual std::string LockFile(const HidInterfaceInfo& info, bool& bCreate)
    {
        bCreate = false;
        return info.strPath;
    }
};
