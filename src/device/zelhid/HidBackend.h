// The device library's backend over a HID transport: which interfaces are served, the device
// objects handed out and their release.
//
// Object lifetime: a released object (by pointer, by path, or because a rescan found its device gone)
// is closed and kept, never freed, until ReleaseAll. The program may thus still hold it (a worker in
// the middle of an operation, a second list entry with the same path) without touching freed memory;
// a closed object answers IsDeviceAvailable false and every operation false.
#pragma once

#include "device/ZelHidApi.h"
#include "device/zelhid/HidTransport.h"
#include "device/zelhid/ZelHidDevice.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CHidBackend final : public IZelHidBackend {
public:
    explicit CHidBackend(std::unique_ptr<IHidTransport> transport, const ProtocolTimeouts& timeouts = {});
    ~CHidBackend() override;

    // bRescan false returns the last enumeration's result (scanning once if there was none); a path
    // limits the scan to that interface.
    const ZEL_USB_DEVICE_ARRAY* Enumerate(bool bRescan, const char16_t* pszPath) override;
    CZelUsbDevice* Add(const char16_t* pszPath) override;
    void Release(CZelUsbDevice* pDevice) override;
    void Release(const char16_t* pszPath) override;
    void ReleaseAll() override;
    std::string LastError(CZelUsbDevice* pDevice) override;
    void ClearLastError(CZelUsbDevice* pDevice) override;
    const char16_t* SerialNumber(CZelUsbDevice* pDevice) override;
    int HeldBy(CZelUsbDevice* pDevice) override;

    IHidTransport& Transport() { return *m_transport; }
    // Objects handed out and not released; objects released and kept.
    size_t LiveCount();
    size_t RetiredCount();

private:
    // One of the objects handed out (live or retired), or null.
    CZelHidDevice* Find(CZelUsbDevice* pDevice);
    CZelHidDevice* OpenDevice(const HidInterfaceInfo& info, bool bJustArrived);
    std::shared_ptr<std::mutex> InterfaceLock(const std::string& strPath);
    std::shared_ptr<CDeviceLock> FileLock(const HidInterfaceInfo& info);
    void Retire(size_t index);

    std::mutex m_mutex;
    std::unique_ptr<IHidTransport> m_transport;
    ProtocolTimeouts m_timeouts;
    std::vector<std::unique_ptr<CZelHidDevice>> m_live;
    std::vector<std::unique_ptr<CZelHidDevice>> m_retired;
    std::map<std::string, std::weak_ptr<std::mutex>> m_locks;
    std::map<std::string, std::weak_ptr<CDeviceLock>> m_fileLocks;
    std::vector<CZelUsbDevice*> m_array;
    ZEL_USB_DEVICE_ARRAY m_result{0, nullptr};
    bool m_bScanned = false;
};
