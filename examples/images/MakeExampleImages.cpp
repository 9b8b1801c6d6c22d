// Writes the example firmware images into the folder given as the only argument: one stamped image
// per example device, one for a device that none of them is, and one without an identity record.
// The committed files in examples/images are its output; run the target quillon_example_images to
// remake them after a change here.
#include "image/ZelFirmwareApi.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

struct ExampleImage {
    const char* pszFile;
    uint32_t nSize;
    bool bStamped;
    _ZEL_USB_DEV_INFO info;
    std::vector<uint32_t> flagOffsets;
};

// Filler that differs per image and per block but compresses well in the repository; the last 4 KB
// are erased flash.
std::vector<uint8_t> MakeBody(uint32_t nSize, uint32_t nSeed)
{
    std::vector<uint8_t> image(nSize, 0xFF);
    for (uint32_t i = 0; i + 4096 < nSize; ++i)
        image[i] = static_cast<uint8_t>((i % 251) ^ ((i >> 12) * 17) ^ (nSeed * 29));
    return image;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const std::vector<ExampleImage> images = {
        {"za1200-fw-0106.bin", 0x20000, true, {0x2fe3, 0x1200, 0x0106, 0x12000100, {0x00, 0x00}, {}}, {0x3000}},
        {"za2400-fw-0211.bin", 0x10000, true, {0x2fe3, 0x2400, 0x0211, 0x24000000, {0x00, 0x01}, {}}, {0x3000}},
        {"za3600-fw-0301.bin", 0x10000, true, {0x2fe3, 0x3600, 0x0301, 0x36000000, {0x00, 0x02}, {}}, {0x2000, 0x3000}},
        {"za4800-fw-0101.bin", 0x10000, true, {0x2fe4, 0x4800, 0x0101, 0x48000000, {0x00, 0x03}, {}}, {0x3000}},
        {"za9900-fw-0100.bin", 0x10000, true, {0x2fe3, 0x9900, 0x0100, 0x99000000, {0x00, 0x07}, {}}, {0x3000}},
        {"no-identity.bin", 0x10000, false, {}, {0x3000}},
    };
    uint32_t nSeed = 1;
    for (const ExampleImage& example : images) {
        std::vector<uint8_t> image = MakeBody(example.nSize, nSeed++);
        for (uint32_t nOffset : example.flagOffsets) {
            image[nOffset] = 0xAA;
            image[nOffset + 1] = 0xAA;
        }
        if (example.bStamped && StampImageRecord(image, example.info, false) != StampResult::Trailer) {
            std::fprintf(stderr, "%s: cannot stamp\n", example.pszFile);
            return 1;
        }
        std::ofstream out(folder / example.pszFile, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        if (!out) {
            std::fprintf(stderr, "%s: cannot write\n", example.pszFile);
            return 1;
        }
    }
    return 0;
}
