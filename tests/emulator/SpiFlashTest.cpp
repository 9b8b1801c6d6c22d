// The flash model enforces the parts' rules: without them a wrong write sequence would go unnoticed.
#include "emulator/SpiFlash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

const FlashChipModel& Chip()
{
    return *FindFlashChipByName("W25Q80DV");
}

class SpiFlash : public ::testing::Test {
protected:
    // Runs the chip's current operation to its end.
    int64_t Finish()
    {
        const int64_t end = flash.BusyUntil();
        flash.Settle(end);
        return end;
    }
    std::vector<uint8_t> ReadBack(uint32_t address, uint32_t n, int64_t now)
    {
        std::vector<uint8_t> out(n);
        EXPECT_TRUE(flash.Read(CSpiFlash::OPC_READ, address, out.data(), n, now));
        return out;
    }
    CSpiFlash flash{Chip()};
};

TEST_F(SpiFlash, ProgrammingNeedsWriteEnableAndOnlyClearsBits)
{
    const uint8_t first[2] = {0xF0, 0x3C};
    EXPECT_FALSE(flash.Program(CSpiFlash::OPC_PP, 0x100, first, 2, 0)) << "no write enable";
    EXPECT_EQ(ReadBack(0x100, 2, 0), (std::vector<uint8_t>{0xFF, 0xFF}));

    ASSERT_TRUE(flash.WriteEnable(CSpiFlash::OPC_WREN, 0));
    ASSERT_TRUE(flash.Program(CSpiFlash::OPC_PP, 0x100, first, 2, 0));
    int64_t now = Finish();
    EXPECT_FALSE(flash.Program(CSpiFlash::OPC_PP, 0x100, first, 2, now)) << "the latch clears after a program";

    // Programming over data without an erase ANDs the bits: the result is neither old nor new.
    const uint8_t second[2] = {0x0F, 0xC3};
    ASSERT_TRUE(flash.WriteEnable(CSpiFlash::OPC_WREN, now));
    ASSERT_TRUE(flash.Program(CSpiFlash::OPC_PP, 0x100, second, 2, now));
    now = Finish();
    EXPECT_EQ(ReadBack(0x100, 2, now), (std::vector<uint8_t>{0x00, 0x00}));
}

TEST_F(SpiFlash, EraseSetsTheWholeAlignedSector)
{
    std::vector<uint8_t>& data = flash.MutableContents();
    std::fill(data.begin(), data.begin() + 3 * 4096, 0x12);
    ASSERT_TRUE(flash.WriteEnable(CSpiFlash::OPC_WREN, 0));
    ASSERT_TRUE(flash.Erase(CSpiFlash::OPC_SE, 0x1234, 0));  // inside sector 1
    EXPECT_EQ(flash.BusyUntil(), Chip().nSectorEraseUs);
    const int64_t now = Finish();
    const std::vector<uint8_t> back = ReadBack(0, 3 * 4096, now);
    EXPECT_EQ((std::vector<uint8_t>{back[0x0FFF], back[0x1000], back[0x1FFF], back[0x2000]}),
              (std::vector<uint8_t>{0x12, 0xFF, 0xFF, 0x12}));
}

TEST_F(SpiFlash, PageProgramWrapsWithinItsPage)
{
    const std::vector<uint8_t> bytes = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
    ASSERT_TRUE(flash.WriteEnable(CSpiFlash::OPC_WREN, 0));
    ASSERT_TRUE(flash.Program(CSpiFlash::OPC_PP, 0x2FC, bytes.data(), 8, 0));  // 4 bytes before the page end
    const int64_t now = Finish();
    const std::vector<uint8_t> page = ReadBack(0x200, 0x200, now);
    // The rest lands at the start of the same page; the next page is untouched.
    EXPECT_EQ((std::vector<uint8_t>{page[0xFC], page[0xFF], page[0x00], page[0x03], page[0x100]}),
              (std::vector<uint8_t>{0xA0, 0xA3, 0xA4, 0xA7, 0xFF}));
}

TEST_F(SpiFlash, IgnoresCommandsWhileBusyAndUnknownOpcodes)
{
    ASSERT_TRUE(flash.WriteEnable(CSpiFlash::OPC_WREN, 0));
    ASSERT_TRUE(flash.Erase(CSpiFlash::OPC_SE, 0, 0));
    uint8_t b = 0;
    EXPECT_FALSE(flash.Read(CSpiFlash::OPC_READ, 0, &b, 1, 10));
    EXPECT_FALSE(flash.WriteEnable(CSpiFlash::OPC_WREN, 10));
    EXPECT_EQ(flash.ReadJedecId(CSpiFlash::OPC_RDID, 10), 0xFFFFFFu);
    EXPECT_EQ(flash.ReadStatus(10) & 1, 1);
    EXPECT_EQ(flash.ReadStatus(flash.BusyUntil()) & 1, 0);
    EXPECT_EQ(flash.ReadJedecId(CSpiFlash::OPC_RDID, flash.BusyUntil()), 0xEF4014u);

    // Unknown opcodes do nothing.
    const int64_t now = flash.BusyUntil();
    flash.MutableContents()[0x1000] = 0x00;
    ASSERT_TRUE(flash.WriteEnable(CSpiFlash::OPC_WREN, now));
    EXPECT_FALSE(flash.Erase(0x21, 0x1000, now));
    EXPECT_FALSE(flash.Read(0x13, 0x1000, &b, 1, now));
    EXPECT_EQ(flash.Contents()[0x1000], 0x00);
}

// A power cut tears the running operation and leaves the chip idle: an erased sector is neither old
// nor erased, a programmed page written only up to the cut.
TEST_F(SpiFlash, PowerCutTearsTheRunningOperation)
{
    const std::vector<uint8_t>& after = flash.Contents();
    std::fill(flash.MutableContents().begin(), flash.MutableContents().begin() + 4096, 0x00);
    ASSERT_TRUE(flash.WriteEnable(CSpiFlash::OPC_WREN, 0));
    ASSERT_TRUE(flash.Erase(CSpiFlash::OPC_SE, 0, 0));
    int64_t cut = flash.BusyUntil() / 2;
    flash.PowerCut(cut);
    const auto erased = std::count(after.begin(), after.begin() + 4096, 0xFF);
    EXPECT_GT(erased, 0);
    EXPECT_LT(erased, 4096);
    EXPECT_FALSE(flash.IsBusy(cut));

    const std::vector<uint8_t> zeros(256, 0x00);
    ASSERT_TRUE(flash.WriteEnable(CSpiFlash::OPC_WREN, cut));
    ASSERT_TRUE(flash.Program(CSpiFlash::OPC_PP, 0x1000, zeros.data(), 256, cut));
    cut += (flash.BusyUntil() - cut) / 2;
    flash.PowerCut(cut);
    EXPECT_EQ(after[0x1000], 0x00);
    EXPECT_EQ(after[0x10FF], 0xFF);
    EXPECT_FALSE(flash.IsBusy(cut));
}

TEST(SpiFlashCatalogue, FindsChipsByNameAndId)
{
    EXPECT_EQ(FindFlashChipByName("winbond w25q80dv"), FindFlashChipByJedec(0xEF4014));
    EXPECT_EQ(FindFlashChipByName("MX25L1606E")->nCapacity, 2u * 1024 * 1024);
    EXPECT_EQ(FindFlashChipByName("no such chip"), nullptr);
    for (const FlashChipModel* p = BuiltInFlashChips(); p->pszName; ++p)
        EXPECT_EQ(p->nCapacity, 1u << (p->nJedecId & 0xFF)) << p->pszName << ": capacity code and size agree";
}

}  // namespace
