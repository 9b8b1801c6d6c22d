// The device library's costs: (a) host CPU per byte written to an instant emulator; (b) the simulated
// time of a full 128 KB download at default timing against the physical minimum of link and chip; (c)
// with a device that reports its blocks' CRC32, the simulated time of downloading an image it already
// holds, and of one whose every block changes against the same device without the capability.
#include "device/ZelHidApi.h"
#include "device/zelhid/HidBackend.h"
#include "emulator/EmulatedDevice.h"
#include "emulator/hid/EmulatorTransport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kImageSize = 128 * 1024;
constexpr uint32_t kFlagOffset = 0x3000;

// One emulated device, in memory only, as the backend's only interface.
class CSingleDeviceTransport final : public IHidTransport {
public:
    explicit CSingleDeviceTransport(std::shared_ptr<CEmulatedDevice> device) : m_device(std::move(device)) {}
    std::vector<HidInterfaceInfo> Enumerate() override { return {DescribeEmulatedDevice("/emulated/0", *m_device)}; }
    std::optional<HidInterfaceInfo> Describe(const std::string&) override { return Enumerate()[0]; }
    std::unique_ptr<IHidLink> Open(const std::string&, bool) override { return OpenEmulatorLink(m_device); }

private:
    std::shared_ptr<CEmulatedDevice> m_device;
};

_FLASH_INFO Record(const FlashChipModel& chip)
{
    _FLASH_INFO r{};
    std::strncpy(r.szName, chip.pszName, sizeof r.szName - 1);
    r.byJedecId[1] = static_cast<uint8_t>(chip.nJedecId >> 16);
    r.byJedecId[2] = static_cast<uint8_t>(chip.nJedecId >> 8);
    r.byJedecId[3] = static_cast<uint8_t>(chip.nJedecId);
    const uint32_t kb = chip.nCapacity / 1024;
    r.byCapacityKb[0] = static_cast<uint8_t>(kb >> 8);
    r.byCapacityKb[1] = static_cast<uint8_t>(kb);
    r.bySectorSize[0] = 0x10;
    r.byAddressBytes = 3;
    const uint8_t opcodes[18] = {0x06, 0x04, 0x05, 0x01, 0x03, 0x0B, 0x02, 0x20, 0x52,
                                 0xD8, 0xC7, 0x9F, 0xB9, 0xAB, 0x90, 0x35, 0x50, 0x00};
    std::memcpy(r.byOpcodes, opcodes, sizeof opcodes);
    return r;
}

// A device of the example family with the given chip, the library's tables, and the device object
// in DFU mode with its flash identified.
struct Rig {
    explicit Rig(const char* chipName, bool bFlashCrc = false)
    {
        DeviceDescription desc;
        desc.strProduct = "Bench";
        desc.nVendorId = 0x2fe3;
        desc.nProductId = 0x1200;
        desc.nVersion = 0x0105;
        desc.nSubVersion = 0x12000134;
        desc.nChipsetType = 0x0001;
        desc.pChip = FindFlashChipByName(chipName);
        desc.bFlashCrc = bFlashCrc;
        desc.strFlashFile.clear();
        device = std::make_shared<CEmulatedDevice>(desc, "");
        known = {{0x2fe3, 0x1200, 0xff000001}, {0, 0, 0}};
        flash = {Record(*desc.pChip), _FLASH_INFO{}};
        g_pKnownIDs_NormalMode = known.data();
        g_pFlashInfo = flash.data();
        backend = std::make_unique<CHidBackend>(std::make_unique<CSingleDeviceTransport>(device));
        const ZEL_USB_DEVICE_ARRAY* a = backend->Enumerate(true, nullptr);
        object = a && a->nCount ? a->ppDevices[0] : nullptr;
        bReady = object && object->SwitchToDfuMode() && object->DetectFlash();
        image.resize(kImageSize);
        uint32_t s = 12345;
        for (uint8_t& b : image) {
            s = s * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(s >> 24);
        }
        image[kFlagOffset] = image[kFlagOffset + 1] = 0xAA;
    }
    ~Rig()
    {
        backend.reset();
        g_pKnownIDs_NormalMode = nullptr;
        g_pFlashInfo = nullptr;
    }

    // The download as the program runs it: flag word cleared, 32 blocks, flag word set.
    bool Download(bool bVerify)
    {
        static const uint8_t erased[2] = {0xFF, 0xFF}, flag[2] = {0xAA, 0xAA};
        image[kFlagOffset] = image[kFlagOffset + 1] = 0xFF;
        bool ok = object->WriteFlash(kFlagOffset, 2, erased, bVerify);
        const int64_t blocksStart = device->NowUs();
        for (uint32_t offset = 0; ok && offset < kImageSize; offset += 4096)
            ok = object->WriteFlash(offset, 4096, image.data() + offset, bVerify);
        blocksMs = static_cast<double>(device->NowUs() - blocksStart) / 1000.0;
        image[kFlagOffset] = image[kFlagOffset + 1] = 0xAA;
        return ok && object->WriteFlashFlag(kFlagOffset, 2, flag, bVerify);
    }

