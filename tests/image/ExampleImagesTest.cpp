// The committed example images carry the identities of the example devices.
#include "image/ZelFirmwareApi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

struct ExampleCase {
    const char* pszFile;
    size_t nSize;
    uint32_t nFlagOffset;
    bool bIdentified;
    _ZEL_USB_DEV_INFO info;
};

class ExampleImagesTest : public ::testing::TestWithParam<ExampleCase> {};

}  // namespace

TEST_P(ExampleImagesTest, IdentityFlagWordAndSize)
{
    const ExampleCase& c = GetParam();
    const auto path = std::filesystem::path(QUILLON_SOURCE_DIR) / "examples/images" / c.pszFile;
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(image.size(), c.nSize);
    EXPECT_EQ(image[c.nFlagOffset], 0xAA);
    EXPECT_EQ(image[c.nFlagOffset + 1], 0xAA);
    _ZEL_USB_DEV_INFO info{};
    ASSERT_EQ(CZelFirmwareImage(path).ParseImageInfo(&info), c.bIdentified);
    std::memset(info.byReserved, 0, sizeof info.byReserved);   // carried, never read
    EXPECT_EQ(std::memcmp(&info, &c.info, sizeof info), 0);
}

// Versions are one step newer than the example devices; the chip bytes name the controller index.
INSTANTIATE_TEST_SUITE_P(
    Examples, ExampleImagesTest,
    ::testing::Values(
        ExampleCase{"za1200-fw-0106.bin", 0x20000, 0x3000, true, {0x2fe3, 0x1200, 0x0106, 0x12000100, {0, 0}, {}}},
        ExampleCase{"za2400-fw-0211.bin", 0x10000, 0x3000, true, {0x2fe3, 0x2400, 0x0211, 0x24000000, {0, 1}, {}}},
        ExampleCase{"za3600-fw-0301.bin", 0x10000, 0x2000, true, {0x2fe3, 0x3600, 0x0301, 0x36000000, {0, 2}, {}}},
        ExampleCase{"za4800-fw-0101.bin", 0x10000, 0x3000, true, {0x2fe4, 0x4800, 0x0101, 0x48000000, {0, 3}, {}}},
        ExampleCase{"za9900-fw-0100.bin", 0x10000, 0x3000, true, {0x2fe3, 0x9900, 0x0100, 0x99000000, {0, 7}, {}}},
        ExampleCase{"no-identity.bin", 0x10000, 0x3000, false, {}}),
    [](const auto& info) {
        std::string name = info.param.pszFile;
        name = name.substr(0, name.find('.'));
        std::erase(name, '-');
        return name;
    });
