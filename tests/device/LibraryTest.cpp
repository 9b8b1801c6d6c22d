// Every call of the library, through the report protocol, against the emulated example devices.
#include "LibraryFixture.h"
#include "device/ZelHidApi.h"
#include "support/ExampleDevices.h"

#include <algorithm>

namespace {

TEST_F(LibraryTest, EnumeratesTheExampleDevicesWithTheirIdentities)
{
    const ZEL_USB_DEVICE_ARRAY* a = EnumZelUsbDevices(true, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->nCount, 4u);
    // The rest of each identity, through quillon-cli: CliE2e.ListShowsEachDeviceAsTheWindowShowsItAndInfoChoosesOne.
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(a->ppDevices[i]->GetDefaultSerialNumberAddr(), kExampleDevices[i].nSerialAddr) << i;
        EXPECT_TRUE(a->ppDevices[i]->IsHidDfuSupported()) << i << ": re-flashable, the ZA2400 in recovery too";
    }
    // Enumeration keeps the objects and rereads their identity.
    std::vector<CZelUsbDevice*> first(a->ppDevices, a->ppDevices + a->nCount);
    a = EnumZelUsbDevices(false, nullptr);
    EXPECT_EQ(std::vector<CZelUsbDevice*>(a->ppDevices, a->ppDevices + a->nCount), first) << "no rescan: last result";
    a = EnumZelUsbDevices(true, nullptr);
    EXPECT_EQ(std::vector<CZelUsbDevice*>(a->ppDevices, a->ppDevices + a->nCount), first) << "the same devices";
    a = EnumZelUsbDevices(true, Path16("za4800.json").c_str());
    ASSERT_EQ(a->nCount, 1u);
    EXPECT_EQ(a->ppDevices[0], first[3]);
}

// Leaving DFU mode before the flag word is set again lands in recovery, and the call fails saying so.
// (A device that boots into recovery is the ZA2400 example; the whole protocol bringing such a device
// back is every campaign run's that starts from a cleared flag word.)
TEST_F(LibraryTest, LeavingDfuModeBeforeTheFlagIsSetLandsInRecovery)
{
    CZelUsbDevice* d = Device("za1200.json");
    ASSERT_TRUE(EnterDfu(d));
    const uint8_t erased[2] = {0xFF, 0xFF};
    ASSERT_TRUE(d->WriteFlash(0x3000, 2, erased, true));
    EXPECT_FALSE(d->SwitchToNormalMode());
    EXPECT_EQ(ZelUsbDeviceLastError(d), "leave DFU: the device reports mode 3 (recovery)");
    EXPECT_EQ(d->GetVersion(), 0);
}

TEST_F(LibraryTest, PatchEntryChecksThePatch)
{
    CZelUsbDevice* d = Device("za4800.json");
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(d->SwitchToDfuMode()) << "no boot loader";
    const std::vector<uint8_t> other = simtest::BuiltPatch("ZA1200");
    EXPECT_FALSE(d->LoadDfuPatch(other.data(), static_cast<uint32_t>(other.size()))) << "another controller's patch";
    EXPECT_FALSE(d->LoadDfuPatch(nullptr, 10));
    std::vector<uint8_t> patch = simtest::BuiltPatch("ZA4800");
    ASSERT_FALSE(patch.empty());
    EXPECT_FALSE(d->LoadDfuPatch(patch.data(), 0));
    patch[patch.size() / 2] ^= 0x40;
    EXPECT_FALSE(d->LoadDfuPatch(patch.data(), static_cast<uint32_t>(patch.size())));
    EXPECT_EQ(ZelUsbDeviceLastError(d), "load patch: patch damaged");
    patch[patch.size() / 2] ^= 0x40;
    // Reads in the patch's DFU mode; a download through it and the way back to normal mode are the
    // campaign's (ExhaustiveSingleCut, ThroughThePatch).
    EXPECT_TRUE(d->LoadDfuPatch(patch.data(), static_cast<uint32_t>(patch.size())));
    EXPECT_TRUE(d->DetectFlash());
    EXPECT_EQ(ReadAll(d, 0, 16).size(), 16u);

    // The device needs its DFU patch record (with it: EnumeratesTheExampleDevicesWithTheirIdentities); one
    // for another codec of the same controller does not match.
    _ZEL_USB_DEV_INFO otherCodec[2] = {{0x2fe4, 0x4800, 0x0100, 0x48000000, {0x03, 0x82}, {}}, {}};
    g_pKnownDfuPatchInfos = otherCodec;
    EXPECT_FALSE(d->IsHidDfuSupported());
}

