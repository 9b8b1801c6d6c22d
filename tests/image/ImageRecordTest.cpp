// The identity record: layout, search, damage, stamping and file parsing.
#include "image/ZelFirmwareApi.h"
#include "support/WindowFixture.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>

namespace {

const _ZEL_USB_DEV_INFO kInfo{0x2fe3, 0x1200, 0xABCD0106, 0x12000134, {0x00, 0x02}, {1, 2, 3, 4, 5, 6}};

bool SameInfo(const _ZEL_USB_DEV_INFO& a, const _ZEL_USB_DEV_INFO& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::vector<uint8_t> Erased(size_t nSize)
{
    return std::vector<uint8_t>(nSize, 0xFF);
}

// Files go to the test run's scratch folder; every test uses names of its own.
std::filesystem::path WriteFile(const std::string& name, const std::vector<uint8_t>& bytes)
{
    WriteFileBytes(TempPath(name), bytes);
    return TempPath(name);
}

}  // namespace

TEST(ImageRecord, LayoutIsLittleEndianAndEveryDamageMakesItNoIdentity)
{
    uint8_t rec[kImageRecordSize];
    EncodeImageRecord(kInfo, rec);
    const uint8_t expectedHead[] = {'Z',  'E',  'L',  'I',  'M',  'G',  'I',  'D',  1,    0,    36,
                                    0,    0xe3, 0x2f, 0x00, 0x12, 0x06, 0x01, 0xCD, 0xAB, 0x34, 0x01,
                                    0x00, 0x12, 0x00, 0x02, 1,    2,    3,    4,    5,    6};
    ASSERT_EQ(std::memcmp(rec, expectedHead, sizeof expectedHead), 0);
    _ZEL_USB_DEV_INFO decoded{};
    ASSERT_TRUE(DecodeImageRecord(rec, sizeof rec, decoded));
    EXPECT_TRUE(SameInfo(decoded, kInfo));

    // Any single damaged byte, a truncation (the longest: one byte short) and any other layout make the
    // record unusable.
    for (size_t i = 0; i < kImageRecordSize; ++i) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            uint8_t damaged[kImageRecordSize];
            std::memcpy(damaged, rec, sizeof rec);
            damaged[i] ^= flip;
            _ZEL_USB_DEV_INFO info{};
            EXPECT_FALSE(DecodeImageRecord(damaged, sizeof damaged, info)) << "byte " << i;
            EXPECT_FALSE(FindImageRecord(damaged, sizeof damaged, info)) << "byte " << i;
        }
    }
    EXPECT_FALSE(DecodeImageRecord(rec, kImageRecordSize - 1, decoded));
    // A writer of another format: the checksum is right, the version or size is not this one.
    for (auto patch : {std::pair<size_t, uint8_t>{8, 2}, std::pair<size_t, uint8_t>{10, 40}}) {
        uint8_t other[kImageRecordSize];
        std::memcpy(other, rec, sizeof rec);
        other[patch.first] = patch.second;
        const uint32_t nCrc = static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), other, 32));
        for (int i = 0; i < 4; ++i)
            other[32 + i] = static_cast<uint8_t>(nCrc >> (8 * i));
        _ZEL_USB_DEV_INFO info{};
        EXPECT_FALSE(DecodeImageRecord(other, sizeof other, info)) << patch.first;
    }
}

TEST(ImageRecord, SearchFindsTheLastIntactRecordAnywhereAndNothingElse)
{
    std::vector<uint8_t> image = Erased(8192);
    _ZEL_USB_DEV_INFO older = kInfo;
    older.dwVersion = 0x0100;
    EncodeImageRecord(older, image.data() + 100);
    EncodeImageRecord(kInfo, image.data() + 5000);
    _ZEL_USB_DEV_INFO found{};
    size_t nOffset = 0;
    ASSERT_TRUE(FindImageRecord(image.data(), image.size(), found, &nOffset));
    EXPECT_EQ(nOffset, 5000u);
    EXPECT_TRUE(SameInfo(found, kInfo));

    image[5000 + 20] ^= 0x10;  // the newer record is damaged: the older one counts
    ASSERT_TRUE(FindImageRecord(image.data(), image.size(), found, &nOffset));
    EXPECT_EQ(nOffset, 100u);
    EXPECT_EQ(found.dwVersion, 0x0100u);

    // A magic without a record and a trailer cut off by the end of the image are no identity.
    image = Erased(4096);
    std::memcpy(image.data() + 10, kImageRecordMagic, sizeof kImageRecordMagic);
    uint8_t rec[kImageRecordSize];
    EncodeImageRecord(kInfo, rec);
    std::memcpy(image.data() + image.size() - 20, rec, 20);
    _ZEL_USB_DEV_INFO info = kInfo;
    EXPECT_FALSE(FindImageRecord(image.data(), image.size(), info));
    EXPECT_TRUE(SameInfo(info, kInfo)) << "untouched on failure";
    EXPECT_FALSE(FindImageRecord(nullptr, 0, info));
}

