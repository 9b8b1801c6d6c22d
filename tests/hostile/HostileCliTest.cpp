// Hostile files end to end through quillon-cli, run as a separate process, once per consumer: images,
// flash tables, the data files beside the program and the emulator's device folder. Every run ends with
// a status and a message of its own; none is killed by a signal, and none hangs (ctest's time limit
// stands guard; the child dies with the test).
#include "HostileFiles.h"

#include "image/ZelFirmwareApi.h"
#include "support/CliRunner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

const std::string kBuiltCli = CCliScratch::Program();

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class HostileCliDataTest : public ::testing::Test {
protected:
    CliRun Cli(const std::vector<std::string>& args) { return RunProgram(kBuiltCli, args, m_dir.Dir()); }
    void CopySim() { fs::copy(QUILLON_SOURCE_DIR "/examples/sim", m_dir.Path("sim"), fs::copy_options::recursive); }

    // quillon-cli in a folder of its own, with copies of its data files, so that the test can replace them.
    std::string PrivateCli()
    {
        const std::string program = m_dir.Path("bin/quillon-cli");
        fs::create_directories(m_dir.Path("bin"));
        std::error_code ec;
        fs::create_hard_link(kBuiltCli, program, ec);  // the program finds its folder by the path it ran from
        if (ec)
            fs::copy_file(kBuiltCli, program);
        for (const char* data : {"Quillon.ini", "zel.dat", "ZA1200.bin", "ZA2400.bin", "ZA3600.bin", "ZA4800.bin"})
            fs::copy_file(std::string(QUILLON_BINARY_DIR "/bin/") + data, m_dir.Path("bin/") + data);
        CopySim();
        return program;
    }

    CHostileDir m_dir;
};

}  // namespace

// Each command that reads or writes a file, once with a file that cannot serve: a status and a message of
// its own (3 when the path is no regular file, 1 when it is one that cannot be used), nothing written.
TEST_F(HostileCliDataTest, EveryFileCommandRefusesAHostileFile)
{
    CopySim();
    const std::string flash = m_dir.Path("sim/za1200.flash");
    ASSERT_EQ(Cli({"--sim", m_dir.Path("sim"), "list"}).nExit, 0);
    const std::vector<uint8_t> before = ReadBytes(flash);
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
        {{"--sim", m_dir.Path("sim"), "--match-policy", "0x10f", "download", m_dir.Make(HostileKind::Fifo, "image.bin"),
          "--device", "0"},
         3,
         "image.bin"},
        {{"--sim", m_dir.Path("sim"), "upload", m_dir.Make(HostileKind::Fifo, "upload.bin"), "--device", "0",
          "--force"},
         1,
         "Open file failed!"},
    };
    for (const auto& row : rows) {
        const CliRun run = Cli(row.args);
        ASSERT_GE(run.nExit, 0) << run;
        EXPECT_EQ(run.nExit, row.nExit) << run;
        EXPECT_TRUE(Contains(run.strOut + run.strErr, row.pszSaid)) << run;
        EXPECT_FALSE(Contains(run.strOut, "succeeded")) << run;
    }
    EXPECT_FALSE(fs::exists(m_dir.Path("plain.txt")));
    EXPECT_TRUE(ReadBytes(flash) == before);

    // A Quillon.ini that leads nowhere: every one of its tables is reported absent, zel.dat loaded.
    const CliRun run = Cli({"--json", "config", "check", m_dir.Path("ini")});
    ASSERT_GE(run.nExit, 0) << run;
    EXPECT_EQ(run.nExit, 1) << run;
    const nlohmann::json result = run.Event("result");
    for (const char* table : {"KnownIDs", "DfuPatchInfos", "Controller names", "HDCodec names", "IISCodec names"})
        EXPECT_EQ(result["tables"][table]["loaded"], false) << table << "\n" << run;
    EXPECT_EQ(result["tables"]["zel.dat"]["loaded"], true) << run;
}

// The program's own Quillon.ini is a pipe and its zel.dat is random bytes: it starts, lists the
// emulated devices it can serve without tables, and a download of a good image is refused or runs,
// but it never waits on the pipe.
TEST_F(HostileCliDataTest, ProgramStartsBesideHostileDataFiles)
{
    const std::string program = PrivateCli();
    m_dir.Make(HostileKind::Fifo, "bin/Quillon.ini");
    m_dir.Make(HostileKind::RandomBytes, "bin/zel.dat");

    const CliRun check = RunProgram(program, {"config", "check"}, m_dir.Dir());
    ASSERT_GE(check.nExit, 0) << check;
    EXPECT_EQ(check.nExit, 1) << check;

    const CliRun listed = RunProgram(program, {"--sim", m_dir.Path("sim"), "list"}, m_dir.Dir());
    ASSERT_GE(listed.nExit, 0) << listed;
    EXPECT_EQ(listed.nExit, 0) << listed;

    const CliRun download = RunProgram(program,
                                       {"--sim", m_dir.Path("sim"), "--match-policy", "0x10f", "download",
                                        QUILLON_SOURCE_DIR "/examples/images/za1200-fw-0106.bin", "--device", "0"},
                                       m_dir.Dir());
    ASSERT_GE(download.nExit, 0) << download;
    EXPECT_TRUE(download.nExit == 0 || download.nExit == 1 || download.nExit == 3) << download;
}

