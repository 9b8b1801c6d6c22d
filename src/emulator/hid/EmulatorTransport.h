// The transport over the emulator's device folder: every device file is one HID interface, its path
// the file's path; reports go to the emulated device in process.
#pragma once

#include "device/zelhid/HidTransport.h"
#include "emulator/SimFolder.h"

#include <functional>
#include <memory>
#include <string>

class CEmulatorTransport final : public IHidTransport {
public:
    explicit CEmulatorTransport(const std::string& strSimDir);

    std::vector<HidInterfaceInfo> Enumerate() override;
    std::optional<HidInterfaceInfo> Describe(const std::string& strPath) override;
    std::unique_ptr<IHidLink> Open(const std::string& strPath, bool bJustArrived) override;

    CSimFolder& Folder() { return m_folder; }

private:
    CSimFolder m_folder;
};

// A link to one emulated device (also used by tests that build devices without a folder). `present`,
// when given, says whether the device is still plugged in as far as its surroundings know.
std::unique_ptr<IHidLink> OpenEmulatorLink(const std::shared_ptr<CEmulatedDevice>& device,
                                           std::function<bool()> present = nullptr);
HidInterfaceInfo DescribeEmulatedDevice(const std::string& strPath, const CEmulatedDevice& device);