TEST(ImageStamp, TakesTheErasedTrailerThenReplacesInPlaceAndAppendsOnlyWhenAllowed)
{
    std::vector<uint8_t> image = Erased(65536);
    image[0x3000] = image[0x3001] = 0xAA;
    ASSERT_EQ(StampImageRecord(image, kInfo, false), StampResult::Trailer);
    EXPECT_EQ(image.size(), 65536u);
    EXPECT_EQ(image[0x3000], 0xAA);
    size_t nOffset = 0;
    _ZEL_USB_DEV_INFO found{};
    ASSERT_TRUE(FindImageRecord(image.data(), image.size(), found, &nOffset));
    EXPECT_EQ(nOffset, 65536u - kImageRecordSize);

    _ZEL_USB_DEV_INFO newer = kInfo;
    newer.dwVersion = 0x0200;
    ASSERT_EQ(StampImageRecord(image, newer, false), StampResult::Replaced);
    EXPECT_EQ(image.size(), 65536u);
    ASSERT_TRUE(FindImageRecord(image.data(), image.size(), found));
    EXPECT_EQ(found.dwVersion, 0x0200u);

    // No room: data is never overwritten, unless appending is allowed.
    image.assign(4096, 0x5A);
    const std::vector<uint8_t> original = image;
    EXPECT_EQ(StampImageRecord(image, kInfo, false), StampResult::NoRoom);
    EXPECT_EQ(image, original);
    EXPECT_EQ(StampImageRecord(image, kInfo, true), StampResult::Appended);
    ASSERT_EQ(image.size(), 4096u + kImageRecordSize);
    EXPECT_TRUE(std::equal(original.begin(), original.end(), image.begin()));
    EXPECT_TRUE(FindImageRecord(image.data(), image.size(), found));

    std::vector<uint8_t> tiny(10, 0xFF);
    EXPECT_EQ(StampImageRecord(tiny, kInfo, false), StampResult::NoRoom);
}

// The file is read in 1 MiB chunks: a record across a boundary is found, and a later record wins.
TEST(FirmwareImageFile, ParsesTheLastRecordEvenAcrossTheReadChunks)
{
    std::vector<uint8_t> image(3u << 20, 0x00);
    _ZEL_USB_DEV_INFO older = kInfo;
    older.dwVersion = 1;
    EncodeImageRecord(older, image.data() + 64);
    EncodeImageRecord(kInfo, image.data() + (1u << 20) - 10);
    const auto path = WriteFile("big.bin", image);
    _ZEL_USB_DEV_INFO info{};
    ASSERT_TRUE(CZelFirmwareImage(path).ParseImageInfo(&info));
    EXPECT_TRUE(SameInfo(info, kInfo));
}

// Missing, empty and other unreadable files: HostileReaderTest.
TEST(FirmwareImageFile, UnstampedFilesLeaveTheRecordAloneAndWidePathsOpen)
{
    _ZEL_USB_DEV_INFO untouched{};
    untouched.wVendorId = 0x7777;
    EXPECT_FALSE(CZelFirmwareImage(WriteFile("plain.bin", Erased(70000))).ParseImageInfo(&untouched));
    EXPECT_EQ(untouched.wVendorId, 0x7777);
    EXPECT_FALSE(CZelFirmwareImage(static_cast<const char16_t*>(nullptr)).ParseImageInfo(nullptr));

    // Wide-character paths are opened.
    std::vector<uint8_t> image = Erased(4096);
    ASSERT_EQ(StampImageRecord(image, kInfo, false), StampResult::Trailer);
    _ZEL_USB_DEV_INFO info{};
    EXPECT_TRUE(CZelFirmwareImage(WriteFile("Bild-ä€.bin", image).u16string().c_str()).ParseImageInfo(&info));
}
