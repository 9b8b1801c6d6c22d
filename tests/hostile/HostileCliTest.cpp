// Hostile files end to end through quillon-cli, run as a separate process, once per consumer: the
// input files of the file commands, Quillon.ini and zel.dat in config check, upload's output and the
// emulator's device folder. Every run ends with a status and a message of its own; none is killed by a
// signal, and none hangs (ctest's time limit stands guard; the child dies with the test).
#include "HostileFiles.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Each reader or writer of a command's file, once with a file that cannot serve: a status and a message
// of its own (3 when the path is no regular file, 1 when it is one that cannot be used), nothing
// written. flash-table show reads as image info does (ReadInput), and download's image is refused by
// the same IsRegularFile (its message: CliE2e.RefusalsSayWhyAndTouchNothing). Noise holds no identity
// record, as a damaged one is none (ImageRecord.LayoutIsLittleEndianAndEveryDamageMakesItNoIdentity).
TEST(HostileCliDataTest, EveryFileCommandRefusesAHostileFile)
{
    CHostileDir dir;
    const std::string flash = dir.Path("sim/za1200.flash");
    ASSERT_EQ(dir.RunSim({"list"}).nExit, 0);
    const std::vector<uint8_t> before = ReadFileBytes(flash);
    fs::create_directories(dir.Path("ini"));
    dir.Make(HostileKind::SymlinkLoop, "ini/Quillon.ini");
    dir.CopyFrom(QUILLON_BINARY_DIR "/bin/zel.dat", "ini/zel.dat");
    fs::create_directories(dir.Path("dat"));
    dir.CopyFrom(QUILLON_SOURCE_DIR "/examples/Quillon.ini", "dat/Quillon.ini");
    dir.Make(HostileKind::Huge, "dat/zel.dat");
    const struct {
        std::vector<std::string> args;
        int nExit;
        const char* pszSaid;  // a part of what it printed
    } rows[] = {
        {{"image", "info", dir.Make(HostileKind::Fifo, "fifo.bin")}, 3, "fifo.bin"},
        {{"image", "info", dir.Make(HostileKind::RandomBytes, "noise.bin")},
         1,
         "noise.bin holds no intact identity record"},
        {{"flash-table", "decrypt", dir.Make(HostileKind::Empty, "empty.dat"), dir.Path("plain.txt")}, 1, "empty.dat"},
        {{"config", "check", dir.Path("dat")}, 1, "zel.dat"},
        {{"--sim", dir.SimDir(), "upload", dir.Make(HostileKind::Fifo, "upload.bin"), "--device", "0", "--force"},
         1,
         "Open file failed!"},
    };
    for (const auto& row : rows) {
        const CliRun run = dir.Run(row.args);
        EXPECT_EQ(run.nExit, row.nExit) << run;
        EXPECT_THAT(run.strOut + run.strErr, HasSubstr(row.pszSaid)) << run;
        EXPECT_THAT(run.strOut, ::testing::Not(HasSubstr("succeeded"))) << run;
    }
    EXPECT_FALSE(fs::exists(dir.Path("plain.txt")));
    EXPECT_TRUE(ReadFileBytes(flash) == before);

    // A Quillon.ini that leads nowhere: every one of its tables is reported absent, zel.dat loaded.
    const CliRun run = dir.Run({"--json", "config", "check", dir.Path("ini")});
    ASSERT_EQ(run.nExit, 1) << run;
    const nlohmann::json result = run.Event("result");
    for (const char* table : {"KnownIDs", "DfuPatchInfos", "Controller names", "HDCodec names", "IISCodec names"})
        EXPECT_EQ(result["tables"][table]["loaded"], false) << table << "\n" << run;
    EXPECT_EQ(result["tables"]["zel.dat"]["loaded"], true) << run;
}

// The emulator's device folder holds every hostile kind as a device file, and the ZA1200's flash file is
// a pipe: the other example devices are listed, each bad file is named on stderr, nothing waits.
TEST(HostileCliDataTest, SimFolderWithHostileFiles)
{
    CHostileDir dir;
    for (HostileKind kind : AllHostileKinds())
        dir.Make(kind, std::string("sim/hostile-") + HostileKindName(kind) + ".json");
    dir.Make(HostileKind::Fifo, "sim/za1200.flash");

    const CliRun run = dir.RunSim({"--json", "list"});
    ASSERT_EQ(run.nExit, 0) << run;
    std::vector<std::string> paths;
    const nlohmann::json result = run.Event("result");
    for (const nlohmann::json& device : result["devices"])
        paths.push_back(device.value("path", ""));
    EXPECT_EQ(paths, (std::vector<std::string>{dir.Path("sim/za2400.json"), dir.Path("sim/za3600.json"),
                                               dir.Path("sim/za4800.json")}))
        << run;
    for (const char* said : {"za1200.flash", "hostile-Huge.json: larger than 1 MiB", "hostile-RandomBytes.json"})
        EXPECT_THAT(run.strErr, HasSubstr(said)) << run;
}
