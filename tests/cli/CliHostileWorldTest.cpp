// quillon-cli in a hostile world, run as a separate process whose arguments are raw bytes: a reader
// that goes away, a hang-up, pipes where files belong, links where new files go, names that are not
// UTF-8, an unusable emulator folder, a full disk (a file size limit). Every case ends by itself; the
// runner's limit turns a hang into a failure.
#include "support/CliRunner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

struct RunSetup {
    std::vector<std::string> env;  // "NAME=value", added to a clean environment
    bool bReaderGone = false;      // stdout's reader is gone before the first byte
    std::string hangUpWhenLogHas;  // once --log holds this, stdout's reader goes and SIGHUP comes
    std::string logPath;
    rlim_t nFileSizeLimit = RLIM_INFINITY;
};

// fork/exec, so that the arguments reach the program as the bytes they are. stdout and stderr go to
// memory files; stdout to a pipe instead when its reader goes away. nExit -1: killed, or hung for 60 s.
CliRun RunCli(const CCliScratch& scratch, std::vector<std::string> args, const RunSetup& setup = {})
{
    // The test's environment (sanitizer options included), with a store, a locale and devices of our own.
    std::vector<std::string> env = {"LC_ALL=C.UTF-8", "HOME=" + scratch.Dir(),
                                    "XDG_CONFIG_HOME=" + scratch.Path("config")};
    for (char** p = environ; *p != nullptr; ++p) {
        const std::string name(*p, std::strcspn(*p, "="));
        if (name != "LC_ALL" && name != "HOME" && name != "XDG_CONFIG_HOME" && name.rfind("QUILLON_SIM", 0) != 0)
            env.emplace_back(*p);
    }
    env.insert(env.end(), setup.env.begin(), setup.env.end());
    args.insert(args.begin(), CCliScratch::Program());
    std::vector<char*> argv, envp;
    for (std::string& a : args)
        argv.push_back(a.data());
    for (std::string& e : env)
        envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const std::string dir = scratch.Dir();
    const int outFd = ::memfd_create("out", MFD_CLOEXEC), errFd = ::memfd_create("err", MFD_CLOEXEC);
    int pipeFds[2] = {-1, -1};
    const bool bPipe = setup.bReaderGone || !setup.hangUpWhenLogHas.empty();
    if (outFd < 0 || errFd < 0 || (bPipe && ::pipe2(pipeFds, O_CLOEXEC) != 0))
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(bPipe ? pipeFds[1] : outFd, STDOUT_FILENO);
        ::dup2(errFd, STDERR_FILENO);
        ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
        if (::chdir(dir.c_str()) != 0)
            ::_exit(126);
        std::signal(SIGPIPE, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
        if (setup.nFileSizeLimit != RLIM_INFINITY) {
            std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails, as on a full disk
            const rlimit limit{setup.nFileSizeLimit, setup.nFileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    int readFd = pipeFds[0];
    if (setup.bReaderGone)
        ::close(std::exchange(readFd, -1));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int nWait = 0;
    for (; ::waitpid(pid, &nWait, WNOHANG) == 0; ::usleep(20000)) {
        if (std::chrono::steady_clock::now() > deadline)
            ::kill(pid, SIGKILL);
        if (readFd >= 0 && ReadFileText(setup.logPath).find(setup.hangUpWhenLogHas) != std::string::npos) {
            // A closed terminal under `| tee`: tee goes first, then the hang-up reaches the group.
            ::close(std::exchange(readFd, -1));
            ::kill(pid, SIGHUP);
        }
    }
    if (readFd >= 0)
        ::close(readFd);
    CliRun run;
    run.nExit = WIFEXITED(nWait) ? WEXITSTATUS(nWait) : -1;
    run.strOut = ReadFileText("/proc/self/fd/" + std::to_string(outFd));
    run.strErr = ReadFileText("/proc/self/fd/" + std::to_string(errFd));
    ::close(outFd);
    ::close(errFd);
    return run;
}

class CliHostileWorld : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(scratch.Path("config")); }

    // The arguments with "--sim <scratch>/sim" in front, and those given after them.
    std::vector<std::string> Sim(std::vector<std::string> args, const std::vector<std::string>& after = {}) const
    {
        if (args.at(0) != "--sim")
            args.insert(args.begin(), {std::string("--sim"), scratch.SimDir()});
        args.insert(args.end(), after.begin(), after.end());
        return args;
    }

    CCliScratch scratch;
};

const std::string kImage = CCliScratch::ExampleImage("za1200-fw-0106.bin");

// A reader that goes away (`| head`), or a closed terminal under `| tee` (stdout's reader gone, then
// SIGHUP): the operation runs to its end, the device back in normal mode, and the status says the
// output was lost.
TEST_F(CliHostileWorld, LostOutputNeverStopsAnOperation)
{
    struct Case {
        std::vector<std::string> args;
        const char* pszHangUpAt;  // null: the reader is gone from the start
        const char* pszSuccess;
    };
    const Case cases[] = {
        {{"--json", "--match-policy", "0x10f", "download", kImage, "--device", "0"},
         nullptr,
         "Firmware upgrade succeeded"},
        {{"upload", "up.bin", "--device", "0"}, nullptr, "Firmware upload succeeded!"},
        {{"--match-policy", "0x10f", "download", kImage, "--device", "0"},
         "Firmware upgrade started",
         "Firmware upgrade succeeded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args) + (c.pszHangUpAt ? " | tee, hang-up" : " | head"));
        fs::remove(scratch.Path("up.bin"));
        RunSetup setup;
        setup.logPath = scratch.Path("run.log");
        fs::remove(setup.logPath);
        setup.bReaderGone = c.pszHangUpAt == nullptr;
        if (c.pszHangUpAt != nullptr) {
            setup.hangUpWhenLogHas = c.pszHangUpAt;
            setup.env.push_back("QUILLON_SIM_REALTIME=1");  // a download of seconds: the hang-up comes in it
        }
        const CliRun run = RunCli(scratch, Sim(c.args, {"--log", setup.logPath}), setup);
        EXPECT_EQ(run.nExit, 4) << run;
        EXPECT_THAT(run.strErr, HasSubstr("quillon-cli: output lost (stdout: Broken pipe)"));
        EXPECT_THAT(ReadFileText(setup.logPath),
                    AllOf(HasSubstr(c.pszSuccess), HasSubstr("Device is switched to normal mode successfully!")));
    }
}

// A pipe where the preference store or the log is: nothing waits on it; the store is not used, the log
// is refused.
TEST_F(CliHostileWorld, PipesWhereFilesBelongNeverHold)
{
    const char* const unused = " is not a regular file; the stored preferences are not used";
    const std::tuple<std::string, std::vector<std::string>, int, std::string> cases[] = {
        {"config/ZEL/Quillon.conf", {"list"}, 0, std::string("/ZEL/Quillon.conf") + unused},
        {"config/ZEL.conf", {"list"}, 0, std::string("/ZEL.conf") + unused},
        {"log.fifo", {"--log", "log.fifo", "list"}, 3, "cannot open the log file log.fifo: not a regular file"},
    };
    for (const auto& [fifo, args, nExit, error] : cases) {
        SCOPED_TRACE(fifo);
        fs::create_directories(fs::path(scratch.Path(fifo)).parent_path());
        ASSERT_EQ(::mkfifo(scratch.Path(fifo).c_str(), 0600), 0);
        const CliRun run = RunCli(scratch, Sim(args));
        fs::remove(scratch.Path(fifo));
        EXPECT_EQ(run.nExit, nExit) << run;
        EXPECT_THAT(run.strErr, HasSubstr(error));
    }
}

// New files never go through a link, never replace what is there without --force (a link that leads
// nowhere is there), and a link is not replaced even with it. A backup is refused by the same check as
// an upload (its message: CliE2e.RefusalsSayWhyAndTouchNothing).
TEST_F(CliHostileWorld, OutputFilesNeverFollowLinks)
{
    const std::vector<std::string> stamp = {"image", "stamp",     kImage, "out.bin",      "--vid", "1",      "--pid",
                                            "2",     "--version", "3",    "--subversion", "4",     "--chip", "5,6"};
    const char* const force = "out.bin exists; add --force to replace it";
    const char* const never = "out.bin: a symbolic link, which is never written through";
    // Whether the link leads nowhere (else to an existing file, which must stay as it is), and the error.
    const std::tuple<std::vector<std::string>, bool, std::string> cases[] = {
        {{"upload", "out.bin", "--device", "0"}, true, force},
        {{"upload", "out.bin", "--device", "0", "--force"}, false, never},
        {stamp, true, force},
        {Sim(stamp, {"--force"}), false, std::string("cannot write ") + never},
    };
    for (const auto& [args, bDangling, error] : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        fs::remove(scratch.Path("out.bin"));
        fs::remove(scratch.Path("target.bin"));
        if (!bDangling)
            WriteFileText(scratch.Path("target.bin"), "keep");
        fs::create_symlink("target.bin", scratch.Path("out.bin"));
        const CliRun run = RunCli(scratch, Sim(args));
        EXPECT_EQ(run.nExit, 1) << run;
        EXPECT_THAT(run.strErr, HasSubstr(error));
        EXPECT_TRUE(fs::is_symlink(scratch.Path("out.bin")));
        if (bDangling)
            EXPECT_FALSE(fs::exists(scratch.Path("target.bin")));
        else
            EXPECT_EQ(ReadFileText(scratch.Path("target.bin")), "keep");
    }
}

// Names that are not UTF-8 are opened and created with their exact bytes, and printed escaped.
TEST_F(CliHostileWorld, PathsAreBytes)
{
    const std::string image = scratch.Path("img\xff\xfe.bin");
    fs::copy_file(kImage, image);
    const std::tuple<std::vector<std::string>, std::string> cases[] = {
        {{"image", "info", image}, "img\\xff\\xfe.bin"},
        {Sim({"--match-policy", "0x10f", "download", image, "--device", "0"}),
         "Open DFU file " + scratch.Path("img\\xff\\xfe.bin") + " succeeded"},
        {Sim({"--json", "upload", "up\xff.bin", "--device", "0"}), "\"file\":\"up\\\\xff.bin\""},
    };
    for (const auto& [args, printed] : cases) {
        const CliRun run = RunCli(scratch, args);
        EXPECT_EQ(run.nExit, 0) << run;
        EXPECT_THAT(run.strOut, HasSubstr(printed));
    }
    EXPECT_EQ(fs::file_size(scratch.Path("up\xff.bin")), 65536u);
    EXPECT_FALSE(fs::exists(scratch.Path("up\xef\xbf\xbd.bin")));
    // The scratch folder's own removal goes through Qt's names, which would lose these bytes.
    fs::remove(image);
    fs::remove(scratch.Path("up\xff.bin"));
}

// One rule for an emulator folder that cannot serve, named either way: a message and status 3. Named by
// --sim and missing: CliE2e.RefusalsSayWhyAndTouchNothing.
TEST_F(CliHostileWorld, UnusableEmulatorFolder)
{
    const std::string plain = scratch.Path("plain");
    WriteFileText(plain, "not a folder");
    RunSetup setup;
    setup.env = {"QUILLON_SIM_DIR=" + plain};
    const CliRun run = RunCli(scratch, {"info"}, setup);
    EXPECT_EQ(run.nExit, 3) << run;
    EXPECT_EQ(run.strErr, "quillon-cli: the emulator folder " + plain + " (QUILLON_SIM_DIR) is not a directory\n");
}

// A disk that fills up under the write: the window's message, the reason, and no file by that name. A
// backup is written by the same upload (UploadOne).
TEST_F(CliHostileWorld, FullDiskLeavesNoFile)
{
    ASSERT_EQ(RunCli(scratch, Sim({"list"})).nExit, 0);  // the devices' flash files exist before the limit
    RunSetup setup;
    setup.nFileSizeLimit = 20480;
    const CliRun run = RunCli(scratch, Sim({"upload", "up.bin", "--device", "0"}), setup);
    EXPECT_EQ(run.nExit, 1) << run;
    EXPECT_THAT(run.strErr, AllOf(HasSubstr("Write file failed!"), HasSubstr("up.bin: File too large")));
    EXPECT_THAT(run.strOut, HasSubstr("Device is switched to normal mode successfully!"));
    for (const auto& entry : fs::directory_iterator(scratch.Dir()))
        EXPECT_THAT(entry.path().filename().string(), Not(HasSubstr("up.bin")));
}

}  // namespace
