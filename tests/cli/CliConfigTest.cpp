// config check on sound and broken configurations, and the flash-table commands against the program's
// own loader.
#include "support/CliRunner.h"

#include "app/QuillonDlg.h"
#include "app/WindowConfig.h"
#include "config/FlashTable.h"
#include "platform/FileIo.h"
#include "platform/MemoryPreferenceStore.h"
#include "platform/ProfileReader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const std::string kZelDat = QUILLON_BINARY_DIR "/bin/zel.dat";

class CliConfig : public ::testing::Test {
protected:
    std::string MakeDir(const std::string& name, const std::string& ini, bool bZelDat)
    {
        const std::string dir = scratch.Path(name);
        fs::create_directories(dir);
        if (!ini.empty())
            WriteFileText(dir + "/Quillon.ini", ini);
        if (bZelDat)
            fs::copy_file(kZelDat, dir + "/zel.dat");
        return dir;
    }

    CCliScratch scratch;
};

TEST_F(CliConfig, TheShippedConfigurationLoadsWithoutFindings)
{
    const std::string dir = MakeDir("good", ReadFileText(CCliScratch::SourceDir() + "/examples/Quillon.ini"), true);
    const CliRun run = scratch.Run({"config", "check", dir});
    EXPECT_EQ(run.nExit, 0) << run.strOut << run.strErr;
    EXPECT_EQ(run.strErr, "");
    const std::vector<std::string> lines = run.OutLines();
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0], "Quillon.ini: " + dir + "/Quillon.ini");
    EXPECT_EQ(lines[2], "  KnownIDs:         5 entries");
    EXPECT_EQ(lines[3], "  DfuPatchInfos:    2 entries");
    EXPECT_EQ(lines[4], "  Controller names: 4 entries");
    EXPECT_EQ(lines[5], "  HDCodec names:    4 entries");
    EXPECT_EQ(lines[6], "  IISCodec names:   3 entries");
    EXPECT_EQ(lines.back(), "No findings.");

    // The program's own folder in the build tree is the default.
    const CliRun own = scratch.Run({"--json", "config", "check"});
    EXPECT_EQ(own.nExit, 0) << own.strOut;
    EXPECT_EQ(own.JsonLines().at(0)["zel_dat"], kZelDat);
    EXPECT_EQ(own.JsonLines().at(0)["ok"], true);
}

TEST_F(CliConfig, BrokenConfigurationsAreReportedEntryByEntry)
{
    const std::string longName(300, 'N');
    const std::string ini = "[KnownIDs]\n"
                            "Num=4\n"
                            "ID0=0x2fe3, 0x1200, 0xff000001\n"
                            "ID2=0x2fe3 , 0x2400, 0\n"
                            "ID3=0x2fe3, 0x3600, 0\n"
                            "[DfuPatchInfos]\n"
                            "Num=-1\n"
                            "[ChipsetInfo]\n"
                            "ControllerNum=2x\n"
                            "ControllerName0=" +
                            longName +
                            "\n"
                            "HDCodecNum=1\n"
                            "HDCodecName0=none\n";
    const std::string dir = MakeDir("broken", ini, false);
    const CliRun run = scratch.Run({"--json", "config", "check", dir});
    EXPECT_EQ(run.nExit, 1);
    const nlohmann::json result = run.JsonLines().at(0);
    EXPECT_EQ(result["ok"], false);
    EXPECT_EQ(result["tables"]["KnownIDs"], (nlohmann::json{{"loaded", true}, {"entries", 4}}));
    EXPECT_EQ(result["tables"]["DfuPatchInfos"]["loaded"], false);
    EXPECT_EQ(result["tables"]["IISCodec names"]["loaded"], false);
    EXPECT_EQ(result["tables"]["zel.dat"]["loaded"], false);
    std::vector<std::string> findings;
    for (const auto& f : result["findings"])
        findings.push_back(f["where"].get<std::string>() + ": " + f["text"].get<std::string>());
    const std::vector<std::string> expected = {
        "[KnownIDs] ID1: blank entry: an all-zero record, which ends the table for the device library",
        "[KnownIDs] ID2: only 1 of 3 numbers could be read from \"0x2fe3 , 0x2400, 0\"; the rest are zero",
        "[DfuPatchInfos]: table absent: \"Num\" is missing, zero, negative or too large (-1)",
        "[ChipsetInfo] ControllerNum: \"2x\" is not a plain number; read as 2",
        "[ChipsetInfo] ControllerName0: name of 300 characters, cut at 255 when the program reads it",
        "[ChipsetInfo] ControllerName1: blank name",
        "[ChipsetInfo] IISCodecNum: name list absent: the count is missing, zero or negative (0)",
        "zel.dat: flash chip table absent: file missing",
    };
    EXPECT_EQ(findings, expected);

    // A zel.dat that is not ours, and a folder that does not exist.
    WriteFileText(dir + "/zel.dat", "not a table at all");
    const CliRun bad = scratch.Run({"--json", "config", "check", dir});
    EXPECT_EQ(bad.JsonLines().at(0)["findings"].back()["text"],
              "flash chip table absent: does not decrypt to a table beginning with \"Chip\"");
    const CliRun none = scratch.Run({"config", "check", scratch.Path("nowhere")});
    EXPECT_EQ(none.nExit, 3);
    EXPECT_EQ(none.strErr, "quillon-cli: no such folder: " + scratch.Path("nowhere") + "\n");
}

