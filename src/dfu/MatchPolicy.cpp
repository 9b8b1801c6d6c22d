#include "dfu/MatchPolicy.h"

namespace {

const MatchPolicyRow kRows[] = {
    {MATCH_VENDOR_ID, "Vendor ID", "Vendor ID of firmware doesn't match device vendor ID!"},
    {MATCH_PRODUCT_ID, "Product ID", "Product ID of firmware doesn't match device product ID!"},
    {MATCH_VERSION, "Version", "Version of firmware is older than device version!"},
    {MATCH_SUBVERSION, "Subversion", "Sub-version of firmware doesn't match device sub-version!"},
    {MATCH_CHIPSET, "Chipset Type", "Chipset of firmware doesn't match device chipset!"},
};

}  // namespace

std::span<const MatchPolicyRow> MatchRows()
{
    return kRows;
}

bool RowPasses(uint32_t nBit, const _ZEL_USB_DEV_INFO& image, uint32_t nDeviceValue)
{
    switch (nBit) {
    case MATCH_VENDOR_ID:
        return image.wVendorId == nDeviceValue;
    case MATCH_PRODUCT_ID:
        return image.wProductId == nDeviceValue;
    case MATCH_VERSION:
        // Only the low half of the image's version takes part; the image may be newer, not older.
        return (image.dwVersion & 0xFFFF) >= nDeviceValue;
    case MATCH_SUBVERSION:
        return ((image.dwSubVersion ^ nDeviceValue) & 0xFFFFFF00u) == 0;
    case MATCH_CHIPSET:
        // The image's two chip bytes form one number that is held against the controller index alone.
        return image.byChip[0] * 256u + image.byChip[1] == nDeviceValue;
    default:
        return true;
    }
}

const MatchPolicyRow* FirstMismatch(uint32_t nPolicy, const _ZEL_USB_DEV_INFO& image,
                                    const DeviceValueQuery& deviceValue)
{
    for (const MatchPolicyRow& row : kRows)
        if ((nPolicy & row.nBit) != 0 && !RowPasses(row.nBit, image, deviceValue(row.nBit)))
            return &row;
    return nullptr;
}

std::vector<MatchVerdict> MatchVerdicts(uint32_t nPolicy, const _ZEL_USB_DEV_INFO& image,
                                        const DeviceValueQuery& deviceValue)
{
    std::vector<MatchVerdict> verdicts;
    for (const MatchPolicyRow& row : kRows) {
        if ((nPolicy & row.nBit) == 0)
            verdicts.push_back(MatchVerdict::NotChecked);
        else
            verdicts.push_back(RowPasses(row.nBit, image, deviceValue(row.nBit)) ? MatchVerdict::Pass
                                                                                 : MatchVerdict::Fail);
    }
    return verdicts;
}
