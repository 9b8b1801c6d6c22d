#include "device/zelhid/TableMatch.h"

#include "emulator/SimTestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(TableMatch, KnownIdsMatchVendorProductAndUsage)
{
    const _ZEL_USB_DEV_ID_INFO table[] = {
        {0x2fe3, 0x1200, 0xff000001}, {0x2fe3, 0x3600, 0}, {0, 0, 0}, {0x1111, 0x2222, 0}};
    EXPECT_TRUE(IsKnownInterface(table, 0x2fe3, 0x1200, 0xff00, 0x0001));
    EXPECT_FALSE(IsKnownInterface(table, 0x2fe3, 0x1200, 0x000c, 0x0001)) << "another interface";
    EXPECT_TRUE(IsKnownInterface(table, 0x2fe3, 0x3600, 0x000c, 0x0001)) << "0: any interface";
    EXPECT_FALSE(IsKnownInterface(table, 0x2fe3, 0x2400, 0xff00, 0x0001));
    EXPECT_FALSE(IsKnownInterface(table, 0x1111, 0x2222, 0, 0)) << "past the all-zero record";
    EXPECT_FALSE(IsKnownInterface(nullptr, 0x2fe3, 0x1200, 0xff00, 0x0001));
}

TEST(TableMatch, DfuPatchRecordsMatchSubVersionKeyAndChipBytes)
{
    const _ZEL_USB_DEV_INFO table[] = {
        {0x2fe4, 0x4800, 0x0100, 0x48000000, {0x03, 0x81}, {}}, {0x2fe4, 0x4900, 0, 0x49000000, {0, 0}, {}}, {}};
    struct Case {
        uint16_t vid, pid;
        uint32_t subVersion;
        uint16_t chipset;
        bool match;
    };
    const Case cases[] = {
        {0x2fe4, 0x4800, 0x48000010, 0x0381, true},
        {0x2fe4, 0x4800, 0x480000FF, 0x0381, true},   // the low 8 bits take no part
        {0x2fe4, 0x4800, 0x48000110, 0x0381, false},  // another sub-version key
        {0x2fe4, 0x4800, 0x48000010, 0x0382, false},  // another codec
        {0x2fe4, 0x4800, 0x48000010, 0x0281, false},  // another controller
        {0x2fe4, 0x4800, 0x48000010, 0x0000, true},   // the device reports no chipset type
        {0x2fe4, 0x4801, 0x48000010, 0x0381, false},
        {0x2fe4, 0x4900, 0x49000001, 0x0512, true},  // the record names no chip
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesDfuPatchInfo(table, c.vid, c.pid, c.subVersion, c.chipset), c.match)
            << std::hex << c.pid << " " << c.subVersion << " " << c.chipset;
    EXPECT_FALSE(MatchesDfuPatchInfo(nullptr, 0x2fe4, 0x4800, 0x48000010, 0x0381));
}

TEST(TableMatch, FlashRecordsAreFoundByTheirBigEndianJedecId)
{
    // A record without a JEDEC ID matches nothing and does not end the table.
    const _FLASH_INFO table[] = {simtest::CTestTables::Chip("no ID", 0, 0),
                                 simtest::CTestTables::Chip("A", 0xC22015, 0x0800),
                                 simtest::CTestTables::Chip("B", 0xEF4014, 0x0400), _FLASH_INFO{},
                                 simtest::CTestTables::Chip("C", 0xC84016, 0x1000)};
    const _FLASH_INFO* p = FindFlashInfo(table, 0xEF4014);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p->szName, "B");
    EXPECT_EQ(FindFlashInfo(table, 0xC84016), nullptr) << "past the end of the table";
    EXPECT_EQ(FindFlashInfo(table, 0x1440EF), nullptr);
    EXPECT_EQ(FindFlashInfo(table, 0), nullptr);
    EXPECT_EQ(FindFlashInfo(nullptr, 0xEF4014), nullptr);
}

}  // namespace
