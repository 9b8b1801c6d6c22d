// Every fault the emulator can inject surfaces as a false result, promptly, and the device can be
// worked with again afterwards where it is still there.
#include "LibraryFixture.h"

using namespace zelproto;

namespace {

class FaultTest : public LibraryTest {
protected:
    // A ZA1200 (or ZA4800) with the faults given, as the file dev.json; each chip keeps its own flash
    // file (one of another chip's size is refused). Any earlier one is released and gone, with its flash.
    CZelUsbDevice* Faulty(const nlohmann::json& faults, const char* example = "za1200.json", bool bFlashCrc = false)
    {
        ReleaseZelUsbDevices();
        for (const char* file : {"dev.json", "dev.json.unplugged", "dev-za1200.flash"})
            dir.Remove(file);
        const std::string flash = "dev-" + std::string(example).substr(0, 6) + ".flash";
        dir.WriteVariant(example, "dev.json",
                         {{"faults", faults}, {"flash", {{"file", flash}}}, {"flashCrc", bFlashCrc}});
        return Device("dev.json");
    }
};

TEST_F(FaultTest, TransferFaultsFailOneCallOnly)
{
    struct Case {
        const char* what;
        nlohmann::json faults;
        bool bWrite;
        bool bRedetect;      // what IsFlashRedetectNeeded says afterwards
        const char* reason;  // how the library's last error begins
    };
    const Case cases[] = {
        {"failing write", {{"failWrites", {1}}}, true, true, "write at 0x4000: flash error"},
        {"corrupted write", {{"corruptWrites", {1}}}, true, false, "write at 0x4000: CRC mismatch"},
        {"write without answer", {{"timeoutWrites", {1}}}, true, false, "write at 0x4000: no answer within 5000 ms"},
        {"failing read", {{"failReads", {1}}}, false, true, "read at 0x4000: flash error"},
        {"corrupted read", {{"corruptReads", {1}}}, false, false, "read at 0x4000: the data received fails its CRC32"},
        {"read without answer", {{"timeoutReads", {1}}}, false, false, "read at 0x4000: data stopped after "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CZelUsbDevice* d = Faulty(c.faults);
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(EnterDfu(d));
        const std::vector<uint8_t> block = simtest::Pattern(4096, 5);
        std::vector<uint8_t> buffer(4096);
        uint32_t n = 4096;
        const int64_t before = Emulated("dev.json")->NowUs();
        const bool ok =
            c.bWrite ? d->WriteFlash(0x4000, 4096, block.data(), true) : d->ReadFlash(0x4000, n, buffer.data());
        EXPECT_FALSE(ok);
        EXPECT_EQ(d->IsFlashRedetectNeeded(), c.bRedetect);
        EXPECT_EQ(ZelUsbDeviceLastError(d).rfind(c.reason, 0), 0u) << ZelUsbDeviceLastError(d);
        if (std::string(c.what).find("answer") != std::string::npos) {
            EXPECT_GE(Emulated("dev.json")->NowUs() - before, 1000000) << "the host waited out its timeout";
        }
        // The next transfer is clean: no leftover of the failed one is taken for its answer.
        EXPECT_TRUE(d->WriteFlash(0x4000, 4096, block.data(), true));
        n = 4096;
        EXPECT_TRUE(d->ReadFlash(0x4000, n, buffer.data()));
        EXPECT_EQ(buffer, block);
        EXPECT_FALSE(d->IsFlashRedetectNeeded());
        EXPECT_EQ(ZelUsbDeviceLastError(d).rfind(c.reason, 0), 0u) << "a call that succeeds keeps the text";
    }
}

// Mode switches and the flash identification refused as often as the device is told (true: always).
TEST_F(FaultTest, RefusedModeSwitchesAndFlashIdentification)
{
    CZelUsbDevice* d = Faulty({{"refuseDfu", 1}, {"refuseNormal", true}, {"flashIdFails", 1}});
    EXPECT_FALSE(d->SwitchToDfuMode());
    ASSERT_TRUE(d->SwitchToDfuMode());
    EXPECT_FALSE(d->DetectFlash());
    EXPECT_TRUE(d->IsFlashRedetectNeeded());
    EXPECT_TRUE(d->DetectFlash());
    EXPECT_FALSE(d->IsFlashRedetectNeeded());
    EXPECT_FALSE(d->SwitchToNormalMode());
    EXPECT_FALSE(d->SwitchToNormalMode());
    EXPECT_TRUE(d->IsDeviceAvailable());

    d = Faulty({{"refuseDfu", true}}, "za4800.json");
    const std::vector<uint8_t> patch = simtest::BuiltPatch("ZA4800");
    EXPECT_FALSE(d->LoadDfuPatch(patch.data(), static_cast<uint32_t>(patch.size())));
    // Without a table the transfers identify the chip themselves, and fail the same way.
    g_pFlashInfo = nullptr;
    d = Faulty({{"flashIdFails", true}});
    ASSERT_TRUE(d->SwitchToDfuMode());
    const uint8_t data[2] = {0, 0};
    EXPECT_FALSE(d->WriteFlash(0x1000, 2, data, true));
    EXPECT_TRUE(d->IsFlashRedetectNeeded());
}

// An unplug at any step: the call in progress fails, the device is gone for good, its file parked. Pulled
// out while it erases or programs, the block is torn: neither what it was, nor erased, nor written.
TEST_F(FaultTest, UnplugAtEveryStep)
{
    enum Call { kDfu, kPatch, kDetect, kWrite, kRead, kNormal };
    struct Case {
        const char* step;
        Call failing;
    };
    // crcQuery: the device answers FLASH_CRC and is pulled out while it reads the range for it.
    const Case cases[] = {{"enterDfu", kDfu},   {"patch", kPatch},   {"flashId", kDetect},
                          {"erase", kWrite},    {"program", kWrite}, {"write", kWrite},
                          {"crcQuery", kWrite}, {"read", kRead},     {"leaveDfu", kNormal}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        const bool bPatch = c.failing == kPatch;
        CZelUsbDevice* d = Faulty({{"unplugAtStep", c.step}}, bPatch ? "za4800.json" : "za1200.json",
                                  std::string(c.step) == "crcQuery");
        ASSERT_NE(d, nullptr);
        const std::vector<uint8_t> old = Emulated("dev.json")->FlashContents();
        const std::vector<uint8_t> patch = simtest::BuiltPatch("ZA4800");
        const std::vector<uint8_t> block = simtest::Pattern(4096, 6);
        std::vector<uint8_t> buffer(4096);
        uint32_t n = 4096;
        bool results[6];
        results[0] = bPatch ? true : d->SwitchToDfuMode();
        results[1] = bPatch ? d->LoadDfuPatch(patch.data(), static_cast<uint32_t>(patch.size())) : results[0];
        results[2] = d->DetectFlash();
        results[3] = d->WriteFlash(0x4000, 4096, block.data(), true);
        results[4] = d->ReadFlash(0x4000, n, buffer.data());
        results[5] = d->SwitchToNormalMode();
        for (int call = 0; call < 6; ++call)
            EXPECT_EQ(results[call], call < c.failing) << "call " << call;
        EXPECT_EQ(ZelUsbDeviceLastError(d), "device unplugged");
        EXPECT_FALSE(d->IsDeviceAvailable());
        EXPECT_TRUE(!dir.Exists("dev.json") && dir.Exists("dev.json.unplugged")) << "its file parked";
        EXPECT_EQ(Device("dev.json"), nullptr);
        if (c.step == std::string("erase") || c.step == std::string("program")) {
            const std::string flash = dir.Read("dev-za1200.flash");
            const std::vector<uint8_t> now(flash.begin() + 0x4000, flash.begin() + 0x5000);
            EXPECT_NE(now, std::vector<uint8_t>(old.begin() + 0x4000, old.begin() + 0x5000));
            EXPECT_NE(now, std::vector<uint8_t>(4096, 0xFF));
            EXPECT_NE(now, block);
        }
    }
}

// Only the blocks that changed: a device with the CRC capability is sent only the whole blocks whose
// contents differ, and the flag word at both ends; one without it every block, as before. A CRC query
// without an answer is no failure: the block is written, and no query follows in that DFU session.
TEST_F(FaultTest, UnchangedBlocksAreSkippedOnlyWithTheCrcCapability)
{
    struct Case {
        const char* what;
        bool bFlashCrc;
        nlohmann::json faults;
        uint64_t nQueries;  // in the second download
        uint64_t nWrites;
    };
    // Responses: identify, enter DFU, flash ID and setup, flag, query, 32 blocks, flag (39); then enter
    // DFU, flash ID and setup, flag: the second download's query is the 44th. (A capable device whose queries
    // are all answered: the last row's second download, and
    // Campaign.CleanDownloadWritesEightBlocksBetweenTheFlagWrites.)
    const Case cases[] = {
        {"without the capability", false, nlohmann::json::object(), 0, 34},
        {"its query unanswered", true, {{"dropResponses", {44}}}, 1, 34},
        {"the first query unanswered", true, {{"dropResponses", {6}}}, 1, 4},
    };
    std::vector<uint8_t> image = simtest::Pattern(128 * 1024, 9);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CZelUsbDevice* d = Faulty(c.faults, "za1200.json", c.bFlashCrc);
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(EnterDfu(d));
        ASSERT_TRUE(Download(d, image));
        // The next download, in a new DFU session, changes blocks 3 (the flag's) and 20.
        ASSERT_TRUE(EnterDfu(d));
        image[0x3100] ^= 0x5A;
        image[20 * 4096 + 7] ^= 0x01;
        const CEmulatedDevice::Stats before = Emulated("dev.json")->GetStats();
        ASSERT_TRUE(Download(d, image));
        const CEmulatedDevice::Stats after = Emulated("dev.json")->GetStats();
        EXPECT_EQ(after.nCrcQueries - before.nCrcQueries, c.nQueries);
        EXPECT_EQ(after.nWrites - before.nWrites, c.nWrites);
        EXPECT_EQ(ReadAll(d, 0, 128 * 1024), image);
        EXPECT_EQ(ZelUsbDeviceLastError(d), "") << "an unanswered query fails no call";
    }
}

// A piece written without a read-back is asked about alone before it is written again; without an
// answer to that query the new contents are written, never taken for unchanged.
TEST_F(FaultTest, AnUnansweredQueryOfOnePieceWritesIt)
{
    // Responses: identify, enter DFU, flash ID and setup, the window's query, the first write (not read
    // back), then the query of the one piece (the 7th).
    CZelUsbDevice* d = Faulty({{"dropResponses", {7}}}, "za1200.json", true);
    ASSERT_TRUE(EnterDfu(d));
    const std::vector<uint8_t> first = simtest::Pattern(4096, 1), second = simtest::Pattern(4096, 2);
    ASSERT_TRUE(d->WriteFlash(20 * 4096, 4096, first.data(), false));
    EXPECT_TRUE(d->WriteFlash(20 * 4096, 4096, second.data(), true));
    EXPECT_EQ(ReadAll(d, 20 * 4096, 4096), second);
    EXPECT_EQ(Emulated("dev.json")->GetStats().nCrcQueries, 2U);
}

// A link that slips answers of earlier exchanges in front of the device's own: the library must
// never take them for the answer it waits for.
TEST_F(LibraryTest, StaleAnswersAreNeverTakenForTheAnswer)
{
    int nInjected = 0;
    onWrite = [&](CHookedLink& link, const uint8_t* r) {
        CommandHeader h;
        if (!DecodeCommand(r, h) || (h.nCommand != CMD_FLASH_WRITE && h.nCommand != CMD_FLASH_READ))
            return;
        uint8_t report[kReportSize];
        // An answer to the same command's previous exchange, then one of this exchange to another command.
        const uint8_t nOld = static_cast<uint8_t>(h.nSeq - 1);
        const uint32_t crc = Crc32(report, 0);  // of no bytes
        const ResponseHeader old{kProtocolVersion, nOld, h.nCommand, ST_OK, MODE_DFU_BOOTLOADER, 44, crc};
        EncodeResponse(report, old, nullptr, 0);
        link.injected.emplace_back(report, report + kReportSize);
        const ResponseHeader other{kProtocolVersion, h.nSeq, CMD_IDENTIFY, ST_OK, MODE_DFU_BOOTLOADER, 44, crc};
        EncodeResponse(report, other, nullptr, 0);
        link.injected.emplace_back(report, report + kReportSize);
        const uint8_t zeros[kDataPayload] = {};
        EncodeData(report, nOld, zeros, sizeof zeros);
        link.injected.emplace_back(report, report + kReportSize);
        ++nInjected;
    };
    CZelUsbDevice* d = Device("za1200.json");
    ASSERT_TRUE(EnterDfu(d));
    const std::vector<uint8_t> block = simtest::Pattern(4096, 12);
    EXPECT_TRUE(d->WriteFlash(0x2000, 4096, block.data(), true));
    EXPECT_EQ(ReadAll(d, 0x2000, 4096), block);
    EXPECT_EQ(nInjected, 2);
}

}  // namespace
