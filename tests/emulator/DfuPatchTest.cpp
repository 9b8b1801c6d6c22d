#include "emulator/DfuPatch.h"

#include "emulator/SimTestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(DfuPatch, BuiltPatchIsAcceptedByItsControllerOnlyAndWhenUndamaged)
{
    const std::vector<uint8_t> patch = BuildDfuPatch(3, "ZA4800", DefaultDfuPatchPayload("ZA4800"));
    const auto size = static_cast<uint32_t>(patch.size());
    EXPECT_EQ(CheckDfuPatch(patch.data(), size, 3, "ZA4800"), DfuPatchCheck::Accepted);
    EXPECT_EQ(CheckDfuPatch(patch.data(), size, 2, "ZA4800"), DfuPatchCheck::OtherController);
    EXPECT_EQ(CheckDfuPatch(patch.data(), size, 3, "ZA3600"), DfuPatchCheck::OtherController);

    // Damaged patches are refused.
    const std::vector<uint8_t>& good = patch;
    struct Case {
        const char* what;
        size_t flip;  // byte to change; SIZE_MAX: cut the file short instead
    };
    const Case cases[] = {{"magic", 0},
                          {"header field", 8},
                          {"header checksum", 44},
                          {"payload", 100},
                          {"last payload byte", good.size() - 1},
                          {"cut short", SIZE_MAX}};
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = good;
        if (c.flip == SIZE_MAX)
            bad.resize(bad.size() - 10);
        else
            bad[c.flip] ^= 0x01;
        EXPECT_EQ(CheckDfuPatch(bad.data(), static_cast<uint32_t>(bad.size()), 3, "ZA4800"), DfuPatchCheck::Damaged)
            << c.what;
    }
    EXPECT_EQ(CheckDfuPatch(good.data(), 20, 3, "ZA4800"), DfuPatchCheck::Damaged);
    EXPECT_EQ(CheckDfuPatch(nullptr, 0, 3, "ZA4800"), DfuPatchCheck::Damaged);
}

}  // namespace
