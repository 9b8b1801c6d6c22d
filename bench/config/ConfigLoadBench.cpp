// Start-up loading of large configurations: Quillon.ini with N known IDs, N DFU patch entries and
// 3 x N/20 names, and a zel.dat of N chip lines, loaded through the real file reader (parsing
// included, since every run starts with a fresh reader).
//
//   build/<dir>/bench/config/config_bench
#include "app/QuillonDlg.h"
#include "app/WindowConfig.h"
#include "config/FlashTable.h"
#include "platform/ProfileReader.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>

#include <map>
#include <memory>

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// One folder per size, made once: Quillon.ini and zel.dat as an executable's folder holds them.
const QTemporaryDir& DataFolder(int nEntries)
{
    static std::map<int, std::unique_ptr<QTemporaryDir>> folders;
    auto& pDir = folders[nEntries];
    if (pDir)
        return *pDir;
    pDir = std::make_unique<QTemporaryDir>();

    QByteArray ini;
    ini.reserve(nEntries * 110);
    ini += "[KnownIDs]\nNum=" + QByteArray::number(nEntries) + "\n";
    for (int i = 0; i < nEntries; ++i)
        ini += "ID" + QByteArray::number(i) + "=0x2fe3, 0x" + QByteArray::number(i & 0xffff, 16) + ", 0xff000001\n";
    ini += "[DfuPatchInfos]\nNum=" + QByteArray::number(nEntries) + "\n";
    for (int i = 0; i < nEntries; ++i)
        ini += "Info" + QByteArray::number(i) + "=0x2fe4, 0x" + QByteArray::number(i & 0xffff, 16) +
               ", 0x0100, 0x48000000, 0x03, 0x81\n";
    const int nNames = nEntries / 20;
    ini += "[ChipsetInfo]\n";
    for (const char* pszWord : {"Controller", "HDCodec", "IISCodec"}) {
        ini += QByteArray(pszWord) + "Num=" + QByteArray::number(nNames) + "\n";
        for (int i = 0; i < nNames; ++i)
            ini += QByteArray(pszWord) + "Name" + QByteArray::number(i) + "=" + pszWord + "-" + QByteArray::number(i) +
                   "\n";
    }

    QByteArray table = "Chip generated table\n";
    table.reserve(nEntries * 130);
    for (int i = 0; i < nEntries; ++i)
        table += "Chip " + QByteArray::number(i) + ", 0x" + QByteArray::number(0xEF0000 + (i & 0xffff), 16) +
                 ", 0x800, 0x1000, 0x03, 0x06, 0x04, 0x05, 0x01, 0x03, 0x0B, 0x02, 0x20, 0x52, 0xD8, 0xC7, 0x9F, "
                 "0xB9, 0xAB, 0x90, 0x35, 0x50, 0x00\n";
    EncryptFlashTable(reinterpret_cast<uint8_t*>(table.data()), static_cast<int32_t>(table.size()));

    if (!WriteFile(pDir->filePath("Quillon.ini"), ini) || !WriteFile(pDir->filePath("zel.dat"), table))
        pDir.reset();
    return *pDir;
}

void BM_LoadConfiguration(benchmark::State& state)
{
    const int nEntries = static_cast<int>(state.range(0));
    const QString moduleDir = DataFolder(nEntries).path() + u'/';
    for (auto _ : state) {
        std::unique_ptr<IProfileReader> profile = CreateFileProfileReader();
        CQuillonEnv env;
        env.pProfile = profile.get();
        auto pDlg = std::make_unique<CQuillonDlg>(env);
        pDlg->m_strModuleDir = moduleDir;
        if (!LoadConfiguration(pDlg.get()))
            state.SkipWithError("the generated configuration did not load");
        benchmark::DoNotOptimize(pDlg->m_pFlashInfo);
        state.PauseTiming();
        pDlg.reset();
        state.ResumeTiming();
    }
    state.counters["entries"] = nEntries;
}

BENCHMARK(BM_LoadConfiguration)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
