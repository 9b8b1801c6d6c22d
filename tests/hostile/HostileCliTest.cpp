// Hostile files end to end through quillon-cli, run as a separate process: as images, flash tables and
// the data files beside the program. Every run ends with a status and a message of its own; none is
// killed by a signal, and none hangs (ctest's time limit stands guard; the child dies with the test).
#include "HostileFiles.h"

#include "image/ZelFirmwareApi.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <signal.h>
#include <sys/prctl.h>

namespace fs = std::filesystem;

namespace {

struct CliResult {
    bool bExited = false;   // ended by itself, not by a signal
    int nExit = -1;
    std::string strOut;
    std::string strErr;
};

std::ostream& operator<<(std::ostream& out, const CliResult& run)
{
    return out << "exit " << run.nExit << (run.bExited ? "" : " (killed)") << "\nstdout: " << run.strOut
               << "\nstderr: " << run.strErr;
}

std::string BuiltCli()
{
    return QUILLON_BINARY_DIR "/bin/quillon-cli";
}

// Runs a quillon-cli with the arguments, without a terminal; it is killed if this test process dies.
CliResult RunCli(const std::string& program, const std::vector<std::string>& args, const std::string& workDir)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QUILLON_SIM_DIR"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QString::fromStdString(workDir));
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.setStandardInputFile(QProcess::nullDevice());
    QStringList arguments;
    for (const std::string& a : args)
        arguments << QString::fromStdString(a);
    process.start(QString::fromStdString(program), arguments);
    CliResult run;
    EXPECT_TRUE(process.waitForStarted(-1)) << program;
    process.waitForFinished(-1);
    run.bExited = process.exitStatus() == QProcess::NormalExit;
    run.nExit = process.exitCode();
    run.strOut = process.readAllStandardOutput().toStdString();
    run.strErr = process.readAllStandardError().toStdString();
    return run;
}

// The "result" object of a --json run (null when there is none).
nlohmann::json ResultOf(const CliResult& run)
{
    size_t nAt = 0;
    while (nAt < run.strOut.size()) {
        const size_t nEnd = std::min(run.strOut.find('\n', nAt), run.strOut.size());
        const nlohmann::json line = nlohmann::json::parse(run.strOut.substr(nAt, nEnd - nAt), nullptr, false);
        if (line.is_object() && line.value("event", "") == "result")
            return line;
        nAt = nEnd + 1;
    }
    return nullptr;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// What quillon-cli answers for a file that it reads whole before anything else: 3 when the path is no
// regular file, 1 when it is one but cannot be read (empty, 2 GiB or more, not permitted).
int ReadInputStatus(HostileKind kind)
{
    switch (kind) {
    case HostileKind::Directory:
    case HostileKind::SymlinkLoop:
    case HostileKind::Fifo:
        return 3;
    default:
        return 1;
    }
}

class HostileCliTest : public ::testing::TestWithParam<HostileKind> {
protected:
    CliResult Cli(const std::vector<std::string>& args) { return RunCli(BuiltCli(), args, m_dir.Dir()); }

    CHostileDir m_dir;
};

}  // namespace

TEST_P(HostileCliTest, ImageInfoRefuses)
{
    SKIP_UNREADABLE_AS_ROOT(GetParam());
    const std::string path = m_dir.Make(GetParam(), "image.bin");
    const CliResult run = Cli({"image", "info", path});
    ASSERT_TRUE(run.bExited) << run;
    EXPECT_EQ(run.nExit, ReadInputStatus(GetParam())) << run;
    EXPECT_TRUE(Contains(run.strErr, path)) << run;
    EXPECT_FALSE(Contains(run.strOut, "Vendor ID")) << run;
}

TEST_P(HostileCliTest, FlashTableShowRefuses)
{
    SKIP_UNREADABLE_AS_ROOT(GetParam());
    const std::string path = m_dir.Make(GetParam(), "zel.dat");
    const CliResult run = Cli({"flash-table", "show", path});
    ASSERT_TRUE(run.bExited) << run;
    EXPECT_EQ(run.nExit, ReadInputStatus(GetParam())) << run;
    EXPECT_FALSE(run.strErr.empty()) << run;
}

