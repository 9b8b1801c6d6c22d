#include "dfu/AdmissionCheck.h"
#include "support/ParamNames.h"
#include "support/WindowFixture.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

_ZEL_USB_DEV_INFO Image(uint16_t vid, uint16_t pid, uint32_t version, uint32_t subversion, uint8_t chip0, uint8_t chip1)
{
    return {vid, pid, version, subversion, {chip0, chip1}, {}};
}

struct Identity {
    uint16_t nVendor, nProduct, nVersion;
    uint32_t nSubVersion;
    uint16_t nChipset;
};

struct MatchRow {
    const char* pszName;
    uint32_t nPolicy;
    _ZEL_USB_DEV_INFO image;
    Identity device;
    const char* pszMessage;  // null: admitted
    const char* pszAsks;     // the device's identity queries, in order
    friend void PrintTo(const MatchRow& row, std::ostream* os) { *os << row.pszName; }
};

const char* const kVendorMsg = "Vendor ID of firmware doesn't match device vendor ID!";
const char* const kVersionMsg = "Version of firmware is older than device version!";
const char* const kSubVersionMsg = "Sub-version of firmware doesn't match device sub-version!";
const char* const kChipsetMsg = "Chipset of firmware doesn't match device chipset!";
const char* const kProductMsg = "Product ID of firmware doesn't match device product ID!";

const _ZEL_USB_DEV_INFO kMatching = Image(0x0d8c, 0x0001, 0x0100, 0x00001000, 0x00, 0x03);
Identity Dev(uint16_t nVendor, uint16_t nProduct, uint16_t nVersion, uint32_t nSubVersion, uint16_t nChipset)
{
    return {nVendor, nProduct, nVersion, nSubVersion, nChipset};
}
const Identity kDevice = Dev(0x0d8c, 1, 0x100, 0x1000, 0x0305);
const char* const kAllAsks = "GetVendorID GetProductID GetVersion GetSubVersion GetChipsetType";
const MatchRow kMatchRows[] = {
    {"PolicyZeroAdmitsAnything", 0, _ZEL_USB_DEV_INFO{}, kDevice, nullptr, ""},
    {"UnknownBitAsksNothing", 0x10, Image(1, 2, 3, 4, 5, 6), kDevice, nullptr, ""},
    {"AllBitsMatching", 0x10F, kMatching, kDevice, nullptr, kAllAsks},
    {"VendorBeforeProduct", 0x3, Image(0x1111, 0x2222, 0, 0, 0, 0), kDevice, kVendorMsg, "GetVendorID"},
    {"ProductAlone", 0x2, Image(0x1111, 0x2222, 0, 0, 0, 0), kDevice, kProductMsg, "GetProductID"},
    {"EqualVersionsPass", 0x4, Image(0, 0, 0x0002, 0, 0, 0), Dev(0, 0, 0x0002, 0, 0), nullptr, "GetVersion"},
    {"OlderVersionFails", 0x4, Image(0, 0, 0x0001, 0, 0, 0), Dev(0, 0, 0x0002, 0, 0), kVersionMsg, "GetVersion"},
    {"VersionComparedUnsigned", 0x4, Image(0, 0, 0x0100, 0, 0, 0), Dev(0, 0, 0x00FF, 0, 0), nullptr, "GetVersion"},
    {"VersionNotUnsignedOlder", 0x4, Image(0, 0, 0x00FF, 0, 0, 0), Dev(0, 0, 0x0100, 0, 0), kVersionMsg, "GetVersion"},
    {"VersionHighHalfIgnored", 0x4, Image(0, 0, 0xFFFF0002, 0, 0, 0), Dev(0, 0, 2, 0, 0), nullptr, "GetVersion"},
    {"VersionHighHalfDoesNotHelp", 0x4, Image(0, 0, 0x00050001, 0, 0, 0), Dev(0, 0, 2, 0, 0), kVersionMsg,
     "GetVersion"},
    {"SubVersionLowByteIgnored", 0x8, Image(0, 0, 0, 0x120001FF, 0, 0), Dev(0, 0, 0, 0x12000100, 0), nullptr,
     "GetSubVersion"},
    {"SubVersionBit8Differs", 0x8, Image(0, 0, 0, 0x12000000, 0, 0), Dev(0, 0, 0, 0x12000100, 0), kSubVersionMsg,
     "GetSubVersion"},
    {"ChipsetControllerIndexPasses", 0x100, Image(0, 0, 0, 0, 0x00, 0x03), Dev(0, 0, 0, 0, 0x0305), nullptr,
     "GetChipsetType"},
    {"ChipsetWholeTypeFails", 0x100, Image(0, 0, 0, 0, 0x03, 0x05), Dev(0, 0, 0, 0, 0x0305), kChipsetMsg,
     "GetChipsetType"},
    {"LaterRowsNotEvaluated", 0x10C, Image(0, 0, 0x0001, 0x99999999, 0x7, 0x7), Dev(0, 0, 2, 0, 0), kVersionMsg,
     "GetVersion"},
};

}  // namespace

