// The emulator's command decoder: the fuzz bytes are the host's reports to an emulated device.
#include "FuzzDevices.h"

#include "emulator/EmulatedDevice.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize == 0)
        return 0;
    const DeviceDescription desc = fuzzdev::DeviceVariant(pData[0]);
    CEmulatedDevice device(desc, "");
    const uint64_t nLink = device.OpenLink();
    if (nLink == 0)
        std::abort();
    uint8_t answer[zelproto::kReportSize];
    auto drain = [&] {
        // Each answer moves the device's clock on; a device never answers without end.
        for (int i = 0; i < 5000; ++i)
            if (device.Read(nLink, answer, 1000) != 1)
                return;
        std::abort();
    };
    for (size_t nPos = 1; nSize - nPos >= fuzzdev::kCommandRecordSize; nPos += fuzzdev::kCommandRecordSize) {
        uint8_t report[zelproto::kReportSize];
        std::memcpy(report, pData + nPos + 1, zelproto::kReportSize);
        if (pData[nPos] & fuzzdev::kSealCommand)
            zelproto::SealCommand(report);
        if (device.Write(nLink, report) < 0)
            break;  // unplugged
        switch (pData[nPos] & 3) {
        case fuzzdev::kAfterPoll:
            device.Read(nLink, answer, 0);
            break;
        case fuzzdev::kAfterAwait:
            device.Read(nLink, answer, 5000);
            break;
        case fuzzdev::kAfterDrain:
            drain();
            break;
        default:
            break;
        }
    }
    drain();
    // The device ends in a mode the protocol knows.
    if (device.Mode() > zelproto::MODE_RECOVERY)
        std::abort();
    device.CloseLink(nLink);
    return 0;
}
