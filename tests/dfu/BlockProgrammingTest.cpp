#include "dfu/BlockProgramming.h"
#include "support/ParamNames.h"
#include "support/WindowFixture.h"

#include <deque>
#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

const QString kKey = QStringLiteral("CHIP_0101_SUBV_00001000");  // the fake device's identity

// "W 0x3000+2, F 0x3000+2": a block write, then the flag write.
std::string WriteList(const CFakeZelUsbDevice* pDevice)
{
    std::string out;
    char buf[40];
    for (const auto& w : pDevice->Writes()) {
        std::snprintf(buf, sizeof buf, "%s%c 0x%04x+%zu", out.empty() ? "" : ", ", w.bFlag ? 'F' : 'W', w.nOffset,
                      w.data.size());
        out += buf;
    }
    return out;
}

struct SelectRow {
    const char* pszName;
    bool bBootLoader;
    uint16_t nDeviceSerial;
    int32_t nUpdateAll;
    int64_t nImageMask, nBootLoaderMask, nSerialAddr, nFlagOffset;  // under the device's key; -1: not set
    uint32_t nExpectedMask;
    int32_t nExpectedFlag;
    friend void PrintTo(const SelectRow& row, std::ostream* os) { *os << row.pszName; }
};

const SelectRow kSelectRows[] = {
    {"NoKeysNoBootLoaderUpdateAll", false, 0, 1, -1, -1, -1, -1, 0xFFFFFFFF, 0x3000},
    {"Serial3000ExcludesBlocks2And3", false, 0x3000, 1, -1, -1, -1, -1, 0xFFFFFFF3, 0x3000},
    {"Serial3001ExcludesNothing", false, 0x3001, 1, -1, -1, -1, -1, 0xFFFFFFFF, 0x3000},
    {"ConfiguredSerialOverridesDevice", false, 0x4000, 1, -1, -1, 0x8000, -1, 0xFFFFFFDF, 0x3000},
    {"BootLoaderBeatsSerialWithUpdateAll", false, 0, 1, -1, 0x07, 0x1000, -1, 0xFFFFFFFF, 0x3000},
    {"BootLoaderAndSerialLeftOut", false, 0, 0, -1, 0x07, 0x4000, -1, 0xFFFFFFE8, 0x3000},
    {"ImageMaskIsBootLoaderMask", true, 0, 0, 0x3, 0x3, -1, -1, 0, 0x3000},
    {"ConfiguredFlagOffset", false, 0, 1, 0xFF, -1, -1, 0x2000, 0xFF, 0x2000},
};

std::string AllBlocks(int nCount, int nLastLength = 4096)
{
    std::string out;
    char buf[40];
    for (int i = 0; i < nCount; ++i) {
        std::snprintf(buf, sizeof buf, "%sW 0x%04x+%d", i ? ", " : "", i * 4096, i + 1 == nCount ? nLastLength : 4096);
        out += buf;
    }
    return out;
}

std::string Flagged(const std::string& blocks)
{
    return "W 0x3000+2, " + blocks + ", F 0x3000+2";
}

struct ExtentRow {
    const char* pszName;
    int32_t nImageSize;
    int32_t nFlagAt;  // where 0xAA <nSecond> stands, -1: nowhere
    uint8_t nSecond;
    int32_t nFlagOffset;
    uint32_t nMask;
    std::string expected;
    friend void PrintTo(const ExtentRow& row, std::ostream* os) { *os << row.pszName; }
};

const ExtentRow kExtentRows[] = {
    {"NothingBeyond128K", 300000, 0x3000, 0xAA, 0x3000, 0xFFFFFFFF, Flagged(AllBlocks(32))},
    {"FlagWordEndingTheImageDoesNotQualify", 0x3002, 0x3000, 0xAA, 0x3000, 0xFFFFFFFF, AllBlocks(4, 2)},
    {"FlagWordWithOneByteAfterQualifies", 0x3003, 0x3000, 0xAA, 0x3000, 0xFFFFFFFF, Flagged(AllBlocks(4, 3))},
    {"HalfFlagWordWrittenWithoutProtocol", 0x5000, 0x3000, 0x55, 0x3000, 0x8, "W 0x3000+4096"},
    {"FlagOffsetZero", 0x5000, 0, 0xAA, 0, 0xFFFFFFFF, AllBlocks(5)},
    {"FlagOffsetNotWholeBlock", 0x5000, 0x3001, 0xAA, 0x3001, 0xFFFFFFFF, AllBlocks(5)},
    {"FlagBlockNotSelected", 0x5800, 0x3000, 0xAA, 0x3000, 0x1, Flagged("W 0x0000+4096")},
};

}  // namespace

class SelectBlocksTest : public DfuTest, public ::testing::WithParamInterface<SelectRow> {};

