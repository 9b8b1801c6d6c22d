#include "device/zelhid/HidapiTransport.h"

#include "device/zelhid/Protocol.h"
#include "device/zelhid/Utf.h"

#include <hidapi/hidapi.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <thread>

namespace {

class CSystemHidapi final : public IHidapi {
public:
    CSystemHidapi() : m_bInit(hid_init() == 0) {}
    ~CSystemHidapi() override
    {
        if (m_bInit)
            hid_exit();
    }

    std::vector<DeviceInfo> Enumerate() override
    {
        std::vector<DeviceInfo> out;
        if (!m_bInit)
            return out;
        hid_device_info* list = hid_enumerate(0, 0);
        for (hid_device_info* p = list; p; p = p->next) {
            DeviceInfo info;
            info.strPath = p->path ? p->path : "";
            info.nVendorId = p->vendor_id;
            info.nProductId = p->product_id;
            info.nUsagePage = p->usage_page;
            info.nUsage = p->usage;
            info.nInterface = p->interface_number;
            if (p->product_string)
                info.strProduct = p->product_string;
            if (p->serial_number)
                info.strSerialNumber = p->serial_number;
            out.push_back(std::move(info));
        }
        hid_free_enumeration(list);
        return out;
    }
    Handle Open(const std::string& strPath) override { return m_bInit ? hid_open_path(strPath.c_str()) : nullptr; }
    int Write(Handle h, const uint8_t* pData, size_t nLength) override
    {
        return hid_write(static_cast<hid_device*>(h), pData, nLength);
    }
    int ReadTimeout(Handle h, uint8_t* pData, size_t nLength, int nMilliseconds) override
    {
        return hid_read_timeout(static_cast<hid_device*>(h), pData, nLength, nMilliseconds);
    }
    void Close(Handle h) override { hid_close(static_cast<hid_device*>(h)); }
    void Sleep(uint32_t nMs) override { std::this_thread::sleep_for(std::chrono::milliseconds(nMs)); }
    uint64_t NowMs() override
    {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
    }

private:
    bool m_bInit;
};

class CHidapiLink final : public IHidLink {
public:
    static constexpr int kMaxDropped = 10000;

    CHidapiLink(std::shared_ptr<IHidapi> api, IHidapi::Handle h) : m_api(std::move(api)), m_handle(h) {}
    ~CHidapiLink() override { m_api->Close(m_handle); }

    bool Write(const uint8_t* pReport, uint32_t nTimeoutMs) override
    {
        if (!m_bConnected)
            return false;
        // Byte 0 is the report ID, as hidapi expects for numbered reports; all 64 bytes go out.
        const uint64_t start = m_api->NowMs();
        const int n = m_api->Write(m_handle, pReport, zelproto::kReportSize);
        if (n < 0) {
            m_bConnected = false;
            return false;
        }
        return n == static_cast<int>(zelproto::kReportSize) && m_api->NowMs() - start <= nTimeoutMs;
    }

    int Read(uint8_t* pReport, uint32_t nTimeoutMs) override
    {
        if (!m_bConnected)
            return -1;
        const uint64_t deadline = m_api->NowMs() + nTimeoutMs;
        uint8_t buffer[zelproto::kReportSize + 1];
        for (int dropped = 0; dropped < kMaxDropped; ++dropped) {
            const uint64_t now = m_api->NowMs();
            const int wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
            const int n = m_api->ReadTimeout(m_handle, buffer, sizeof buffer, wait);
            if (n < 0) {
                m_bConnected = false;
                return -1;
            }
            if (n == 0)
                return 0;
            // Numbered reports arrive with their ID first; anything else is not ours.
            const bool bOurs = n == static_cast<int>(zelproto::kReportSize) &&
                               (buffer[0] == zelproto::kReportIdCommand || buffer[0] == zelproto::kReportIdData);
            if (bOurs) {
                std::memcpy(pReport, buffer, zelproto::kReportSize);
                return 1;
            }
        }
        return 0;
    }

