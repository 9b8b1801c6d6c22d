#include "device/zelhid/EmulatorTransport.h"

#include "device/zelhid/Utf.h"

namespace {

class CEmulatorLink final : public IHidLink {
public:
    CEmulatorLink(std::shared_ptr<CEmulatedDevice> device, uint64_t nLink) : m_device(std::move(device)), m_nLink(nLink) {}
    ~CEmulatorLink() override { m_device->CloseLink(m_nLink); }

    bool Write(const uint8_t* pReport, uint32_t) override { return m_device->Write(m_nLink, pReport) == 1; }
    int Read(uint8_t* pReport, uint32_t nTimeoutMs) override { return m_device->Read(m_nLink, pReport, nTimeoutMs); }
    bool IsConnected() override { return m_device->IsPlugged(); }

private:
    std::shared_ptr<CEmulatedDevice> m_device;
    uint64_t m_nLink;
};

}  // namespace

std::unique_ptr<IHidLink> OpenEmulatorLink(const std::shared_ptr<CEmulatedDevice>& device)
{
    if (!device)
        return nullptr;
    const uint64_t link = device->OpenLink();
    if (link == 0)
        return nullptr;
    return std::make_unique<CEmulatorLink>(device, link);
}

HidInterfaceInfo DescribeEmulatedDevice(const std::string& strPath, const CEmulatedDevice& device)
{
    const DeviceSpec& spec = device.Spec();
    HidInterfaceInfo info;
    info.strPath = strPath;
    info.nVendorId = spec.nVendorId;
    info.nProductId = spec.nProductId;
    info.nUsagePage = static_cast<uint16_t>(spec.nUsage >> 16);
    info.nUsage = static_cast<uint16_t>(spec.nUsage);
    info.nInterface = 0;
    info.bHasProduct = spec.bHasProduct;
    info.strProduct = Utf8ToUtf16(spec.strProduct);
    info.strSerialNumber = Utf8ToUtf16(spec.strSerialNumber);
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
    return OpenEmulatorLink(m_folder.Find(strPath));
}