TEST_P(SelectBlocksTest, MaskAndFlagOffset)
{
    const SelectRow& row = GetParam();
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    pDevice->bBootLoader = row.bBootLoader;
    pDevice->nDefaultSerialAddr = row.nDeviceSerial;
    const std::pair<const char*, int64_t> settings[] = {{"ImageMask", row.nImageMask},
                                                        {"BootLoaderMask", row.nBootLoaderMask},
                                                        {"SerialNumberAddr", row.nSerialAddr},
                                                        {"FlagOffset", row.nFlagOffset}};
    for (const auto& [section, value] : settings)
        if (value >= 0)
            profile.SetInt(section, kKey, value);
    dlg->m_bUpdateAll = row.nUpdateAll;

    uint32_t nMask = 0xDEAD;
    int32_t nFlag = -7;
    EXPECT_EQ(SelectBlocks(dlg.get(), pDevice, nMask, nFlag), row.nExpectedMask != 0);
    EXPECT_EQ(nMask, row.nExpectedMask);
    EXPECT_EQ(nFlag, row.nExpectedFlag);
    if (row.nExpectedMask == 0)
        EXPECT_THAT(Boxes(), ElementsAre("Firmware upgrade is not permitted for this device!\r\n"));
    else
        EXPECT_TRUE(Boxes().empty());
    // Selecting blocks never talks to the device beyond asking about it.
    EXPECT_EQ(pDevice->CountCalls("WriteFlash") + pDevice->CountCalls("SwitchToDfuMode"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, SelectBlocksTest, ::testing::ValuesIn(kSelectRows), RowName());

// The worked example's writes with "Update All".
const char* const kUpdateAllWrites =
    "W 0x3000+2, W 0x0000+4096, W 0x1000+4096, W 0x2000+4096, W 0x3000+4096, W 0x5000+2048, F 0x3000+2";

class ProgramBlocksTest : public DfuTest {
protected:
    // A boot-loader device with its serial number at 0x4000, a 0x5800-byte image flagged at 0x3000,
    // "Update All" checked.
    CFakeZelUsbDevice* SetUpWorkedExample(uint32_t& nMask, int32_t& nFlag)
    {
        CFakeZelUsbDevice* pDevice = AddListedDevice();
        pDevice->bBootLoader = true;
        pDevice->nDefaultSerialAddr = 0x4000;
        dlg->m_bUpdateAll = 1;
        LoadImage(0x5800, 0x3000);
        EXPECT_TRUE(SelectBlocks(dlg.get(), pDevice, nMask, nFlag));
        pDevice->ClearCalls();
        return pDevice;
    }
};

// With and without verification (without "Update All" only the mask differs: SelectBlocksTest).
TEST_F(ProgramBlocksTest, WorkedExample)
{
    for (bool bVerify : {false, true}) {
        SCOPED_TRACE(bVerify);
        dlg->m_bAutoVerify = bVerify;
        uint32_t nMask = 0;
        int32_t nFlag = 0;
        CFakeZelUsbDevice* pDevice = SetUpWorkedExample(nMask, nFlag);
        ASSERT_EQ(nFlag, 0x3000);

        EXPECT_TRUE(ProgramBlocks(dlg.get(), pDevice, nFlag, nMask));
        EXPECT_EQ(WriteList(pDevice), kUpdateAllWrites);
        const auto writes = pDevice->Writes();
        // The flag's own block goes out with the flag word cleared.
        std::vector<uint8_t> flagBlock = Pattern(0x3000, 4096);
        flagBlock[0] = flagBlock[1] = 0xFF;
        const std::vector<std::vector<uint8_t>> expected = {
            {0xFF, 0xFF}, Pattern(0, 4096),      Pattern(0x1000, 4096), Pattern(0x2000, 4096),
            flagBlock,    Pattern(0x5000, 2048), {0xAA, 0xAA}};
        ASSERT_EQ(writes.size(), expected.size());
        for (size_t i = 0; i < writes.size(); ++i)
            EXPECT_EQ(writes[i].data, expected[i]) << i;
        EXPECT_THAT(ImageBytes(0x3000, 2), ElementsAre(0xAA, 0xAA));
        for (const auto& w : writes)
            EXPECT_EQ(w.bVerify, bVerify);
    }
}

class ProgramExtentTest : public DfuTest, public ::testing::WithParamInterface<ExtentRow> {};

TEST_P(ProgramExtentTest, Writes)
{
    const ExtentRow& row = GetParam();
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    LoadImage(row.nImageSize, row.nFlagAt);
    if (row.nFlagAt >= 0)
        dlg->m_pImageData[row.nFlagAt + 1] = row.nSecond;
    EXPECT_TRUE(ProgramBlocks(dlg.get(), pDevice, row.nFlagOffset, row.nMask));
    EXPECT_EQ(WriteList(pDevice), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProgramExtentTest, ::testing::ValuesIn(kExtentRows), RowName());

// A failed block or flag write leaves the image's flag word as it was, and the next attempt runs the
// whole flag protocol again.
TEST_F(ProgramBlocksTest, FailedWritesRestoreTheFlagWord)
{
    const struct {
        std::deque<bool> qWrite, qWriteFlag;
        std::string writes;
    } cases[] = {
        {{true, true, true, true, false}, {}, "W 0x3000+2, W 0x0000+4096, W 0x1000+4096, W 0x2000+4096, W 0x3000+4096"},
        {{false}, {}, "W 0x3000+2"},
        {{}, {false}, kUpdateAllWrites},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.writes);
        uint32_t nMask = 0;
        int32_t nFlag = 0;
        CFakeZelUsbDevice* pDevice = SetUpWorkedExample(nMask, nFlag);
        pDevice->qWrite = c.qWrite;
        pDevice->qWriteFlag = c.qWriteFlag;
        EXPECT_FALSE(ProgramBlocks(dlg.get(), pDevice, nFlag, nMask));
        EXPECT_EQ(WriteList(pDevice), c.writes);
        EXPECT_THAT(ImageBytes(0x3000, 2), ElementsAre(0xAA, 0xAA));
        pDevice->ClearCalls();
        EXPECT_TRUE(ProgramBlocks(dlg.get(), pDevice, nFlag, nMask));
        EXPECT_EQ(WriteList(pDevice), kUpdateAllWrites);
    }
}