    bool IsConnected() override { return m_bConnected; }

private:
    std::shared_ptr<IHidapi> m_api;
    IHidapi::Handle m_handle;
    bool m_bConnected = true;
};

HidInterfaceInfo ToInterfaceInfo(const IHidapi::DeviceInfo& d)
{
    HidInterfaceInfo info;
    info.strPath = d.strPath;
    info.nVendorId = d.nVendorId;
    info.nProductId = d.nProductId;
    info.nUsagePage = d.nUsagePage;
    info.nUsage = d.nUsage;
    info.nInterface = d.nInterface;
    info.strProduct = WideToUtf16(d.strProduct);
    info.bHasProduct = !d.strProduct.empty();
    info.strSerialNumber = WideToUtf16(d.strSerialNumber);
    return info;
}

}  // namespace

std::unique_ptr<IHidapi> CreateSystemHidapi()
{
    return std::make_unique<CSystemHidapi>();
}

CHidapiTransport::CHidapiTransport(std::unique_ptr<IHidapi> api) : m_api(std::move(api)) {}

std::vector<HidInterfaceInfo> CHidapiTransport::Enumerate()
{
    std::vector<HidInterfaceInfo> infos;
    for (const IHidapi::DeviceInfo& d : m_api->Enumerate())
        infos.push_back(ToInterfaceInfo(d));
    return infos;
}

std::optional<HidInterfaceInfo> CHidapiTransport::Describe(const std::string& strPath)
{
    for (const IHidapi::DeviceInfo& d : m_api->Enumerate())
        if (EqualsIgnoreAsciiCase(d.strPath, strPath))
            return ToInterfaceInfo(d);
    return std::nullopt;
}

std::unique_ptr<IHidLink> CHidapiTransport::Open(const std::string& strPath, bool bJustArrived)
{
    // A node that has just arrived may not be accessible yet while the system sets its permissions.
    const uint32_t attempts = bJustArrived ? kOpenRetryMs / kOpenRetryStepMs : 1;
    for (uint32_t i = 0; i < attempts; ++i) {
        if (IHidapi::Handle h = m_api->Open(strPath))
            return std::make_unique<CHidapiLink>(m_api, h);
        if (i + 1 < attempts)
            m_api->Sleep(kOpenRetryStepMs);
    }
    return nullptr;
}

std::unique_ptr<IHidLink> CHidapiTransport::Reopen(const HidInterfaceInfo& was)
{
    // The product ID may change with the mode; the vendor, the usage and the serial number do not. A
    // device without a serial number is taken only when it is the one candidate.
    const uint64_t deadline = m_api->NowMs() + kReopenMs;
    for (;;) {
        std::vector<std::string> candidates;
        for (const IHidapi::DeviceInfo& d : m_api->Enumerate())
            if (d.nVendorId == was.nVendorId && d.nUsagePage == was.nUsagePage && d.nUsage == was.nUsage &&
                WideToUtf16(d.strSerialNumber) == was.strSerialNumber)
                candidates.push_back(d.strPath);
        if (candidates.size() == 1)
            if (std::unique_ptr<IHidLink> link = Open(candidates.front(), true))
                return link;
        if (m_api->NowMs() >= deadline)
            return nullptr;
        m_api->Sleep(kOpenRetryStepMs);
    }
}

std::string CHidapiTransport::LockFile(const HidInterfaceInfo& info, bool& bCreate)
{
    struct stat st {};
    bCreate = !info.strSerialNumber.empty() && ::stat(kLockDir, &st) == 0 && S_ISDIR(st.st_mode);
    if (!bCreate)
        return info.strPath;
    // Letters, digits, '-' and '.' as they are, any other byte in hex: one name per serial, none with a
    // path separator or a leading dot.
    char szVendor[8];
    std::snprintf(szVendor, sizeof szVendor, "%04x", info.nVendorId);
    std::string name = std::string(kLockDir) + "/quillon-" + szVendor + "-";
    for (const unsigned char c : Utf16ToUtf8(info.strSerialNumber)) {
        if (std::isalnum(c) || c == '-' || c == '.') {
            name += static_cast<char>(c);
        } else {
            char szHex[4];
            std::snprintf(szHex, sizeof szHex, "_%02x", c);
            name += szHex;
        }
    }
    return name + ".lock";
}
