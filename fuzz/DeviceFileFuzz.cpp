// The emulator's device files: JSON descriptions of a device. A file the parser accepts must make a
// device that boots and answers.
#include "device/zelhid/Protocol.h"
#include "emulator/DeviceFile.h"
#include "emulator/EmulatedDevice.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string json(reinterpret_cast<const char*>(pData), nSize);
    DeviceDescription desc;
    std::string error;
    if (!ParseDeviceFile(json, "fuzz", desc, error)) {
        if (error.empty())
            std::abort();  // a refusal always says why
        return 0;
    }
    if (desc.pChip == nullptr || desc.nFlagOffset + 2 > desc.pChip->nCapacity)
        std::abort();
    // In memory, unpaced, and without reading a file the description names.
    desc.timing.bRealTime = false;
    desc.strInitialImage.clear();
    CEmulatedDevice device(desc, "");
    const uint64_t nLink = device.OpenLink();
    if (nLink == 0)
        std::abort();
    uint8_t report[zelproto::kReportSize];
    zelproto::CommandHeader command;
    command.nSeq = 1;
    command.nCommand = zelproto::CMD_IDENTIFY;
    zelproto::EncodeCommand(report, command, nullptr, 0);
    if (device.Write(nLink, report) == 1) {
        zelproto::ResponseHeader response;
        if (device.Read(nLink, report, 1000) == 1 && !zelproto::DecodeResponse(report, response))
            std::abort();
    }
    device.CloseLink(nLink);
    return 0;
}