class CheckImageMatchTest : public DfuTest, public ::testing::WithParamInterface<MatchRow> {};

TEST_P(CheckImageMatchTest, AdmitsOrNamesTheFirstDifference)
{
    const MatchRow& row = GetParam();
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    pDevice->nVendorId = row.device.nVendor;
    pDevice->nProductId = row.device.nProduct;
    pDevice->nVersion = row.device.nVersion;
    pDevice->nSubVersion = row.device.nSubVersion;
    pDevice->nChipsetType = row.device.nChipset;
    pDevice->ClearCalls();
    dlg->m_nMatchPolicy = row.nPolicy;
    dlg->m_ImageInfo = row.image;

    EXPECT_EQ(CheckImageMatch(dlg.get(), pDevice), row.pszMessage == nullptr);
    if (row.pszMessage == nullptr)
        EXPECT_TRUE(Boxes().empty());
    else
        EXPECT_THAT(Boxes(), ElementsAre(row.pszMessage));
    std::string asks;
    for (const std::string& name : pDevice->CallNames())
        asks += (asks.empty() ? "" : " ") + name;
    EXPECT_EQ(asks, row.pszAsks);
    EXPECT_TRUE(Traces().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, CheckImageMatchTest, ::testing::ValuesIn(kMatchRows), RowName());

// A device without a chipset type is controller 0 unless the configuration names one for its sub-version.
TEST_F(DfuTest, ChipsetFallback)
{
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    pDevice->nChipsetType = 0;
    pDevice->nSubVersion = 0x36000021;
    dlg->m_nMatchPolicy = MATCH_CHIPSET;
    dlg->m_ImageInfo = Image(0, 0, 0, 0, 0x00, 0x00);
    EXPECT_TRUE(CheckImageMatch(dlg.get(), pDevice));
    profile.Set("ChipsetInfo", "SUBV_36000000", "0x0202");
    EXPECT_FALSE(CheckImageMatch(dlg.get(), pDevice));
    dlg->m_ImageInfo = Image(0, 0, 0, 0, 0x00, 0x02);
    EXPECT_TRUE(CheckImageMatch(dlg.get(), pDevice));
}

// The dry run's verdicts: every checked row is compared on its own, also after a failing one, and only
// checked rows are asked of the device.
TEST(MatchVerdicts, EveryRowOnItsOwn)
{
    using V = MatchVerdict;
    struct Row {
        uint32_t nPolicy;
        _ZEL_USB_DEV_INFO image;
        std::vector<V> expected;
        uint32_t nFirstMismatch;  // 0: none
    };
    // The device: vendor 0x0d8c, product 1, version 0x100, sub-version 0x1000, controller 3.
    const Row rows[] = {
        {0, Image(1, 2, 3, 4, 5, 6), {V::NotChecked, V::NotChecked, V::NotChecked, V::NotChecked, V::NotChecked}, 0},
        {0x10F, kMatching, {V::Pass, V::Pass, V::Pass, V::Pass, V::Pass}, 0},
        {0x10F, Image(0x1111, 1, 0x00FF, 0x1000, 0, 4), {V::Fail, V::Pass, V::Fail, V::Pass, V::Fail}, MATCH_VENDOR_ID},
        {0x10C,
         Image(0, 0, 0x0100, 0x12001000, 0, 3),
         {V::NotChecked, V::NotChecked, V::Pass, V::Fail, V::Pass},
         MATCH_SUBVERSION},
    };
    const uint32_t device[] = {0x0d8c, 1, 0x100, 0x1000, 3};
    for (const Row& row : rows) {
        std::vector<uint32_t> asked;
        auto query = [&](uint32_t nBit) {
            asked.push_back(nBit);
            for (size_t i = 0; i < MatchRows().size(); ++i)
                if (MatchRows()[i].nBit == nBit)
                    return device[i];
            return 0u;
        };
        EXPECT_EQ(MatchVerdicts(row.nPolicy, row.image, query), row.expected) << row.nPolicy;
        for (uint32_t nBit : asked)
            EXPECT_NE(row.nPolicy & nBit, 0u) << "asked for an unchecked row";
        const MatchPolicyRow* pFirst = FirstMismatch(row.nPolicy, row.image, query);
        EXPECT_EQ(pFirst != nullptr ? pFirst->nBit : 0u, row.nFirstMismatch) << row.nPolicy;
    }
}
