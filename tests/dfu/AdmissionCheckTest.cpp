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
    {"AllBitsMatching", 0x10F, kMatching, kDevice, nullptr, kAllAsks},
    {"VendorBeforeProduct", 0x3, Image(0x1111, 0x2222, 0, 0, 0, 0), kDevice, kVendorMsg, "GetVendorID"},
    {"ProductAlone", 0x2, Image(0x1111, 0x2222, 0, 0, 0, 0), kDevice, kProductMsg, "GetProductID"},
    {"EqualVersionsPass", 0x4, Image(0, 0, 0x0002, 0, 0, 0), Dev(0, 0, 0x0002, 0, 0), nullptr, "GetVersion"},
    {"OlderVersionFails", 0x4, Image(0, 0, 0x0001, 0, 0, 0), Dev(0, 0, 0x0002, 0, 0), kVersionMsg, "GetVersion"},
    {"VersionComparedUnsigned", 0x4, Image(0, 0, 0x0100, 0, 0, 0), Dev(0, 0, 0x00FF, 0, 0), nullptr, "GetVersion"},
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