TEST_F(LibraryTest, DetectFlashNeedsTheChipInTheTable)
{
    CZelUsbDevice* d = Device("za1200.json");
    ASSERT_TRUE(d->SwitchToDfuMode());
    g_pFlashInfo = nullptr;
    EXPECT_FALSE(d->DetectFlash()) << "no table";
    // Transfers work without a table.
    const std::vector<uint8_t> block = simtest::Pattern(4096, 4);
    ASSERT_TRUE(d->WriteFlash(0x8000, 4096, block.data(), true));
    EXPECT_EQ(ReadAll(d, 0x8000, 4096), block);
    std::vector<_FLASH_INFO> others = {simtest::CTestTables::Chip("Other", 0xC22015, 0x0800), _FLASH_INFO{}};
    g_pFlashInfo = others.data();
    EXPECT_FALSE(d->DetectFlash()) << "W25Q80DV is not in this table";
}

// Writes of every shape keep every byte outside their range (the result is compared with a model), and
// reads of every shape deliver what the flash has.
TEST_F(LibraryTest, WritesAndReadsOfEveryShape)
{
    CZelUsbDevice* d = Device("za1200.json");
    ASSERT_TRUE(EnterDfu(d));
    const uint32_t span = 0x40000;
    std::vector<uint8_t> model = ReadAll(d, 0, span);
    ASSERT_EQ(model.size(), span);
    struct Case {
        uint32_t offset, length;
    };
    const Case cases[] = {
        {0x5000, 2048},  // the last short block of an image
        {0x0FF0, 0x20},  // across a sector boundary
    };
    uint32_t seed = 10;
    for (const Case& c : cases) {
        const std::vector<uint8_t> data = simtest::Pattern(c.length, seed++);
        ASSERT_TRUE(d->WriteFlash(c.offset, c.length, data.data(), true)) << c.offset;
        std::copy(data.begin(), data.end(), model.begin() + c.offset);
        EXPECT_EQ(ReadAll(d, 0, span), model) << "after the write at " << c.offset;
    }

    // Reads deliver what the flash has, never beyond the capacity given.
    const std::vector<uint8_t> flash = Emulated("za1200.json")->FlashContents();
    struct Read {
        uint32_t offset, capacity, delivered;
    };
    const uint32_t size = 1024 * 1024;
    const Read reads[] = {
        {0, 44, 44},                // exactly the response's own payload
        {0x100, 106, 106},          // response plus one full data report
        {size - 1000, 4096, 1000},  // the flash ends first
        {size, 4096, 0},            // nothing left
        {0x20000, 100000, 100000},  // more than one transfer
        {0, 0, 0},
    };
    for (const Read& c : reads) {
        std::vector<uint8_t> buffer(c.capacity + 8, 0xEE);
        uint32_t n = c.capacity;
        ASSERT_TRUE(d->ReadFlash(c.offset, n, buffer.data())) << c.offset << "+" << c.capacity;
        ASSERT_EQ(n, c.delivered) << c.offset << "+" << c.capacity;
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + n, flash.begin() + c.offset));
        EXPECT_EQ(buffer[c.capacity], 0xEE) << "never beyond the capacity";
    }
    uint32_t n = 16;
    EXPECT_FALSE(d->ReadFlash(0, n, nullptr));
    EXPECT_EQ(n, 0u);
}

// Transfers need DFU mode; writes outside the flash fail; a flag write programs without erase.
TEST_F(LibraryTest, TransferLimitsAndTheFlagWrite)
{
    CZelUsbDevice* d = Device("za1200.json");
    const std::vector<uint8_t> data(16, 0x11);
    EXPECT_FALSE(d->WriteFlash(0x1000, 4, data.data(), true));
    EXPECT_TRUE(d->IsDeviceAvailable());
    ASSERT_TRUE(EnterDfu(d));
    const uint32_t capacity = 1024 * 1024;
    EXPECT_TRUE(d->WriteFlash(capacity - 16, 16, data.data(), true));
    EXPECT_FALSE(d->WriteFlash(capacity - 8, 16, data.data(), true));
    EXPECT_FALSE(d->WriteFlash(0xFFFFFFF8u, 16, data.data(), true)) << "offset and length wrap";
    EXPECT_FALSE(d->WriteFlash(0, 16, nullptr, true));
    EXPECT_TRUE(d->WriteFlash(0, 0, nullptr, true)) << "nothing to write";

    // A flag write whose bits would need an erase is refused and changes nothing. (That it programs
    // without an erase is every download's: Campaign, FaultTest.UnchangedBlocksAreSkippedOnlyWithTheCrcCapability.)
    const uint8_t erased[2] = {0xFF, 0xFF}, flag[2] = {0xAA, 0xAA}, other[2] = {0x55, 0x55};
    ASSERT_TRUE(d->WriteFlash(0x3000, 2, erased, true));
    ASSERT_TRUE(d->WriteFlashFlag(0x3000, 2, flag, true));
    const std::vector<uint8_t> expected = ReadAll(d, 0x3000, 4096);
    EXPECT_FALSE(d->WriteFlashFlag(0x3000, 2, other, true));
    EXPECT_EQ(ReadAll(d, 0x3000, 4096), expected);
}

