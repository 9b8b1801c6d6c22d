// The identity comparison of the match policy: which rows a policy checks, what each compares and the
// first row whose comparison fails. The device's side of a row is asked for only when the row is checked.
#pragma once

#include "device/ZelHidApi.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

// Bits of the match policy; each switches one comparison on.
constexpr uint32_t MATCH_VENDOR_ID = 0x1;
constexpr uint32_t MATCH_PRODUCT_ID = 0x2;
constexpr uint32_t MATCH_VERSION = 0x4;
constexpr uint32_t MATCH_SUBVERSION = 0x8;
constexpr uint32_t MATCH_CHIPSET = 0x100;

struct MatchPolicyRow {
    uint32_t nBit;
    const char* pszName;     // as the command line shows it
    const char* pszMessage;  // the refusal the window shows
};

// The rows in the order they are checked.
std::span<const MatchPolicyRow> MatchRows();

// The device's value for a row: vendor ID, product ID, version, sub-version, or the controller index
// (the effective chipset type's high byte) for MATCH_CHIPSET.
using DeviceValueQuery = std::function<uint32_t(uint32_t nBit)>;

// Whether the image passes one row against the device's value for it.
bool RowPasses(uint32_t nBit, const _ZEL_USB_DEV_INFO& image, uint32_t nDeviceValue);

// The first row of the policy that fails, or null when every checked row passes. Rows after it are
// not asked for.
const MatchPolicyRow* FirstMismatch(uint32_t nPolicy, const _ZEL_USB_DEV_INFO& image,
                                    const DeviceValueQuery& deviceValue);

enum class MatchVerdict { NotChecked, Pass, Fail };

// Every row's verdict, in MatchRows() order, each checked row compared on its own.
std::vector<MatchVerdict> MatchVerdicts(uint32_t nPolicy, const _ZEL_USB_DEV_INFO& image,
                                        const DeviceValueQuery& deviceValue);
