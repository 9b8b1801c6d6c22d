// Hostile files end to end through quillon-cli, run as a separate process, once per consumer: images,
// flash tables, the data files beside the program and the emulator's device folder. Every run ends with
// a status and a message of its own; none is killed by a signal, and none hangs (ctest's time limit
// stands guard; the child dies with the test).
#include "HostileFiles.h"

#include "image/ZelFirmwareApi.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

class HostileCliDataTest : public ::testing::Test {
protected:
    // quillon-cli in a folder of its own, with copies of its data files, so that the test can replace them.
    std::string PrivateCli()
    {
        const std::string program = m_dir.Path("bin/quillon-cli");
        fs::create_directories(m_dir.Path("bin"));
        fs::copy_file(CCliScratch::Program(), program);  // the program finds its folder by the path it ran from
        for (const char* data : {"Quillon.ini", "zel.dat", "ZA1200.bin", "ZA2400.bin", "ZA3600.bin", "ZA4800.bin"})
            fs::copy_file(std::string(QUILLON_BINARY_DIR "/bin/") + data, m_dir.Path("bin/") + data);
        return program;
    }

    CHostileDir m_dir;
};

}  // namespace

// Each command that reads or writes a file, once with a file that cannot serve: a status and a message of
// its own (3 when the path is no regular file, 1 when it is one that cannot be used), nothing written.
TEST_F(HostileCliDataTest, EveryFileCommandRefusesAHostileFile)
{
    const std::string flash = m_dir.Path("sim/za1200.flash");
    ASSERT_EQ(m_dir.RunSim({"list"}).nExit, 0);
    const std::vector<uint8_t> before = ReadFileBytes(flash);
    fs::create_directories(m_dir.Path("ini"));
    m_dir.Make(HostileKind::SymlinkLoop, "ini/Quillon.ini");
    m_dir.CopyFrom(QUILLON_BINARY_DIR "/bin/zel.dat", "ini/zel.dat");
    fs::create_directories(m_dir.Path("dat"));
    m_dir.CopyFrom(QUILLON_SOURCE_DIR "/examples/Quillon.ini", "dat/Quillon.ini");
    m_dir.Make(HostileKind::Huge, "dat/zel.dat");
    const struct {
        std::vector<std::string> args;
        int nExit;
        const char* pszSaid;  // a part of what it printed
    } rows[] = {
        {{"image", "info", m_dir.Make(HostileKind::Fifo, "fifo.bin")}, 3, "fifo.bin"},
        {{"flash-table", "show", m_dir.Make(HostileKind::Directory, "folder.dat")}, 3, "folder.dat"},
        {{"flash-table", "decrypt", m_dir.Make(HostileKind::Empty, "empty.dat"), m_dir.Path("plain.txt")},
         1,
         "empty.dat"},
        {{"config", "check", m_dir.Path("dat")}, 1, "zel.dat"},
        {{"--sim", m_dir.SimDir(), "--match-policy", "0x10f", "download", m_dir.Make(HostileKind::Fifo, "image.bin"),
          "--device", "0"},
         3,
         "image.bin"},
        {{"--sim", m_dir.SimDir(), "upload", m_dir.Make(HostileKind::Fifo, "upload.bin"), "--device", "0", "--force"},
         1,
         "Open file failed!"},
    };
    for (const auto& row : rows) {
        const CliRun run = m_dir.Run(row.args);
        EXPECT_EQ(run.nExit, row.nExit) << run;
        EXPECT_THAT(run.strOut + run.strErr, HasSubstr(row.pszSaid)) << run;
        EXPECT_THAT(run.strOut, ::testing::Not(HasSubstr("succeeded"))) << run;
    }
    EXPECT_FALSE(fs::exists(m_dir.Path("plain.txt")));
    EXPECT_TRUE(ReadFileBytes(flash) == before);

    // A Quillon.ini that leads nowhere: every one of its tables is reported absent, zel.dat loaded.
    const CliRun run = m_dir.Run({"--json", "config", "check", m_dir.Path("ini")});
    ASSERT_EQ(run.nExit, 1) << run;
    const nlohmann::json result = run.Event("result");
    for (const char* table : {"KnownIDs", "DfuPatchInfos", "Controller names", "HDCodec names", "IISCodec names"})
        EXPECT_EQ(result["tables"][table]["loaded"], false) << table << "\n" << run;
    EXPECT_EQ(result["tables"]["zel.dat"]["loaded"], true) << run;
}

