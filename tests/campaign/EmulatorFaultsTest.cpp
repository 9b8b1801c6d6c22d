// The emulator's faults that the campaign relies on, seen through the device library: a power cut
// before, during or after a chosen flash operation, dropped and bit-flipped reports, and a device
// plugged in again.
#include "device/zelhid/ZelHidDevice.h"
#include "emulator/EmulatedDevice.h"
#include "emulator/hid/EmulatorTransport.h"
#include "support/CliRunner.h"

#include <gtest/gtest.h>

#include <functional>

using namespace zelproto;

namespace {

constexpr uint32_t kSector = 0x5000;

std::unique_ptr<CZelHidDevice> Connect(const std::shared_ptr<CEmulatedDevice>& device)
{
    auto host = std::make_unique<CZelHidDevice>(DescribeEmulatedDevice("/sim/za1200.json", *device),
                                                OpenEmulatorLink(device), std::make_shared<std::mutex>());
    EXPECT_TRUE(host->Identify());
    return host;
}

// The example ZA1200 plugged in again with the given faults, and a library object talking to it.
struct Plugged {
    std::shared_ptr<CEmulatedDevice> device;
    std::unique_ptr<CZelHidDevice> host;
};

Plugged PlugWith(const FaultPlan& faults)
{
    DeviceDescription desc;
    std::string error;
    EXPECT_TRUE(ParseDeviceFile(ReadFileText(QUILLON_SOURCE_DIR "/examples/sim/za1200.json"), "za1200", desc, error))
        << error;
    desc.strFlashFile.clear();
    Plugged p{std::make_shared<CEmulatedDevice>(desc, std::string()), nullptr};
    p.device->Unplug();
    EXPECT_TRUE(p.device->Replug(faults));
    p.host = Connect(p.device);
    return p;
}

}  // namespace

TEST(EmulatorReplug, BootsFromTheFlashAsLeftAndOldLinksStayDead)
{
    Plugged p = PlugWith({});
    EXPECT_EQ(p.device->Mode(), MODE_NORMAL);
    EXPECT_FALSE(p.device->Replug({})) << "still plugged in";

    std::vector<uint8_t> flash = p.device->FlashContents();
    p.device->SetFlashContents(0x3000, {0xFF, 0xFF});
    p.device->Unplug();
    ASSERT_TRUE(p.device->Replug({}));
    EXPECT_EQ(p.device->Mode(), MODE_RECOVERY) << "a cleared flag word boots into recovery";
    EXPECT_FALSE(p.host->IsDeviceAvailable()) << "a link from before the unplug never works again";
    EXPECT_TRUE(Connect(p.device)->IsDeviceAvailable());
    flash[0x3000] = flash[0x3001] = 0xFF;
    EXPECT_EQ(p.device->FlashContents(), flash);
}

// The first flash operation of a whole-sector write is the sector's erase, the second the program of its
// first page. Each row: what the sector's first page and the rest hold after the cut ('o' old, 'e' erased,
// 'z' the zeros written, 't' torn: none of these), the whole sector at once when both say the same.
TEST(EmulatorFlashOpCut, LeavesTheRangeAsThePhaseSays)
{
    const std::vector<uint8_t> zeros(4096, 0x00);
    const struct {
        uint32_t nOp;
        FlashCutPhase phase;
        char page0, rest;
    } rows[] = {
        {1, FlashCutPhase::Before, 'o', 'o'}, {1, FlashCutPhase::During, 't', 't'}, {1, FlashCutPhase::After, 'e', 'e'},
        {2, FlashCutPhase::Before, 'e', 'e'}, {2, FlashCutPhase::During, 't', 'e'}, {2, FlashCutPhase::After, 'z', 'e'},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.nOp) + " " + std::to_string(static_cast<int>(row.phase)));
        FaultPlan faults;
        faults.nUnplugAtFlashOp = row.nOp;
        faults.unplugFlashOpPhase = row.phase;
        Plugged p = PlugWith(faults);
        const std::vector<uint8_t> old = p.device->FlashContents();
        ASSERT_TRUE(p.host->SwitchToDfuMode());
        EXPECT_FALSE(p.host->WriteFlash(kSector, 4096, zeros.data(), false));
        EXPECT_FALSE(p.device->IsPlugged());

        const std::vector<uint8_t> now = p.device->FlashContents();
        auto expect = [&](char state, uint32_t nFrom, uint32_t nTo) {
            const std::vector<uint8_t> was(old.begin() + nFrom, old.begin() + nTo),
                is(now.begin() + nFrom, now.begin() + nTo);
            const std::vector<uint8_t> erased(nTo - nFrom, 0xFF), written(nTo - nFrom, 0x00);
            if (state == 't')
                EXPECT_TRUE(is != was && is != erased && is != written) << nFrom;
            else
                EXPECT_EQ(is, state == 'o' ? was : state == 'e' ? erased : written) << nFrom;
        };
        if (row.page0 == row.rest) {
            expect(row.page0, kSector, kSector + 4096);
        } else {
            expect(row.page0, kSector, kSector + 256);
            expect(row.rest, kSector + 256, kSector + 4096);
        }
    }
}

