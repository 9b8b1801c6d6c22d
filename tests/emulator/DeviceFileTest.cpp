#include "emulator/DeviceFile.h"
#include "emulator/DfuPatch.h"

#include "emulator/SimTestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(DeviceFile, ReadsEveryField)
{
    const char* text = R"({
        "product": "P", "serialNumber": "S1", "vendorId": "0x2fe3", "productId": 4608, "version": "0x0105",
        "subVersion": "0x12000134", "chipsetType": "0x0381", "usage": "0xff000001", "defaultSerialNumberAddr": "0x4000",
        "hidDfu": true, "bootLoader": false, "controller": {"index": 3, "name": "ZA4800"}, "flagOffset": "0x2000",
        "flash": {"chip": "GD25Q32C", "file": "x.bin", "initial": "interrupted"},
        "faults": {"failWrites": [1, 2], "timeoutReads": [3], "unplugAtStep": "erase", "unplugAtStepCount": 2,
                   "refuseDfu": true, "refuseNormal": 2, "flashIdFails": 1, "unplugAfterReports": 100},
        "timing": {"reportIntervalUs": 2000, "realTime": true, "speed": 2.5, "sectorEraseUs": 1000}})";
    DeviceDescription s;
    std::string error;
    ASSERT_TRUE(ParseDeviceFile(text, "stem", s, error)) << error;
    // The identity's fields arrive through the library in CliE2e.ListShowsEachDeviceAsTheWindowShowsItAndInfoChoosesOne
    // (the usage: only a match with the known-ID table lists the example), lists of fault ordinals in
    // EmulatorFaultFile.ReadsTheCampaignFaults and their effect in FaultTest.
    EXPECT_EQ(std::tie(s.nControllerIndex, s.strControllerName, s.nFlagOffset, s.strFlashFile, s.initialFlash),
              std::make_tuple(3, "ZA4800", 0x2000u, "x.bin", InitialFlash::Interrupted));
    EXPECT_EQ(std::tie(s.faults.unplugStep, s.faults.nUnplugStepCount, s.faults.nRefuseDfu, s.faults.nRefuseNormal,
                       s.faults.nUnplugAfterReports),
              std::make_tuple(UnplugStep::Erase, 2u, -1, 2, 100u));
    EXPECT_EQ(
        std::tie(s.timing.nReportIntervalUs, s.timing.bRealTime, s.timing.nSectorEraseUs, s.timing.nPageProgramUs),
        std::make_tuple(2000u, true, 1000, -1));
    EXPECT_DOUBLE_EQ(s.timing.dSpeed, 2.5);
}

TEST(DeviceFile, DefaultsAndNullProduct)
{
    DeviceDescription s;
    std::string error;
    ASSERT_TRUE(ParseDeviceFile(R"({"vendorId": 1, "productId": 2, "product": null, "chipsetType": "0x0203"})", "dev",
                                s, error))
        << error;
    EXPECT_FALSE(s.bHasProduct);
    EXPECT_EQ(s.strFlashFile, "dev.flash");
    EXPECT_EQ(s.nControllerIndex, 2) << "the controller index defaults to the chipset type's high byte";
    EXPECT_EQ(s.nFlagOffset, 0x3000u);
    EXPECT_STREQ(s.pChip->pszName, "W25Q80DV");
    EXPECT_TRUE(s.bBootLoader);
}

TEST(DeviceFile, BadFilesSayWhatIsWrong)
{
    struct Case {
        const char* json;
        const char* mention;
    };
    const Case cases[] = {
        {"{", "JSON"},
        {R"({"productId": 1})", "vendorId"},
        {R"({"vendorId": 1, "productId": 2, "colour": "red"})", "colour"},
        {R"({"vendorId": "0x1ffff", "productId": 2})", "too large"},
        {R"({"vendorId": "12ab", "productId": 2})", "not a number"},
        {R"({"vendorId": 1, "productId": 2, "flash": {"chip": "XYZ"}})", "XYZ"},
        {R"({"vendorId": 1, "productId": 2, "flash": {"initial": "new"}})", "initial"},
        {R"({"vendorId": 1, "productId": 2, "faults": {"failWrites": [0]}})", "start at 1"},
        {R"({"vendorId": 1, "productId": 2, "faults": {"unplugAtStep": "dance"}})", "dance"},
        {R"({"vendorId": 1, "productId": 2, "faults": {"failWrite": [1]}})", "failWrite"},
        {R"({"vendorId": 1, "productId": 2, "hidDfu": "yes"})", "hidDfu"},
        {R"({"vendorId": 1, "productId": 2, "timing": {"speed": 0}})", "speed"},
        {R"({"vendorId": 1, "productId": 2, "flagOffset": "0x100000"})", "flagOffset"},
    };
    for (const Case& c : cases) {
        DeviceDescription s;
        std::string error;
        EXPECT_FALSE(ParseDeviceFile(c.json, "x", s, error)) << c.json;
        EXPECT_NE(error.find(c.mention), std::string::npos) << c.json << " gave: " << error;
    }
}

TEST(DfuPatch, BuiltPatchIsAcceptedByItsControllerOnlyAndWhenUndamaged)
{
    const std::vector<uint8_t> patch = BuildDfuPatch(3, "ZA4800", DefaultDfuPatchPayload("ZA4800"));
    const auto size = static_cast<uint32_t>(patch.size());
    EXPECT_EQ(CheckDfuPatch(patch.data(), size, 3, "ZA4800"), DfuPatchCheck::Accepted);
    EXPECT_EQ(CheckDfuPatch(patch.data(), size, 2, "ZA4800"), DfuPatchCheck::OtherController);
    EXPECT_EQ(CheckDfuPatch(patch.data(), size, 3, "ZA3600"), DfuPatchCheck::OtherController);

    // Damaged patches are refused.
    struct Case {
        const char* what;
        size_t flip;  // byte to change; SIZE_MAX: cut the file short instead
    };
    const Case cases[] = {
        {"magic", 0}, {"header field", 8}, {"last payload byte", patch.size() - 1}, {"cut short", SIZE_MAX}};
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = patch;
        if (c.flip == SIZE_MAX)
            bad.resize(bad.size() - 10);
        else
            bad[c.flip] ^= 0x01;
        EXPECT_EQ(CheckDfuPatch(bad.data(), static_cast<uint32_t>(bad.size()), 3, "ZA4800"), DfuPatchCheck::Damaged)
            << c.what;
    }
    EXPECT_EQ(CheckDfuPatch(patch.data(), 20, 3, "ZA4800"), DfuPatchCheck::Damaged);
    EXPECT_EQ(CheckDfuPatch(nullptr, 0, 3, "ZA4800"), DfuPatchCheck::Damaged);
}

}  // namespace