TEST_F(LibraryTest, ReleaseByPathClosesEveryObjectOfThePath)
{
    ReleaseZelUsbDevice(u"/no/such/path.json");  // unheld: no error
    ReleaseZelUsbDevice(static_cast<CZelUsbDevice*>(nullptr));
    CZelUsbDevice* listed = Device("za1200.json");
    CZelUsbDevice* second = AddZelUsbDevice(Path16("za1200.json").c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, listed) << "an arrival hands out a new object";
    EXPECT_EQ(backend->LiveCount(), 5u);

    // The notice's path may differ in letter case.
    std::u16string upper = Path16("za1200.json");
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; });
    ReleaseZelUsbDevice(upper.c_str());
    EXPECT_EQ(backend->LiveCount(), 3u);
    EXPECT_EQ(backend->RetiredCount(), 2u) << "kept, not freed";
    for (CZelUsbDevice* d : {listed, second}) {
        EXPECT_FALSE(d->IsDeviceAvailable());
        EXPECT_FALSE(d->SwitchToDfuMode());
        EXPECT_FALSE(d->DetectFlash());
        uint8_t data[2] = {0xAA, 0xAA};
        EXPECT_FALSE(d->WriteFlash(0, 2, data, false));
        uint32_t n = 2;
        EXPECT_FALSE(d->ReadFlash(0, n, data));
        EXPECT_EQ(d->GetVendorID(), 0x2fe3) << "identity stays readable";
        EXPECT_EQ(std::u16string(d->GetDevicePath()), Path16("za1200.json"));
    }
    ReleaseZelUsbDevice(listed);  // already released: nothing happens
    ReleaseZelUsbDevice(Path16("za1200.json").c_str());
    EXPECT_EQ(backend->RetiredCount(), 2u);

    // The device itself is still there: the next enumeration hands out a fresh object.
    CZelUsbDevice* again = Device("za1200.json");
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->IsDeviceAvailable());
    ReleaseZelUsbDevices();
    EXPECT_EQ(backend->LiveCount(), 0u);
    EXPECT_EQ(backend->RetiredCount(), 0u);
}

TEST_F(LibraryTest, ArrivalAndRemovalOfFiles)
{
    // A served device file's arrival hands out its object: CliE2e.WatchTracesDevicesThatComeAndGo.
    EXPECT_EQ(AddZelUsbDevice(Path16("new.json").c_str()), nullptr) << "no such file";
    dir.WriteVariant("za1200.json", "alien.json", {{"vendorId", "0x1234"}});
    EXPECT_EQ(AddZelUsbDevice(Path16("alien.json").c_str()), nullptr) << "not served";
    CZelUsbDevice* d = Device("za1200.json");
    dir.Remove("za1200.json");
    EXPECT_FALSE(d->IsDeviceAvailable()) << "its device is gone, before any rescan";
    const uint8_t data[2] = {0, 0};
    EXPECT_FALSE(d->WriteFlash(0, 2, data, false));
    EXPECT_EQ(EnumZelUsbDevices(true, nullptr)->nCount, 3u) << "za1200.json is gone, alien.json not served";

    dir.WriteVariant("za1200.json", "anon.json", {{"product", nullptr}});
    d = Device("anon.json");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->GetProductString(), nullptr) << "a device without a product string";
    dir.WriteVariant("za1200.json", "mute.json", {{"faults", {{"dropResponses", {1}}}}});
    EXPECT_EQ(AddZelUsbDevice(Path16("mute.json").c_str()), nullptr) << "its identification unanswered";
    g_pKnownIDs_NormalMode = nullptr;
    EXPECT_EQ(AddZelUsbDevice(Path16("anon.json").c_str()), nullptr) << "no table: nothing is served";
}

}  // namespace
