#include "emulator/hid/EmulatorTransport.h"

#include "device/zelhid/Utf.h"

#include <chrono>
#include <functional>

namespace {

class CEmulatorLink final : public IHidLink {
public:
    CEmulatorLink(std::shared_ptr<CEmulatedDevice> device, uint64_t nLink, std::function<bool()> present)
        : m_device(std::move(device)), m_nLink(nLink), m_present(std::move(present))
    {}
    ~CEmulatorLink() override { m_device->CloseLink(m_nLink); }

    bool Write(const uint8_t* pReport, uint32_t) override
    {
        return StillThere(false) && m_device->Write(m_nLink, pReport) == 1;
    }
    int Read(uint8_t* pReport, uint32_t nTimeoutMs) override
    {
        return StillThere(false) ? m_device->Read(m_nLink, pReport, nTimeoutMs) : -1;
    }
    bool IsConnected() override { return StillThere(true) && m_device->IsPlugged(); }

private:
    // A device whose file went away is unplugged even before anyone rescans the folder. Looking costs
    // a stat, so during transfers it is done at most every kCheckMs of real time.
    bool StillThere(bool bNow)
    {
        if (!m_present)
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (!bNow && now - m_lastCheck < std::chrono::milliseconds(kCheckMs))
            return true;
        m_lastCheck = now;
        return m_present();
    }

    static constexpr int kCheckMs = 100;
    std::shared_ptr<CEmulatedDevice> m_device;
    uint64_t m_nLink;
    std::function<bool()> m_present;
    std::chrono::steady_clock::time_point m_lastCheck = std::chrono::steady_clock::now();
};

}  // namespace

std::unique_ptr<IHidLink> OpenEmulatorLink(const std::shared_ptr<CEmulatedDevice>& device,
                                           std::function<bool()> present)
{
    if (!device)
        return nullptr;
    const uint64_t link = device->OpenLink();
    if (link == 0)
        return nullptr;
    return std::make_unique<CEmulatorLink>(device, link, std::move(present));
}

HidInterfaceInfo DescribeEmulatedDevice(const std::string& strPath, const CEmulatedDevice& device)
{
    const DeviceDescription& desc = device.Description();
    HidInterfaceInfo info;
    info.strPath = strPath;
    info.nVendorId = desc.nVendorId;
    info.nProductId = desc.nProductId;
    info.nUsagePage = static_cast<uint16_t>(desc.nUsage >> 16);
    info.nUsage = static_cast<uint16_t>(desc.nUsage);
    info.nInterface = 0;
    info.bHasProduct = desc.bHasProduct;
    info.strProduct = Utf8ToUtf16(desc.strProduct);
    info.strSerialNumber = Utf8ToUtf16(desc.strSerialNumber);
    return info;
}

CEmulatorTransport::CEmulatorTransport(const std::string& strSimDir) : m_folder(strSimDir) {}

std::vector<HidInterfaceInfo> CEmulatorTransport::Enumerate()
{
    std::vector<HidInterfaceInfo> infos;
    for (const auto& [path, device] : m_folder.Scan())
        infos.push_back(DescribeEmulatedDevice(path, *device));
    return infos;
}

std::optional<HidInterfaceInfo> CEmulatorTransport::Describe(const std::string& strPath)
{
    std::shared_ptr<CEmulatedDevice> device = m_folder.Find(strPath);
    if (!device)
        return std::nullopt;
    return DescribeEmulatedDevice(strPath, *device);
}

std::unique_ptr<IHidLink> CEmulatorTransport::Open(const std::string& strPath, bool)
{
    std::shared_ptr<CEmulatedDevice> device = m_folder.Find(strPath);
    std::weak_ptr<CEmulatedDevice> weak = device;
    // Present while the folder still holds this very device (not gone, not replugged as another).
    return OpenEmulatorLink(device, [this, strPath, weak] {
        const std::shared_ptr<CEmulatedDevice> mine = weak.lock();
        return mine && m_folder.Find(strPath) == mine;
    });
}
