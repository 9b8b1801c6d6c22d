// The device as the host sees it: every report the device object reads is a fuzz byte record, and the
// host makes the calls of a download and an upload.
#include "FuzzDevices.h"

#include "config/FlashTable.h"

#include <cstdlib>
#include <memory>
#include <mutex>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize == 0)
        return 0;
    static int nTableParsed = 0;
    static _FLASH_INFO* const pTable = ParseFlashTableText(fuzzdev::kFlashTableText, nTableParsed);
    const uint8_t nOptions = pData[0];
    g_pFlashInfo = (nOptions & fuzzdev::kOptionFlashTable) ? pTable : nullptr;

    HidInterfaceInfo info;
    info.strPath = "/dev/hidraw-fuzz";
    info.nVendorId = 0x2fe3;
    info.nProductId = 0x1200;
    info.bHasProduct = true;
    info.strProduct = u"ZEL ZA1200 Audio";
    // Short timeouts: the scripted link never waits, but a deadline is still computed from them.
    ProtocolTimeouts timeouts;
    timeouts.nReportWriteMs = timeouts.nShortMs = timeouts.nModeSwitchMs = timeouts.nWriteMs = 5;
    timeouts.nReadMs = timeouts.nDataMs = timeouts.nAvailableMs = 5;
    CZelHidDevice device(
        info,
        std::make_unique<fuzzdev::CScriptedLink>(pData + 1, nSize - 1, (nOptions & fuzzdev::kOptionEndFails) != 0),
        std::make_shared<std::mutex>(), timeouts);
    fuzzdev::DriveDevice(device, (nOptions & fuzzdev::kOptionVerify) != 0);
    device.Close();
    g_pFlashInfo = nullptr;
    return 0;
}