TEST_P(HostileCliTest, FlashTableDecryptWritesNothing)
{
    SKIP_UNREADABLE_AS_ROOT(GetParam());
    const std::string path = m_dir.Make(GetParam(), "zel.dat");
    const CliResult run = Cli({"flash-table", "decrypt", path, m_dir.Path("plain.txt")});
    ASSERT_TRUE(run.bExited) << run;
    EXPECT_EQ(run.nExit, ReadInputStatus(GetParam())) << run;
    EXPECT_FALSE(fs::exists(m_dir.Path("plain.txt")));
}

// config check of a folder whose Quillon.ini is hostile: every table is reported absent.
TEST_P(HostileCliTest, ConfigCheckReportsIniTablesAbsent)
{
    SKIP_UNREADABLE_AS_ROOT(GetParam());
    fs::create_directory(m_dir.Path("data"));
    m_dir.Make(GetParam(), "data/Quillon.ini");
    m_dir.CopyFrom(QUILLON_BINARY_DIR "/bin/zel.dat", "data/zel.dat");
    const CliResult run = Cli({"--json", "config", "check", m_dir.Path("data")});
    ASSERT_TRUE(run.bExited) << run;
    EXPECT_EQ(run.nExit, 1) << run;
    const nlohmann::json result = ResultOf(run);
    for (const char* table : {"KnownIDs", "DfuPatchInfos", "Controller names", "HDCodec names", "IISCodec names"})
        EXPECT_EQ(result["tables"][table]["loaded"], false) << table << "\n" << run;
    EXPECT_EQ(result["tables"]["zel.dat"]["loaded"], true) << run;
}

// config check of a folder whose zel.dat is hostile: the flash table is reported absent.
TEST_P(HostileCliTest, ConfigCheckReportsFlashTableAbsent)
{
    SKIP_UNREADABLE_AS_ROOT(GetParam());
    fs::create_directory(m_dir.Path("data"));
    m_dir.CopyFrom(QUILLON_SOURCE_DIR "/examples/Quillon.ini", "data/Quillon.ini");
    m_dir.Make(GetParam(), "data/zel.dat");
    const CliResult run = Cli({"config", "check", m_dir.Path("data")});
    ASSERT_TRUE(run.bExited) << run;
    EXPECT_EQ(run.nExit, 1) << run;
    EXPECT_TRUE(Contains(run.strOut + run.strErr, "zel.dat")) << run;
}

// A download of a hostile image under full identity checks: refused before the device is touched.
TEST_P(HostileCliTest, DownloadRefusedAndDeviceUntouched)
{
    SKIP_UNREADABLE_AS_ROOT(GetParam());
    fs::copy(QUILLON_SOURCE_DIR "/examples/sim", m_dir.Path("sim"), fs::copy_options::recursive);
    const CliResult listed = Cli({"--sim", m_dir.Path("sim"), "list"});
    ASSERT_EQ(listed.nExit, 0) << listed;
    const std::string flash = m_dir.Path("sim/za1200.flash");
    ASSERT_TRUE(fs::exists(flash));
    const std::vector<uint8_t> before = ReadBytes(flash);

    const std::string path = m_dir.Make(GetParam(), "image.bin");
    const CliResult run = Cli({"--sim", m_dir.Path("sim"), "--match-policy", "0x10f", "download", path, "--device", "0"});
    ASSERT_TRUE(run.bExited) << run;
    EXPECT_EQ(run.nExit, GetParam() == HostileKind::Directory || GetParam() == HostileKind::SymlinkLoop ||
                                 GetParam() == HostileKind::Fifo
                             ? 3
                             : 1)
        << run;
    EXPECT_FALSE(Contains(run.strOut, "Firmware upgrade succeeded")) << run;
    EXPECT_TRUE(ReadBytes(flash) == before);
}

