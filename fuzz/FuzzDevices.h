// What the device targets share with the seed maker: the emulated device a host report stream is
// played against, the scripted link whose answers are the fuzz bytes, and the host's calls.
#pragma once

#include "device/ZelHidApi.h"
#include "device/zelhid/HidTransport.h"
#include "device/zelhid/Protocol.h"
#include "device/zelhid/ZelHidDevice.h"
#include "emulator/DeviceFile.h"
#include "emulator/DfuPatch.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace fuzzdev {

// ---- The emulator's input: host reports ------------------------------------------------------------
//
// Byte 0 chooses the device (DeviceVariant); then records of 1 + 64 bytes: what the host does after
// sending the report (kAfter*), and the report. At the end every answer still due is collected.
constexpr size_t kCommandRecordSize = 1 + zelproto::kReportSize;
enum AfterWrite : uint8_t {
    kAfterNothing = 0,
    kAfterPoll = 1,   // one read of what is already waiting
    kAfterAwait = 2,  // one read with the answer timeout
    kAfterDrain = 3,  // reads until nothing more comes
};
// Bit 2 of the record's first byte: the report's check is set before it is sent, so that mutated
// commands reach the device's decoder instead of failing their check.
constexpr uint8_t kSealCommand = 4;

// Device choice bits: 0-1 chip, 2 boot loader and FLASH_CRC, 3-4 initial flash, 5 HID DFU, 6 faults, 7 unplug.
inline DeviceDescription DeviceVariant(uint8_t nChoice)
{
    // The smallest chips (512 KB): a device is made for every input.
    static const char* const kChips[] = {"W25X40CL", "W25Q40BV", "GD25Q40C", "MX25L4006E"};
    DeviceDescription desc;
    desc.strProduct = "ZEL ZA1200 Audio";
    desc.strSerialNumber = "ZA1200-000134";
    desc.nVendorId = 0x2fe3;
    desc.nProductId = 0x1200;
    desc.nVersion = 0x0105;
    desc.nSubVersion = 0x12000134;
    desc.nChipsetType = 0x0001;
    desc.nDefaultSerialAddr = 0x4000;
    desc.nControllerIndex = 0;
    desc.strControllerName = "ZA1200";
    desc.pChip = FindFlashChipByName(kChips[nChoice & 3]);
    desc.bBootLoader = (nChoice & 0x04) == 0;
    desc.bFlashCrc = desc.bBootLoader;  // FLASH_CRC answered by half the devices
    switch ((nChoice >> 3) & 3) {
    case 1:
        desc.initialFlash = InitialFlash::Interrupted;
        break;
    case 2:
        desc.initialFlash = InitialFlash::Erased;
        break;
    default:
        desc.initialFlash = InitialFlash::Firmware;
        break;
    }
    desc.bHidDfu = (nChoice & 0x20) == 0;
    if (nChoice & 0x40) {
        desc.faults.failWrites = {2};
        desc.faults.corruptWrites = {3};
        desc.faults.timeoutWrites = {4};
        desc.faults.corruptReads = {1};
        desc.faults.timeoutReads = {2};
        desc.faults.nRefuseDfu = 1;
        desc.faults.nFlashIdFails = 1;
    }
    if (nChoice & 0x80)
        desc.faults.nUnplugAfterReports = 150;
    return desc;
}

// ---- The host's input: device reports ----------------------------------------------------------------
//
// Byte 0 sets the host's options (kOption*); then records of 1 + 64 bytes: how the report comes
// (kReport*) and the report, handed out in order to the host's reads.
constexpr size_t kResponseRecordSize = 1 + zelproto::kReportSize;
enum HostOption : uint8_t {
    kOptionFlashTable = 0x01,  // the flash chip table is loaded
    kOptionVerify = 0x02,      // writes are verified
    kOptionEndFails = 0x04,    // past the last report the link fails instead of staying silent
};
enum ReportFlag : uint8_t {
    kReportWaiting = 0x01,    // already waiting: a read that does not wait gets it too
    kReportLinkFails = 0x02,  // the link fails here instead
};