// Response 1 answers the identification; the two availability probes get responses 2 and 3. A dropped
// response, a response with a bit flipped (it fails its check) and a command whose bit flipped on the way
// to the device (the device drops it unanswered) all leave the probe without an answer, and the next
// probe gets through. (That no flipped bit anywhere in a report passes its check is the protocol's own
// test, and answers of other exchanges are the library's; here each injection is proved once.)
TEST(EmulatorResponseFaults, TheLibraryTakesOnlyAnIntactAnswerToItsOwnRequest)
{
    const struct {
        const char* pszName;
        std::function<void(FaultPlan&)> plant;
    } rows[] = {
        {"dropped", [](FaultPlan& f) { f.dropResponses = {2}; }},
        {"status flipped", [](FaultPlan& f) { f.flipResponses[2] = 4 * 8 + 1; }},  // OK as "bad parameter"
        {"unread command byte flipped", [](FaultPlan& f) { f.flipCommands[2] = 40 * 8; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszName);
        FaultPlan faults;
        row.plant(faults);
        Plugged p = PlugWith(faults);
        const int64_t before = p.device->NowUs();
        EXPECT_FALSE(p.host->IsDeviceAvailable());
        EXPECT_GE(p.device->NowUs() - before, 500000) << "no usable answer: the probe waits it out";
        EXPECT_TRUE(p.host->IsDeviceAvailable());
    }
}

TEST(EmulatorFaultFile, ReadsTheCampaignFaults)
{
    const std::string base = R"({"product": "P", "vendorId": 1, "productId": 2, "flash": {"chip": "W25Q80DV"},
        "faults": )";
    DeviceDescription desc;
    std::string error;
    ASSERT_TRUE(ParseDeviceFile(base + R"({"unplugAtFlashOp": 7, "unplugFlashOpPhase": "after",
        "dropResponses": [3], "duplicateResponses": [4, 5], "staleResponses": [6],
        "flipResponses": [[9, 37], [10, 511]], "flipCommands": [[2, 40]]}})",
                                "p", desc, error))
        << error;
    EXPECT_EQ(desc.faults.nUnplugAtFlashOp, 7u);
    EXPECT_EQ(desc.faults.unplugFlashOpPhase, FlashCutPhase::After);
    EXPECT_EQ(desc.faults.dropResponses, std::set<uint32_t>{3});
    EXPECT_EQ(desc.faults.duplicateResponses, (std::set<uint32_t>{4, 5}));
    EXPECT_EQ(desc.faults.staleResponses, std::set<uint32_t>{6});
    EXPECT_EQ(desc.faults.flipResponses, (std::map<uint32_t, uint32_t>{{9, 37}, {10, 511}}));
    EXPECT_EQ(desc.faults.flipCommands, (std::map<uint32_t, uint32_t>{{2, 40}}));

    for (const char* bad : {R"({"unplugFlashOpPhase": "halfway"}})", R"({"flipResponses": [[9, 512]]}})",
                            R"({"flipResponses": [[0, 3]]}})", R"({"flipResponses": [9]}})",
                            R"({"dropResponses": [0]}})", R"({"flipCommands": [[1, 512]]}})"}) {
        DeviceDescription other;
        EXPECT_FALSE(ParseDeviceFile(base + bad, "p", other, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}