// An upload into a hostile path (replacing it with --force): a folder, a link loop, a pipe that nobody
// reads, or a file that cannot be written is "Open file failed!" before the device is touched; any
// other file is replaced by the firmware.
TEST_P(HostileCliTest, UploadIntoHostilePath)
{
    SKIP_UNREADABLE_AS_ROOT(GetParam());
    fs::copy(QUILLON_SOURCE_DIR "/examples/sim", m_dir.Path("sim"), fs::copy_options::recursive);
    const std::string path = m_dir.Make(GetParam(), "upload.bin");
    const CliResult run = Cli({"--sim", m_dir.Path("sim"), "upload", path, "--device", "0", "--force"});
    ASSERT_TRUE(run.bExited) << run;
    const bool bRefused = GetParam() == HostileKind::Directory || GetParam() == HostileKind::SymlinkLoop ||
                          GetParam() == HostileKind::Fifo || GetParam() == HostileKind::Unreadable;
    if (bRefused) {
        EXPECT_EQ(run.nExit, 1) << run;
        EXPECT_TRUE(Contains(run.strErr, "Open file failed!")) << run;
        EXPECT_FALSE(Contains(run.strOut, "Waiting until device is switched to DFU mode")) << run;
    } else {
        EXPECT_EQ(run.nExit, 0) << run;
        EXPECT_EQ(fs::file_size(path), 65536u);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostileCliTest, ::testing::ValuesIn(AllHostileKinds()),
                         [](const ::testing::TestParamInfo<HostileKind>& info) { return HostileKindName(info.param); });

namespace {

class HostileCliDataTest : public ::testing::Test {
protected:
    // quillon-cli in a folder of its own, with copies of its data files, so that the test can replace them.
    std::string PrivateCli()
    {
        const std::string program = m_dir.Path("bin/quillon-cli");
        fs::create_directories(m_dir.Path("bin"));
        std::error_code ec;
        fs::create_hard_link(BuiltCli(), program, ec);   // the program finds its folder by the path it ran from
        if (ec)
            fs::copy_file(BuiltCli(), program);
        for (const char* data : {"Quillon.ini", "zel.dat", "ZA1200.bin", "ZA2400.bin", "ZA3600.bin", "ZA4800.bin"})
            fs::copy_file(std::string(QUILLON_BINARY_DIR "/bin/") + data, m_dir.Path("bin/") + data);
        fs::copy(QUILLON_SOURCE_DIR "/examples/sim", m_dir.Path("sim"), fs::copy_options::recursive);
        return program;
    }

    CHostileDir m_dir;
};

}  // namespace

// The program's own Quillon.ini is a pipe and its zel.dat is random bytes: it starts, lists the
// emulated devices it can serve without tables, and a download of a good image is refused or runs,
// but it never waits on the pipe.
TEST_F(HostileCliDataTest, ProgramStartsBesideHostileDataFiles)
{
    const std::string program = PrivateCli();
    m_dir.Make(HostileKind::Fifo, "bin/Quillon.ini");
    m_dir.Make(HostileKind::RandomBytes, "bin/zel.dat");

    const CliResult check = RunCli(program, {"config", "check"}, m_dir.Dir());
    ASSERT_TRUE(check.bExited) << check;
    EXPECT_EQ(check.nExit, 1) << check;

    const CliResult listed = RunCli(program, {"--sim", m_dir.Path("sim"), "list"}, m_dir.Dir());
    ASSERT_TRUE(listed.bExited) << listed;
    EXPECT_EQ(listed.nExit, 0) << listed;

    const CliResult download = RunCli(program,
                                {"--sim", m_dir.Path("sim"), "--match-policy", "0x10f", "download",
                                 QUILLON_SOURCE_DIR "/examples/images/za1200-fw-0106.bin", "--device", "0"},
                                m_dir.Dir());
    ASSERT_TRUE(download.bExited) << download;
    EXPECT_TRUE(download.nExit == 0 || download.nExit == 1 || download.nExit == 3) << download;
}

// The DFU patch beside the program is hostile: the ZA4800, which has no boot loader, does not enter DFU
// mode ("Switching to DFU mode failed!") and its flash stays as it was.
class HostilePatchTest : public HostileCliDataTest, public ::testing::WithParamInterface<HostileKind> {};

TEST_P(HostilePatchTest, DeviceWithoutBootLoaderStaysUntouched)
{
    const std::string program = PrivateCli();
    m_dir.Make(GetParam(), "bin/ZA4800.bin");
    const CliResult listed = RunCli(program, {"--sim", m_dir.Path("sim"), "list"}, m_dir.Dir());
    ASSERT_EQ(listed.nExit, 0) << listed;
    const std::vector<uint8_t> before = ReadBytes(m_dir.Path("sim/za4800.flash"));

    const CliResult run = RunCli(program,
                                 {"--sim", m_dir.Path("sim"), "--match-policy", "0", "download",
                                  QUILLON_SOURCE_DIR "/examples/images/za4800-fw-0101.bin", "--device",
                                  m_dir.Path("sim/za4800.json")},
                                 m_dir.Dir());
    ASSERT_TRUE(run.bExited) << run;
    EXPECT_EQ(run.nExit, 1) << run;
    EXPECT_TRUE(Contains(run.strErr, "Switching to DFU mode failed!")) << run;
    EXPECT_TRUE(ReadBytes(m_dir.Path("sim/za4800.flash")) == before);
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostilePatchTest, ::testing::ValuesIn(AllHostileKinds()),
                         [](const ::testing::TestParamInfo<HostileKind>& info) { return HostileKindName(info.param); });

// A damaged identity record is no identity to quillon-cli.
TEST_F(HostileCliDataTest, DamagedImageRecordIsNoIdentity)
{
    std::vector<uint8_t> image = ReadBytes(QUILLON_SOURCE_DIR "/examples/images/za2400-fw-0211.bin");
    _ZEL_USB_DEV_INFO info{};
    size_t nOffset = 0;
    ASSERT_TRUE(FindImageRecord(image.data(), image.size(), info, &nOffset));
    image[nOffset + 20] ^= 0x01;   // a sub-version bit: the checksum no longer holds
    const std::string damaged = m_dir.WriteBytes("damaged.bin", image);

    const CliResult run = RunCli(BuiltCli(), {"image", "info", damaged}, m_dir.Dir());
    ASSERT_TRUE(run.bExited) << run;
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
    const CliResult run = RunCli(BuiltCli(), {"config", "check", m_dir.Path("data")}, m_dir.Dir());
    ASSERT_TRUE(run.bExited) << run;
    EXPECT_EQ(run.nExit, 1) << run;
    EXPECT_TRUE(Contains(run.strOut + run.strErr, "2147483647")) << run;
}

// The emulator's device folder holds every hostile kind as a device file, and the ZA1200's flash file is
// a pipe: the other example devices are listed, each bad file is named on stderr, nothing waits.
TEST_F(HostileCliDataTest, SimFolderWithHostileFiles)
{
    fs::copy(QUILLON_SOURCE_DIR "/examples/sim", m_dir.Path("sim"), fs::copy_options::recursive);
    for (HostileKind kind : AllHostileKinds())
        m_dir.Make(kind, std::string("sim/hostile-") + HostileKindName(kind) + ".json");
    m_dir.Make(HostileKind::Fifo, "sim/za1200.flash");

    const CliResult run = RunCli(BuiltCli(), {"--sim", m_dir.Path("sim"), "--json", "list"}, m_dir.Dir());
    ASSERT_TRUE(run.bExited) << run;
    EXPECT_EQ(run.nExit, 0) << run;
    const nlohmann::json result = ResultOf(run);
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
