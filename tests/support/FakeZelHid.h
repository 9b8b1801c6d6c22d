// Scriptable doubles of the device library: devices that answer from a script and record every call,
// and a backend that hands them out.
#pragma once

#include "device/ZelHidApi.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One recorded call: the operation's name and its arguments as text, e.g. "WriteFlash(0x3000,2,ffff,0)".
struct FakeCall {
    std::string strName;
    std::string strArgs;
    std::string Text() const { return strName + "(" + strArgs + ")"; }
};

class CFakeZelUsbDevice : public CZelUsbDevice {
public:
    explicit CFakeZelUsbDevice(std::u16string path = u"/dev/hidraw0") : strPath(std::move(path)) {}

    // Identity, as the queries return it.
    uint16_t nVendorId = 0x0d8c;
    uint16_t nProductId = 0x0001;
    uint16_t nVersion = 0x0100;
    uint32_t nSubVersion = 0x00001000;
    uint16_t nChipsetType = 0x0101;
    std::u16string strProduct = u"USB Audio Device";
    bool bHasProduct = true;
    std::u16string strPath;
    bool bHidDfu = true;
    bool bBootLoader = true;
    bool bAvailable = true;
    uint16_t nDefaultSerialAddr = 0;

    // Results of the operations: each call takes the next scripted result, or success when none (for the
    // re-detection question, bDefaultRedetect).
    std::deque<bool> qSwitchToDfu, qLoadPatch, qSwitchToNormal, qDetectFlash, qRedetect, qWrite, qWriteFlag, qRead;
    bool bDefaultRedetect = false;
    // ReadFlash delivers these bytes (cut to the capacity unless bReadOverReport) and reports their count.
    std::vector<uint8_t> readData;
    bool bReadOverReport = false;  // report more than the capacity passed in
    // Called at the start of every operation with its name, e.g. to unplug during attempt 3.
    std::function<void(const std::string&)> onCall;

    // Bytes of every WriteFlash/WriteFlashFlag, in order, with their offsets.
    struct Write {
        bool bFlag;
        uint32_t nOffset;
        std::vector<uint8_t> data;
        bool bVerify;
    };

    std::vector<FakeCall> Calls() const;
    std::vector<std::string> CallNames() const;
    std::vector<Write> Writes() const;
    size_t CountCalls(const std::string& name) const { return std::ranges::count(CallNames(), name); }
    void ClearCalls();

    // Every call is recorded (and onCall run) before the answer is read, so onCall may change it.
    uint16_t GetVendorID() override { return Answer("GetVendorID", &CFakeZelUsbDevice::nVendorId); }
    uint16_t GetProductID() override { return Answer("GetProductID", &CFakeZelUsbDevice::nProductId); }
    uint16_t GetVersion() override { return Answer("GetVersion", &CFakeZelUsbDevice::nVersion); }
    uint32_t GetSubVersion() override { return Answer("GetSubVersion", &CFakeZelUsbDevice::nSubVersion); }
    uint16_t GetChipsetType() override { return Answer("GetChipsetType", &CFakeZelUsbDevice::nChipsetType); }
    const char16_t* GetProductString() override;
    const char16_t* GetDevicePath() override;
    bool IsHidDfuSupported() override { return Answer("IsHidDfuSupported", &CFakeZelUsbDevice::bHidDfu); }
    bool IsHidDfuBootLoaderSupported() override
    {
        return Answer("IsHidDfuBootLoaderSupported", &CFakeZelUsbDevice::bBootLoader);
    }
    bool IsDeviceAvailable() override;
    bool SwitchToDfuMode() override { return Scripted("SwitchToDfuMode", qSwitchToDfu, true); }
    bool LoadDfuPatch(const uint8_t* pData, uint32_t nLength) override;
    bool SwitchToNormalMode() override { return Scripted("SwitchToNormalMode", qSwitchToNormal, true); }
    bool DetectFlash() override { return Scripted("DetectFlash", qDetectFlash, true); }
    bool IsFlashRedetectNeeded() override { return Scripted("IsFlashRedetectNeeded", qRedetect, bDefaultRedetect); }
    uint16_t GetDefaultSerialNumberAddr() override
    {
        return Answer("GetDefaultSerialNumberAddr", &CFakeZelUsbDevice::nDefaultSerialAddr);
    }
    bool WriteFlash(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify) override
    {
        return Written(false, nOffset, nLength, pData, bVerify);
    }
    bool WriteFlashFlag(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify) override
    {
        return Written(true, nOffset, nLength, pData, bVerify);
    }
    bool ReadFlash(uint32_t nOffset, uint32_t& nLength, uint8_t* pBuffer) override;

    std::vector<uint8_t> lastPatch;  // bytes of the last LoadDfuPatch
    bool bReleased = false;          // set by the backend's release

private:
    void Record(const std::string& name, const std::string& args);
    bool Next(std::deque<bool>& queue, bool bDefault);
    template <class T>
    T Answer(const char* pszName, T CFakeZelUsbDevice::*pField)
    {
        Record(pszName, "");
        return this->*pField;
    }
    bool Scripted(const char* pszName, std::deque<bool>& queue, const bool& bDefault)
    {
        Record(pszName, "");
        return Next(queue, bDefault);
    }
    bool Written(bool bFlag, uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify);

    mutable std::mutex m_mutex;
    std::vector<FakeCall> m_calls;
    std::vector<Write> m_writes;
};

// Hands out fake devices: Enumerate returns the "plugged" list in order; Add returns the device
// registered for the path (or null). Released devices are kept alive until the backend dies, so a
// test can inspect them and a stale pointer is never freed memory.
class CFakeZelHidBackend : public IZelHidBackend {
public:
    CFakeZelHidBackend() : m_pPrevious(SetZelHidBackend(this)) {}
    ~CFakeZelHidBackend() override { SetZelHidBackend(m_pPrevious); }

    // Creates a device that enumeration lists.
    CFakeZelUsbDevice* Plug(std::u16string path);
    // Creates a device that only Add hands out (for arrival notices).
    CFakeZelUsbDevice* Offer(std::u16string path);
    void Unplug(CFakeZelUsbDevice* pDevice);  // leaves enumeration; the object stays valid

    bool bEnumerateNull = false;
    std::vector<std::string> log;  // "Enumerate", "Add(path)", "Release(path)", "ReleaseObject(path)", "ReleaseAll"

    const ZEL_USB_DEVICE_ARRAY* Enumerate(bool bRescan, const char16_t* pszPath) override;
    CZelUsbDevice* Add(const char16_t* pszPath) override;
    void Release(CZelUsbDevice* pDevice) override;
    void Release(const char16_t* pszPath) override;
    void ReleaseAll() override;

private:
    std::mutex m_mutex;
    std::vector<std::unique_ptr<CFakeZelUsbDevice>> m_all;
    std::vector<CFakeZelUsbDevice*> m_plugged;
    std::map<std::u16string, CFakeZelUsbDevice*> m_offered;
    std::vector<CZelUsbDevice*> m_array;
    ZEL_USB_DEVICE_ARRAY m_enum{0, nullptr};
    IZelHidBackend* m_pPrevious;
};

std::string Utf8(const std::u16string& text);