// Hands out the fuzz bytes as the device's reports.
class CScriptedLink final : public IHidLink {
public:
    CScriptedLink(const uint8_t* pData, size_t nSize, bool bEndFails)
        : m_pData(pData), m_nSize(nSize), m_bEndFails(bEndFails)
    {}
    bool Write(const uint8_t*, uint32_t) override { return m_bConnected; }
    int Read(uint8_t* pReport, uint32_t nTimeoutMs) override
    {
        if (!m_bConnected)
            return -1;
        if (m_nSize - m_nPos < kResponseRecordSize) {
            if (m_bEndFails)
                m_bConnected = false;
            return m_bEndFails ? -1 : 0;
        }
        const uint8_t nFlags = m_pData[m_nPos];
        if (nFlags & kReportLinkFails) {
            m_bConnected = false;
            return -1;
        }
        if (nTimeoutMs == 0 && !(nFlags & kReportWaiting))
            return 0;
        std::memcpy(pReport, m_pData + m_nPos + 1, zelproto::kReportSize);
        m_nPos += kResponseRecordSize;
        return 1;
    }
    bool IsConnected() override { return m_bConnected; }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nPos = 0;
    bool m_bEndFails;
    bool m_bConnected = true;
};

// A flash chip table of the chips DeviceVariant fits, in the loader's text form.
constexpr const char* kFlashTableText =
    "Chip table\n"
    "Winbond W25X40CL, 0xEF3013, 0x0200, 0x1000, 0x03, 0x06, 0x04, 0x05, 0x01, 0x03, 0x0B, 0x02, 0x20, 0x52, 0xD8, "
    "0xC7, 0x9F, 0xB9, 0xAB, 0x90, 0x35, 0x50, 0x00\n"
    "Winbond W25Q40BV, 0xEF4013, 0x0200, 0x1000, 0x03, 0x06, 0x04, 0x05, 0x01, 0x03, 0x0B, 0x02, 0x20, 0x52, 0xD8, "
    "0xC7, 0x9F, 0xB9, 0xAB, 0x90, 0x35, 0x50, 0x00\n"
    "GigaDevice GD25Q40C, 0xC84013, 0x0200, 0x1000, 0x03, 0x06, 0x04, 0x05, 0x01, 0x03, 0x0B, 0x02, 0x20, 0x52, "
    "0xD8, 0xC7, 0x9F, 0xB9, 0xAB, 0x90, 0x35, 0x50, 0x00\n"
    "Macronix MX25L4006E, 0xC22013, 0x0200, 0x1000, 0x03, 0x06, 0x04, 0x05, 0x01, 0x03, 0x0B, 0x02, 0x20, 0x52, "
    "0xD8, 0xC7, 0x9F, 0xB9, 0xAB, 0x90, 0x35, 0x50, 0x00\n";

// What the host does with a device, call by call, the way the flows do. Aborts when the device object
// breaks a promise of its contract, whatever the device answered.
inline void DriveDevice(CZelHidDevice& device, bool bVerify)
{
    device.Identify();
    device.GetVendorID();
    device.GetProductID();
    device.GetVersion();
    device.GetSubVersion();
    device.GetChipsetType();
    device.GetProductString();
    if (device.GetDevicePath() == nullptr)
        __builtin_trap();
    device.IsHidDfuSupported();
    device.IsHidDfuBootLoaderSupported();
    device.IsDeviceAvailable();
    device.GetDefaultSerialNumberAddr();

    device.SwitchToDfuMode();
    const std::vector<uint8_t> patch = BuildDfuPatch(0, "ZA1200", std::vector<uint8_t>(200, 0x5a));
    device.LoadDfuPatch(patch.data(), static_cast<uint32_t>(patch.size()));
    if (g_pFlashInfo)
        device.DetectFlash();

    // A write across a sector boundary, then the flag word.
    std::vector<uint8_t> block(0x200);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 7 + 1);
    if (!device.WriteFlash(0x0F80, static_cast<uint32_t>(block.size()), block.data(), bVerify))
        device.IsFlashRedetectNeeded();
    // Whole 4 KB blocks: a device that reports the CRC capability is asked for its pieces' CRC32s first.
    // Every failed call says why.
    static const std::vector<uint8_t> whole(4096, 0x3c);
    for (uint32_t offset : {0x1000u, 0x2000u})
        if (!device.WriteFlash(offset, 4096, whole.data(), bVerify) && device.LastError().empty())
            __builtin_trap();
    const uint8_t flag[2] = {0xAA, 0xAA};
    device.WriteFlashFlag(0x3000, 2, flag, bVerify);

    // A read of more than one transfer; never more delivered than asked for (the buffer is exactly
    // the capacity, so that a write past it is seen).
    const uint32_t nCapacity = 70000;
    static std::vector<uint8_t> buffer(nCapacity);
    uint32_t nLength = nCapacity;
    if (device.ReadFlash(0, nLength, buffer.data())) {
        if (nLength > nCapacity)
            __builtin_trap();
    } else {
        if (nLength != 0)
            __builtin_trap();
        device.IsFlashRedetectNeeded();
    }
    device.SwitchToNormalMode();
    device.GetVersion();
    device.IsDeviceAvailable();
}

}  // namespace fuzzdev