    std::shared_ptr<CEmulatedDevice> device;
    std::vector<_ZEL_USB_DEV_ID_INFO> known;
    std::vector<_FLASH_INFO> flash;
    std::unique_ptr<CHidBackend> backend;
    CZelUsbDevice* object = nullptr;
    bool bReady = false;
    std::vector<uint8_t> image;
    double blocksMs = 0;  // simulated time of the 32 block writes of the last download
};

// Simulated milliseconds of one download by the rig, or a negative value when it failed.
double TimedDownload(Rig& rig)
{
    const int64_t start = rig.device->NowUs();
    return rig.Download(true) ? static_cast<double>(rig.device->NowUs() - start) / 1000.0 : -1.0;
}

// (a) CPU cost of the host side (and of the instant emulator it drives) per byte written.
void BM_HostWrite128K(benchmark::State& state)
{
    Rig rig("W25Q80DV");
    if (!rig.bReady) {
        state.SkipWithError("the device did not enter DFU mode");
        return;
    }
    const bool bVerify = state.range(0) != 0;
    for (auto _ : state)
        if (!rig.Download(bVerify)) {
            state.SkipWithError("a write failed");
            break;
        }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageSize);
    state.SetLabel(bVerify ? "verify" : "no verify");
}
BENCHMARK(BM_HostWrite128K)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// (b) Simulated time of the download against the physical minimum: the larger of the raw link time
// (every byte in 64-byte reports, one report per interval) and the chip's own erase and program time
// for the 32 sectors.
void BM_SimulatedDownload(benchmark::State& state)
{
    const char* chips[] = {"W25Q80DV", "MX25L1606E", "GD25Q32C", "W25Q16JV"};
    const char* chip = chips[state.range(0)];
    double simulatedMs = 0, minimumMs = 0;
    for (auto _ : state) {
        Rig rig(chip);
        if (!rig.bReady) {
            state.SkipWithError("the device did not enter DFU mode");
            return;
        }
        const int64_t start = rig.device->NowUs();
        if (!rig.Download(true)) {
            state.SkipWithError("a write failed");
            return;
        }
        simulatedMs = static_cast<double>(rig.device->NowUs() - start) / 1000.0;
        const FlashChipModel& desc = *FindFlashChipByName(chip);
        const double linkMs = (kImageSize + 4) / 64.0 * 1.0;
        const double chipMs = (32.0 * desc.nSectorEraseUs + (kImageSize / 256.0) * desc.nPageProgramUs) / 1000.0;
        minimumMs = std::max(linkMs, chipMs);
    }
    state.counters["simulated_ms"] = simulatedMs;
    state.counters["minimum_ms"] = minimumMs;
    state.counters["ratio"] = simulatedMs / minimumMs;
    state.SetLabel(chip);
}
BENCHMARK(BM_SimulatedDownload)->DenseRange(0, 3)->Iterations(1)->Unit(benchmark::kMillisecond);

// (c) Only the blocks that changed. The same image again, in a new DFU session of a device with the
// capability: the blocks' time (the goal: at most 150 ms) and the whole download's. And a download whose
// every block changes, with and without the capability (the goal: at most 2 % more).
void BM_SimulatedReflash(benchmark::State& state)
{
    double identicalBlocksMs = 0, identicalMs = 0, changedCrcMs = 0, changedPlainMs = 0;
    for (auto _ : state) {
        Rig plain("W25Q80DV", false), capable("W25Q80DV", true);
        if (!plain.bReady || !capable.bReady) {
            state.SkipWithError("the device did not enter DFU mode");
            return;
        }
        changedPlainMs = TimedDownload(plain);
        changedCrcMs = TimedDownload(capable);
        if (!capable.object->SwitchToDfuMode() || !capable.object->DetectFlash()) {
            state.SkipWithError("the device did not enter DFU mode again");
            return;
        }
        identicalMs = TimedDownload(capable);
        identicalBlocksMs = capable.blocksMs;
        if (changedPlainMs < 0 || changedCrcMs < 0 || identicalMs < 0) {
            state.SkipWithError("a write failed");
            return;
        }
    }
    state.counters["identical_blocks_ms"] = identicalBlocksMs;
    state.counters["identical_ms"] = identicalMs;
    state.counters["changed_ms"] = changedCrcMs;
    state.counters["changed_without_ms"] = changedPlainMs;
    state.counters["changed_overhead_pct"] = (changedCrcMs / changedPlainMs - 1.0) * 100.0;
}
BENCHMARK(BM_SimulatedReflash)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
