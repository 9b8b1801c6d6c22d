// config check on sound and broken configurations, and the flash-table commands, whose zel.dat the
// program's own loader reads.
#include "CliE2e.h"

#include "config/FlashTable.h"

#include <cstdlib>

namespace {

const std::string kZelDat = QUILLON_BINARY_DIR "/bin/zel.dat";

class CliConfig : public CliE2e {
protected:
    // A folder with this Quillon.ini (the shipped one when none is given), and the shipped zel.dat if asked.
    std::string MakeDir(const std::string& name, bool bZelDat, std::string ini = {}) const
    {
        const std::string dir = scratch.Path(name);
        fs::create_directories(dir);
        WriteFileText(dir + "/Quillon.ini",
                      ini.empty() ? ReadFileText(CCliScratch::SourceDir() + "/examples/Quillon.ini") : ini);
        if (bZelDat)
            fs::copy_file(kZelDat, dir + "/zel.dat");
        return dir;
    }
};

TEST_F(CliConfig, TheShippedConfigurationLoadsWithoutFindings)
{
    const std::string dir = MakeDir("good", true);
    Expect({{{"config", "check", dir},
             0,
             AllOf(StartsWith(Lines({"Quillon.ini: " + dir + "/Quillon.ini", "zel.dat:     " + dir + "/zel.dat",
                                     "  KnownIDs:         5 entries", "  DfuPatchInfos:    2 entries",
                                     "  Controller names: 4 entries", "  HDCodec names:    4 entries",
                                     "  IISCodec names:   3 entries"})),
                   EndsWith("\nNo findings.\n")),
             ""}});
    // The program's own folder in the build tree is the default.
    const CliRun own = scratch.Run({"--json", "config", "check"});
    EXPECT_EQ(own.nExit, 0) << own;
    EXPECT_EQ(own.JsonLines().at(0)["zel_dat"], kZelDat);
    EXPECT_EQ(own.JsonLines().at(0)["ok"], true);
}

TEST_F(CliConfig, BrokenConfigurationsAreReportedEntryByEntry)
{
    const std::string dir = MakeDir("broken", false,
                                    "[KnownIDs]\nNum=4\nID0=0x2fe3, 0x1200, 0xff000001\nID2=0x2fe3 , 0x2400, 0\n"
                                    "ID3=0x2fe3, 0x3600, 0\n[DfuPatchInfos]\nNum=-1\n[ChipsetInfo]\nControllerNum=2x\n"
                                    "ControllerName0=" +
                                        std::string(300, 'N') + "\nHDCodecNum=1\nHDCodecName0=none\n");
    const CliRun run = scratch.Run({"--json", "config", "check", dir});
    EXPECT_EQ(run.nExit, 1);
    const nlohmann::json result = run.JsonLines().at(0);
    EXPECT_EQ(result["ok"], false);
    EXPECT_EQ(result["tables"]["KnownIDs"], (nlohmann::json{{"loaded", true}, {"entries", 4}}));
    for (const char* pszTable : {"DfuPatchInfos", "IISCodec names", "zel.dat"})
        EXPECT_EQ(result["tables"][pszTable]["loaded"], false) << pszTable;
    std::vector<std::string> findings;
    for (const auto& f : result["findings"])
        findings.push_back(f["where"].get<std::string>() + ": " + f["text"].get<std::string>());
    EXPECT_EQ(findings,
              (std::vector<std::string>{
                  "[KnownIDs] ID1: blank entry: an all-zero record, which ends the table for the device library",
                  "[KnownIDs] ID2: only 1 of 3 numbers could be read from \"0x2fe3 , 0x2400, 0\"; the rest are zero",
                  "[DfuPatchInfos]: table absent: \"Num\" is missing, zero, negative or too large (-1)",
                  "[ChipsetInfo] ControllerNum: \"2x\" is not a plain number; read as 2",
                  "[ChipsetInfo] ControllerName0: name of 300 characters, cut at 255 when the program reads it",
                  "[ChipsetInfo] ControllerName1: blank name",
                  "[ChipsetInfo] IISCodecNum: name list absent: the count is missing, zero or negative (0)",
                  "zel.dat: flash chip table absent: file missing"}));

    // A zel.dat that is not ours, and a folder that does not exist.
    WriteFileText(dir + "/zel.dat", "not a table at all");
    const std::string nowhere = scratch.Path("nowhere");
    const CliRun bad = scratch.Run({"--json", "config", "check", dir});
    EXPECT_EQ(bad.JsonLines().at(0)["findings"].back()["text"],
              "flash chip table absent: does not decrypt to a table beginning with \"Chip\"");
    Expect({{{"config", "check", nowhere}, 3, _, "quillon-cli: no such folder: " + nowhere + "\n"}});
}

TEST_F(CliConfig, ShortChipLinesAreFound)
{
    WriteFileText(scratch.Path("plain.txt"),
                  "Chip table\nGood Chip, 0xEF4014, 0x0400, 0x1000, 0x03, 0x06, 0x04, 0x05, 0x01, 0x03, 0x0B, 0x02, "
                  "0x20, 0x52, 0xD8, 0xC7, 0x9F, 0xB9, 0xAB, 0x90, 0x35, 0x50, 0x00\nShort Chip, 0xC22015, 0x0800\n");
    const std::string dir = MakeDir("short", false);
    Expect({{{"flash-table", "encrypt", "plain.txt", dir + "/zel.dat"}, 0},
            {{"config", "check", dir},
             0,
             AllOf(HasSubstr("  zel.dat:          2 flash chips\n"),
                   HasSubstr("  zel.dat chip line 2 (Short Chip): only 2 of 22 numbers could be read; the rest are "
                             "zero\n"))}});
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// The loader reads what encrypt writes: ShortChipLinesAreFound (config check loads zel.dat as the window
// does); the loader's own rules: LoadFlashTableTest.
TEST_F(CliConfig, FlashTableRoundTripMatchesTheParsedText)
{
    const std::string plainPath = CCliScratch::SourceDir() + "/examples/flash-table.txt";
    const std::string dir = scratch.Path("table");
    fs::create_directories(dir);
    const CliRun encrypt = scratch.Run({"--json", "flash-table", "encrypt", plainPath, dir + "/zel.dat"});
    ASSERT_EQ(encrypt.nExit, 0) << encrypt;
    const int nChips = encrypt.JsonLines().at(0)["chips"];
    EXPECT_GT(nChips, 20);

    const std::string plain = ReadFileText(plainPath);
    int nParsed = 0;
    std::unique_ptr<_FLASH_INFO, FreeDeleter> parsed(ParseFlashTableText(plain.c_str(), nParsed));
    ASSERT_EQ(nParsed, nChips);

    // show lists the records the plain text parses into.
    const CliRun show = scratch.Run({"--json", "flash-table", "show", dir + "/zel.dat"});
    ASSERT_EQ(show.nExit, 0);
    const nlohmann::json chips = show.JsonLines().at(0)["chips"];
    ASSERT_EQ(chips.size(), static_cast<size_t>(nChips));
    for (int i = 0; i < nChips; ++i) {
        EXPECT_EQ(chips[static_cast<size_t>(i)]["name"], std::string(parsed.get()[i].szName));
        EXPECT_EQ(chips[static_cast<size_t>(i)]["address_bytes"], parsed.get()[i].byAddressBytes);
    }
    EXPECT_EQ(chips[0]["jedec_id"], "0xef3013");
    EXPECT_EQ(chips[0]["capacity_kib"], 512);
    EXPECT_EQ(chips[0]["sector_size"], 4096);

    // decrypt gives the plain text back byte for byte. The shipped zel.dat is the default of show; files
    // that are no table are refused.
    WriteFileText(scratch.Path("junk.txt"), "no header here\nline\n");
    Expect({{{"flash-table", "decrypt", dir + "/zel.dat", "back.txt"}, 0},
            {{"flash-table", "show"}, 0},
            {{"flash-table", "encrypt", "junk.txt", "junk.dat"}, 1},
            {{"flash-table", "decrypt", "junk.txt", "junk.out"}, 1},
            {{"flash-table", "show", "missing.dat"}, 3}});
    EXPECT_EQ(ReadFileText(scratch.Path("back.txt")), plain);
    EXPECT_FALSE(fs::exists(scratch.Path("junk.dat")));
}

}  // namespace