// The DFU patch beside the program is a pipe: the ZA4800, which has no boot loader, does not enter DFU
// mode ("Switching to DFU mode failed!") and its flash stays as it was.
TEST_F(HostileCliDataTest, PatchThatCannotBeReadLeavesTheDeviceUntouched)
{
    const std::string program = PrivateCli();
    m_dir.Make(HostileKind::Fifo, "bin/ZA4800.bin");
    const CliRun listed = RunProgram(program, {"--sim", m_dir.Path("sim"), "list"}, m_dir.Dir());
    ASSERT_EQ(listed.nExit, 0) << listed;
    const std::vector<uint8_t> before = ReadBytes(m_dir.Path("sim/za4800.flash"));

    const CliRun run = RunProgram(program,
                                  {"--sim", m_dir.Path("sim"), "--match-policy", "0", "download",
                                   QUILLON_SOURCE_DIR "/examples/images/za4800-fw-0101.bin", "--device",
                                   m_dir.Path("sim/za4800.json")},
                                  m_dir.Dir());
    ASSERT_GE(run.nExit, 0) << run;
    EXPECT_EQ(run.nExit, 1) << run;
    EXPECT_TRUE(Contains(run.strErr, "Switching to DFU mode failed!")) << run;
    EXPECT_TRUE(ReadBytes(m_dir.Path("sim/za4800.flash")) == before);
}

// A damaged identity record is no identity to quillon-cli.
TEST_F(HostileCliDataTest, DamagedImageRecordIsNoIdentity)
{
    std::vector<uint8_t> image = ReadBytes(QUILLON_SOURCE_DIR "/examples/images/za2400-fw-0211.bin");
    _ZEL_USB_DEV_INFO info{};
    size_t nOffset = 0;
    ASSERT_TRUE(FindImageRecord(image.data(), image.size(), info, &nOffset));
    image[nOffset + 20] ^= 0x01;  // a sub-version bit: the checksum no longer holds
    const std::string damaged = m_dir.WriteBytes("damaged.bin", image);

    const CliRun run = Cli({"image", "info", damaged});
    ASSERT_GE(run.nExit, 0) << run;
    EXPECT_EQ(run.nExit, 1) << run;
    EXPECT_TRUE(Contains(run.strErr, "no intact identity record")) << run;
}

// config check of counts of 2^31 - 1 and more: each table is refused at once, none is scanned.
TEST_F(HostileCliDataTest, ConfigCheckOfHugeCountsFinishes)
{
    fs::create_directory(m_dir.Path("data"));
    m_dir.WriteText("data/Quillon.ini", "[KnownIDs]\nNum=2147483647\nID0=0x2fe3, 0x1200, 0\n"
                                        "[DfuPatchInfos]\nNum=0x7fffffff\n"
                                        "[ChipsetInfo]\nControllerNum=2147483647\nHDCodecNum=4294967295\n"
                                        "IISCodecNum=2147483648\n");
    m_dir.CopyFrom(QUILLON_BINARY_DIR "/bin/zel.dat", "data/zel.dat");
    const CliRun run = Cli({"config", "check", m_dir.Path("data")});
    ASSERT_GE(run.nExit, 0) << run;
    EXPECT_EQ(run.nExit, 1) << run;
    EXPECT_TRUE(Contains(run.strOut + run.strErr, "2147483647")) << run;
}

// The emulator's device folder holds every hostile kind as a device file, and the ZA1200's flash file is
// a pipe: the other example devices are listed, each bad file is named on stderr, nothing waits.
TEST_F(HostileCliDataTest, SimFolderWithHostileFiles)
{
    CopySim();
    for (HostileKind kind : AllHostileKinds())
        m_dir.Make(kind, std::string("sim/hostile-") + HostileKindName(kind) + ".json");
    m_dir.Make(HostileKind::Fifo, "sim/za1200.flash");

    const CliRun run = Cli({"--sim", m_dir.Path("sim"), "--json", "list"});
    ASSERT_GE(run.nExit, 0) << run;
    EXPECT_EQ(run.nExit, 0) << run;
    const nlohmann::json result = run.Event("result");
    std::vector<std::string> paths;
    for (const nlohmann::json& device : result["devices"])
        paths.push_back(device.value("path", ""));
    EXPECT_EQ(paths, (std::vector<std::string>{m_dir.Path("sim/za2400.json"), m_dir.Path("sim/za3600.json"),
                                               m_dir.Path("sim/za4800.json")}))
        << run;
    EXPECT_TRUE(Contains(run.strErr, "za1200.flash")) << run;
    EXPECT_TRUE(Contains(run.strErr, "hostile-Huge.json: larger than 1 MiB")) << run;
    EXPECT_TRUE(Contains(run.strErr, "hostile-RandomBytes.json")) << run;
}