TEST_F(CliConfig, ShortChipLinesAreFound)
{
    const std::string plain =
        "Chip table\n"
        "Good Chip, 0xEF4014, 0x0400, 0x1000, 0x03, 0x06, 0x04, 0x05, 0x01, 0x03, 0x0B, 0x02, 0x20,"
        " 0x52, 0xD8, 0xC7, 0x9F, 0xB9, 0xAB, 0x90, 0x35, 0x50, 0x00\n"
        "Short Chip, 0xC22015, 0x0800\n";
    WriteFileText(scratch.Path("plain.txt"), plain);
    const std::string dir = MakeDir("short", ReadFileText(CCliScratch::SourceDir() + "/examples/Quillon.ini"), false);
    ASSERT_EQ(scratch.Run({"flash-table", "encrypt", "plain.txt", dir + "/zel.dat"}).nExit, 0);
    const CliRun run = scratch.Run({"config", "check", dir});
    EXPECT_EQ(run.nExit, 0) << run.strOut;
    EXPECT_NE(run.strOut.find("  zel.dat:          2 flash chips\n"), std::string::npos) << run.strOut;
    EXPECT_NE(
        run.strOut.find("  zel.dat chip line 2 (Short Chip): only 2 of 22 numbers could be read; the rest are zero\n"),
        std::string::npos)
        << run.strOut;
}

// The loaded table of a folder, through the program's loader.
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

std::unique_ptr<_FLASH_INFO, FreeDeleter> LoadThroughProgram(const std::string& dir, bool& bResult)
{
    std::unique_ptr<IProfileReader> pProfile = CreateFileProfileReader();
    CMemoryPreferenceStore prefs;
    CQuillonEnv env;
    env.pProfile = pProfile.get();
    env.pPrefs = &prefs;
    CQuillonDlg dlg(env);
    dlg.m_strModuleDir = QString::fromStdString(dir + "/");
    bResult = LoadFlashTable(&dlg);
    return std::unique_ptr<_FLASH_INFO, FreeDeleter>(dlg.m_pFlashInfo.release());
}

TEST_F(CliConfig, FlashTableRoundTripMatchesTheLoader)
{
    const std::string plainPath = CCliScratch::SourceDir() + "/examples/flash-table.txt";
    const std::string dir = scratch.Path("table");
    fs::create_directories(dir);
    const CliRun encrypt = scratch.Run({"--json", "flash-table", "encrypt", plainPath, dir + "/zel.dat"});
    ASSERT_EQ(encrypt.nExit, 0) << encrypt.strErr;
    const int nChips = encrypt.JsonLines().at(0)["chips"];
    EXPECT_GT(nChips, 20);

    // The loader reads exactly the records the plain text parses into.
    bool bLoaded = false;
    auto loaded = LoadThroughProgram(dir, bLoaded);
    ASSERT_TRUE(bLoaded);
    const std::string plain = ReadFileText(plainPath);
    int nParsed = 0;
    std::unique_ptr<_FLASH_INFO, FreeDeleter> parsed(ParseFlashTableText(plain.c_str(), nParsed));
    ASSERT_EQ(nParsed, nChips);
    EXPECT_EQ(std::memcmp(loaded.get(), parsed.get(), sizeof(_FLASH_INFO) * static_cast<size_t>(nParsed + 1)), 0);

    // show lists what the loader loaded.
    const CliRun show = scratch.Run({"--json", "flash-table", "show", dir + "/zel.dat"});
    ASSERT_EQ(show.nExit, 0);
    const nlohmann::json chips = show.JsonLines().at(0)["chips"];
    ASSERT_EQ(chips.size(), static_cast<size_t>(nChips));
    for (int i = 0; i < nChips; ++i) {
        EXPECT_EQ(chips[static_cast<size_t>(i)]["name"], std::string(loaded.get()[i].szName));
        EXPECT_EQ(chips[static_cast<size_t>(i)]["address_bytes"], loaded.get()[i].byAddressBytes);
    }
    EXPECT_EQ(chips[0]["jedec_id"], "0xef3013");
    EXPECT_EQ(chips[0]["capacity_kib"], 512);
    EXPECT_EQ(chips[0]["sector_size"], 4096);

    // decrypt gives the plain text back byte for byte.
    const CliRun decrypt = scratch.Run({"flash-table", "decrypt", dir + "/zel.dat", "back.txt"});
    ASSERT_EQ(decrypt.nExit, 0);
    EXPECT_EQ(ReadFileText(scratch.Path("back.txt")), plain);

    // The shipped zel.dat is the default of show; files that are no table are refused.
    EXPECT_EQ(scratch.Run({"flash-table", "show"}).nExit, 0);
    WriteFileText(scratch.Path("junk.txt"), "no header here\nline\n");
    const CliRun junk = scratch.Run({"flash-table", "encrypt", "junk.txt", "junk.dat"});
    EXPECT_EQ(junk.nExit, 1);
    EXPECT_FALSE(fs::exists(scratch.Path("junk.dat")));
    EXPECT_EQ(scratch.Run({"flash-table", "decrypt", "junk.txt", "junk.out"}).nExit, 1);
    EXPECT_EQ(scratch.Run({"flash-table", "show", "missing.dat"}).nExit, 3);
}

}  // namespace
