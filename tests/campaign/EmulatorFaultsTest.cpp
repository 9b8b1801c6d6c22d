// The emulator's faults that the campaign relies on, seen through the device library: a power cut
// before, during or after a chosen flash operation, dropped, duplicated, stale and bit-flipped
// responses, and a device plugged in again.
#include "device/zelhid/ZelHidDevice.h"
#include "emulator/EmulatedDevice.h"
#include "emulator/hid/EmulatorTransport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace zelproto;

namespace {

constexpr uint32_t kSector = 0x5000;

DeviceDescription Za1200()
{
    std::ifstream in(QUILLON_SOURCE_DIR "/examples/sim/za1200.json");
    std::stringstream text;
    text << in.rdbuf();
    DeviceDescription desc;
    std::string error;
    EXPECT_TRUE(ParseDeviceFile(text.str(), "za1200", desc, error)) << error;
    desc.strFlashFile.clear();
    return desc;
}

std::unique_ptr<CZelHidDevice> Connect(const std::shared_ptr<CEmulatedDevice>& device)
{
    auto host = std::make_unique<CZelHidDevice>(DescribeEmulatedDevice("/sim/za1200.json", *device),
                                                OpenEmulatorLink(device), std::make_shared<std::mutex>());
    EXPECT_TRUE(host->Identify());
    return host;
}

// A device plugged in again with the given faults, and a library object talking to it.
struct Plugged {
    std::shared_ptr<CEmulatedDevice> device;
    std::unique_ptr<CZelHidDevice> host;
};

Plugged PlugWith(const FaultPlan& faults)
{
    Plugged p;
    p.device = std::make_shared<CEmulatedDevice>(Za1200(), std::string());
    p.device->Unplug();
    EXPECT_TRUE(p.device->Replug(faults));
    p.host = Connect(p.device);
    return p;
}

std::vector<uint8_t> SectorOf(CEmulatedDevice& device)
{
    const std::vector<uint8_t> flash = device.FlashContents();
    return {flash.begin() + kSector, flash.begin() + kSector + 4096};
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
    std::unique_ptr<CZelHidDevice> again = Connect(p.device);
    EXPECT_TRUE(again->IsDeviceAvailable());
    flash[0x3000] = flash[0x3001] = 0xFF;
    EXPECT_EQ(p.device->FlashContents(), flash);
}

// The first flash operation of a whole-sector write is the sector's erase, the second the program of its
// first page.
TEST(EmulatorFlashOpCut, LeavesTheRangeAsThePhaseSays)
{
    const std::vector<uint8_t> zeros(4096, 0x00);
    struct Case {
        uint32_t nOp;
        FlashCutPhase phase;
        const char* pszExpected;
    } cases[] = {
        {1, FlashCutPhase::Before, "old"},
        {1, FlashCutPhase::During, "torn"},
        {1, FlashCutPhase::After, "erased"},
        {2, FlashCutPhase::Before, "erased"},
        {2, FlashCutPhase::During, "first page torn"},
        {2, FlashCutPhase::After, "first page programmed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.nOp) + " " + c.pszExpected);
        FaultPlan faults;
        faults.nUnplugAtFlashOp = c.nOp;
        faults.unplugFlashOpPhase = c.phase;
        Plugged p = PlugWith(faults);
        const std::vector<uint8_t> old = SectorOf(*p.device);
        ASSERT_TRUE(p.host->SwitchToDfuMode());
        EXPECT_FALSE(p.host->WriteFlash(kSector, 4096, zeros.data(), false));
        EXPECT_FALSE(p.device->IsPlugged());

        const std::vector<uint8_t> sector = SectorOf(*p.device);
        const std::vector<uint8_t> erased(4096, 0xFF);
        const std::vector<uint8_t> page0(sector.begin(), sector.begin() + 256),
            rest(sector.begin() + 256, sector.end());
        const std::string expected = c.pszExpected;
        if (expected == "old") {
            EXPECT_EQ(sector, old);
        } else if (expected == "torn") {
            EXPECT_NE(sector, old);
            EXPECT_NE(sector, erased);
        } else if (expected == "erased") {
            EXPECT_EQ(sector, erased);
        } else {
            EXPECT_EQ(rest, std::vector<uint8_t>(rest.size(), 0xFF));
            if (expected == "first page programmed")
                EXPECT_EQ(page0, std::vector<uint8_t>(256, 0x00));
            else
                EXPECT_TRUE(page0 != std::vector<uint8_t>(256, 0x00) && page0 != std::vector<uint8_t>(256, 0xFF));
        }
    }
}

// Response 1 answers the identification; the two availability probes get responses 2 and 3. A response
// with any bit flipped fails its check and counts as no answer at all; so does a command whose bit
// flipped on the way to the device: the device drops it unanswered.
TEST(EmulatorResponseFaults, TheLibraryTakesOnlyAnIntactAnswerToItsOwnRequest)
{
    struct Case {
        const char* pszName;
        FaultPlan faults;
        bool bFirst, bSecond;
    };
    FaultPlan drop, duplicate, stale, flipSeq, flipStatus, flipPayload, flipCheck, flipCommand, flipCommandCheck;
    drop.dropResponses = {2};
    duplicate.duplicateResponses = {2};
    stale.staleResponses = {3};
    flipSeq.flipResponses[2] = 2 * 8;         // the sequence number's lowest bit
    flipStatus.flipResponses[2] = 4 * 8 + 1;  // OK would read as "bad parameter"
    flipPayload.flipResponses[2] = 40 * 8;    // a byte the probe does not read
    flipCheck.flipResponses[2] = 7 * 8 + 7;   // the check itself
    flipCommand.flipCommands[2] = 40 * 8;     // a byte STATUS does not read
    flipCommandCheck.flipCommands[2] = 19 * 8;
    const Case cases[] = {
        {"dropped", drop, false, true},
        {"duplicated", duplicate, true, true},
        {"stale", stale, true, true},
        {"sequence flipped", flipSeq, false, true},
        {"status flipped", flipStatus, false, true},
        {"unread byte flipped", flipPayload, false, true},
        {"check flipped", flipCheck, false, true},
        {"unread command byte flipped", flipCommand, false, true},
        {"command check flipped", flipCommandCheck, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        Plugged p = PlugWith(c.faults);
        const int64_t before = p.device->NowUs();
        EXPECT_EQ(p.host->IsDeviceAvailable(), c.bFirst);
        if (!c.bFirst) {
            EXPECT_GE(p.device->NowUs() - before, 500000) << "no usable answer: the probe waited its whole timeout";
        }
        EXPECT_EQ(p.host->IsDeviceAvailable(), c.bSecond);
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
