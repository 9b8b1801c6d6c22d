// Reading an image's identity: the in-memory search over an image of N bytes with its record at the
// end (the usual place, found at once), the same search over an image without a record (every byte
// looked at), and the file parse, which reads the file in 1 MiB pieces.
//
//   build/<dir>/bench/image/image_bench
#include "image/ZelFirmwareApi.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace {

const _ZEL_USB_DEV_INFO kInfo{0x2fe3, 0x1200, 0x0106, 0x12000100, {0, 0}, {}};

std::vector<uint8_t> StampedImage(size_t nSize)
{
    std::vector<uint8_t> image(nSize, 0xFF);
    for (size_t i = 0; i + 4096 < nSize; ++i)
        image[i] = static_cast<uint8_t>(i * 131);
    StampImageRecord(image, kInfo, false);
    return image;
}

// One file per size, made once and removed at exit.
const std::filesystem::path& ImageFile(size_t nSize)
{
    struct Files {
        std::filesystem::path dir = std::filesystem::temp_directory_path() / "quillon-image-bench";
        std::map<size_t, std::filesystem::path> paths;
        ~Files() { std::filesystem::remove_all(dir); }
    };
    static Files files;
    auto it = files.paths.find(nSize);
    if (it != files.paths.end())
        return it->second;
    std::filesystem::create_directories(files.dir);
    const auto path = files.dir / (std::to_string(nSize) + ".bin");
    const std::vector<uint8_t> image = StampedImage(nSize);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    return files.paths.emplace(nSize, path).first->second;
}

void BM_FindRecordInMemory(benchmark::State& state)
{
    const std::vector<uint8_t> image = StampedImage(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        _ZEL_USB_DEV_INFO info{};
        benchmark::DoNotOptimize(FindImageRecord(image.data(), image.size(), info));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// The worst case: no record anywhere, so every byte is looked at.
void BM_ScanImageWithoutRecord(benchmark::State& state)
{
    std::vector<uint8_t> image(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 131);
    for (auto _ : state) {
        _ZEL_USB_DEV_INFO info{};
        benchmark::DoNotOptimize(FindImageRecord(image.data(), image.size(), info));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_ParseImageFile(benchmark::State& state)
{
    const std::filesystem::path& path = ImageFile(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        _ZEL_USB_DEV_INFO info{};
        if (!CZelFirmwareImage(path).ParseImageInfo(&info))
            state.SkipWithError("no identity");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(BM_FindRecordInMemory)->Arg(64 << 10)->Arg(128 << 10)->Arg(16 << 20);
BENCHMARK(BM_ScanImageWithoutRecord)->Arg(128 << 10)->Arg(16 << 20);
BENCHMARK(BM_ParseImageFile)->Arg(64 << 10)->Arg(128 << 10)->Arg(16 << 20)->Arg(64 << 20);
BENCHMARK_MAIN();