// The DFU patch beside the program is a pipe: the ZA4800, which has no boot loader, does not enter DFU
// mode ("Switching to DFU mode failed!") and its flash stays as it was.
TEST_F(HostileCliDataTest, PatchThatCannotBeReadLeavesTheDeviceUntouched)
{
    const std::string program = PrivateCli();
    m_dir.Make(HostileKind::Fifo, "bin/ZA4800.bin");
    ASSERT_EQ(m_dir.Run({"--sim", m_dir.SimDir(), "list"}, {}, program).nExit, 0);
    const std::vector<uint8_t> before = ReadFileBytes(m_dir.Path("sim/za4800.flash"));

    const CliRun run =
        m_dir.Run({"--sim", m_dir.SimDir(), "--match-policy", "0", "download",
                   CCliScratch::ExampleImage("za4800-fw-0101.bin"), "--device", m_dir.Path("sim/za4800.json")},
                  {}, program);
    EXPECT_EQ(run.nExit, 1) << run;
    EXPECT_THAT(run.strErr, HasSubstr("Switching to DFU mode failed!")) << run;
    EXPECT_TRUE(ReadFileBytes(m_dir.Path("sim/za4800.flash")) == before);
}

// A damaged identity record is no identity to quillon-cli; config check of counts of 2^31 - 1 and
// more refuses each table at once, and scans none.
TEST_F(HostileCliDataTest, DamagedImageRecordAndHugeCounts)
{
    std::vector<uint8_t> image = ReadFileBytes(CCliScratch::ExampleImage("za2400-fw-0211.bin"));
    _ZEL_USB_DEV_INFO info{};
    size_t nOffset = 0;
    ASSERT_TRUE(FindImageRecord(image.data(), image.size(), info, &nOffset));
    image[nOffset + 20] ^= 0x01;  // a sub-version bit: the checksum no longer holds
    const CliRun run = m_dir.Run({"image", "info", m_dir.WriteBytes("damaged.bin", image)});
    EXPECT_EQ(run.nExit, 1) << run;
    EXPECT_THAT(run.strErr, HasSubstr("no intact identity record")) << run;

    fs::create_directory(m_dir.Path("data"));
    m_dir.WriteText("data/Quillon.ini", "[KnownIDs]\nNum=2147483647\nID0=0x2fe3, 0x1200, 0\n"
                                        "[DfuPatchInfos]\nNum=0x7fffffff\n"
                                        "[ChipsetInfo]\nControllerNum=2147483647\nHDCodecNum=4294967295\n"
                                        "IISCodecNum=2147483648\n");
    m_dir.CopyFrom(QUILLON_BINARY_DIR "/bin/zel.dat", "data/zel.dat");
    const CliRun check = m_dir.Run({"config", "check", m_dir.Path("data")});
    EXPECT_EQ(check.nExit, 1) << check;
    EXPECT_THAT(check.strOut + check.strErr, HasSubstr("2147483647")) << check;
}

// The emulator's device folder holds every hostile kind as a device file, and the ZA1200's flash file is
// a pipe: the other example devices are listed, each bad file is named on stderr, nothing waits.
TEST_F(HostileCliDataTest, SimFolderWithHostileFiles)
{
    for (HostileKind kind : AllHostileKinds())
        m_dir.Make(kind, std::string("sim/hostile-") + HostileKindName(kind) + ".json");
    m_dir.Make(HostileKind::Fifo, "sim/za1200.flash");

    const CliRun run = m_dir.RunSim({"--json", "list"});
    ASSERT_EQ(run.nExit, 0) << run;
    std::vector<std::string> paths;
    const nlohmann::json result = run.Event("result");
    for (const nlohmann::json& device : result["devices"])
        paths.push_back(device.value("path", ""));
    EXPECT_EQ(paths, (std::vector<std::string>{m_dir.Path("sim/za2400.json"), m_dir.Path("sim/za3600.json"),
                                               m_dir.Path("sim/za4800.json")}))
        << run;
    for (const char* said : {"za1200.flash", "hostile-Huge.json: larger than 1 MiB", "hostile-RandomBytes.json"})
        EXPECT_THAT(run.strErr, HasSubstr(said)) << run;
}
