// quillon-cli in a hostile world, run as a separate process whose arguments are raw bytes: a reader
// that goes away, a hang-up, pipes where files belong, links where new files go, names that are not
// UTF-8, an unusable emulator folder, a full disk (a file size limit). Every case ends by itself; the
// runner's limit turns a hang into a failure.
#include "support/CliRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    bool bExited = false;  // ended by itself (not by a signal, not by the runner's limit)
    int nStatus = -1;
    std::string strOut;
    std::string strErr;
};

std::ostream& operator<<(std::ostream& out, const Outcome& run)
{
    return out << "status " << run.nStatus << (run.bExited ? "" : " (killed or hung)") << "\nstdout: " << run.strOut
               << "\nstderr: " << run.strErr;
}

struct RunSetup {
    std::vector<std::string> env;  // "NAME=value", added to a clean environment
    bool bReaderGone = false;      // stdout's reader is gone before the first byte
    std::string hangUpWhenLogHas;  // once --log holds this, stdout's reader goes and SIGHUP comes
    std::string logPath;
    rlim_t nFileSizeLimit = RLIM_INFINITY;
};

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// fork/exec, so that the arguments reach the program as the bytes they are.
Outcome RunCli(const CCliScratch& scratch, const std::vector<std::string>& args, const RunSetup& setup = {})
{
    // The test's environment (sanitizer options included), with a store, a locale and devices of our own.
    std::vector<std::string> env = {"LC_ALL=C.UTF-8", "HOME=" + scratch.Dir(),
                                    "XDG_CONFIG_HOME=" + scratch.Path("config")};
    for (char** p = environ; *p != nullptr; ++p) {
        const std::string entry = *p;
        const std::string name = entry.substr(0, entry.find('='));
        if (name != "LC_ALL" && name != "HOME" && name != "XDG_CONFIG_HOME" && name.rfind("QUILLON_SIM", 0) != 0)
            env.push_back(entry);
    }
    env.insert(env.end(), setup.env.begin(), setup.env.end());
    std::vector<char*> argv, envp;
    const std::string program = CCliScratch::Program();
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const std::string dir = scratch.Dir();

    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        const int nullFd = ::open("/dev/null", O_RDONLY);
        ::dup2(nullFd, STDIN_FILENO);
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
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    int outFd = outPipe[0];
    if (setup.bReaderGone) {
        ::close(outFd);
        outFd = -1;
    }
    Outcome run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool bHungUp = false;
    for (int errFd = errPipe[0]; outFd >= 0 || errFd >= 0;) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            break;
        }
        if (!bHungUp && !setup.hangUpWhenLogHas.empty() &&
            Contains(ReadFileText(setup.logPath), setup.hangUpWhenLogHas)) {
            // A closed terminal under `| tee`: tee goes first, then the hang-up reaches the group.
            if (outFd >= 0)
                ::close(outFd);
            outFd = -1;
            ::kill(pid, SIGHUP);
            bHungUp = true;
        }
        pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
        ::poll(fds, 2, 20);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? run.strOut : run.strErr).append(buffer, static_cast<size_t>(n));
                continue;
            }
            ::close(fds[i].fd);
            (i == 0 ? outFd : errFd) = -1;
        }
    }
    if (outFd >= 0)
        ::close(outFd);
    int nWait = 0;
    ::waitpid(pid, &nWait, 0);
    run.bExited = WIFEXITED(nWait);
    run.nStatus = WIFEXITED(nWait) ? WEXITSTATUS(nWait) : 128 + WTERMSIG(nWait);
    return run;
}

class CliHostileWorld : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(scratch.Path("config")); }

    std::vector<std::string> Sim(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {std::string("--sim"), scratch.SimDir()});
        return args;
    }

    CCliScratch scratch;
};

const std::string kImage = CCliScratch::ExampleImage("za1200-fw-0106.bin");

}  // namespace

// A reader that goes away (`| head`), or a closed terminal under `| tee` (stdout's reader gone, then
// SIGHUP): the operation runs to its end, the device back in normal mode, and the status says the
// output was lost.
TEST_F(CliHostileWorld, LostOutputNeverStopsAnOperation)
{
    struct Case {
        const char* pszName;
        std::vector<std::string> args;
        const char* pszHangUpAt;  // null: the reader is gone from the start
        const char* pszSuccess;
    };
    const Case cases[] = {
        {"download | head",
         {"--json", "--match-policy", "0x10f", "download", kImage, "--device", "0"},
         nullptr,
         "Firmware upgrade succeeded"},
        {"upload | head", {"upload", "up.bin", "--device", "0"}, nullptr, "Firmware upload succeeded!"},
        {"download | tee, hang-up",
         {"--match-policy", "0x10f", "download", kImage, "--device", "0"},
         "Firmware upgrade started",
         "Firmware upgrade succeeded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        fs::remove(scratch.Path("up.bin"));
        RunSetup setup;
        setup.logPath = scratch.Path("run.log");
        fs::remove(setup.logPath);
        setup.bReaderGone = c.pszHangUpAt == nullptr;
        if (c.pszHangUpAt != nullptr) {
            setup.hangUpWhenLogHas = c.pszHangUpAt;
            setup.env.push_back("QUILLON_SIM_REALTIME=1");  // a download of seconds: the hang-up comes in it
        }
        std::vector<std::string> args = Sim(c.args);
        args.insert(args.begin(), {std::string("--log"), setup.logPath});
        const Outcome run = RunCli(scratch, args, setup);
        ASSERT_TRUE(run.bExited) << run;
        EXPECT_EQ(run.nStatus, 4) << run;
        EXPECT_TRUE(Contains(run.strErr, "quillon-cli: output lost (stdout: Broken pipe)")) << run;
        const std::string log = ReadFileText(setup.logPath);
        EXPECT_TRUE(Contains(log, c.pszSuccess)) << log;
        EXPECT_TRUE(Contains(log, "Device is switched to normal mode successfully!")) << log;
    }
}

// A pipe where the preference store or the log is: nothing waits on it; the store is not used, the log
// is refused.
TEST_F(CliHostileWorld, PipesWhereFilesBelongNeverHold)
{
    struct Case {
        const char* pszFifo;
        std::vector<std::string> args;
        int nStatus;
        const char* pszError;
    };
    const Case cases[] = {
        {"config/ZEL/Quillon.conf",
         {"list"},
         0,
         "/ZEL/Quillon.conf is not a regular file; the stored preferences are not used"},
        {"config/ZEL.conf", {"list"}, 0, "/ZEL.conf is not a regular file; the stored preferences are not used"},
        {"log.fifo", {"--log", "log.fifo", "list"}, 3, "cannot open the log file log.fifo: not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszFifo);
        const std::string fifo = scratch.Path(c.pszFifo);
        fs::create_directories(fs::path(fifo).parent_path());
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const Outcome run = RunCli(scratch, Sim(c.args));
        fs::remove(fifo);
        ASSERT_TRUE(run.bExited) << run;
        EXPECT_EQ(run.nStatus, c.nStatus) << run;
        EXPECT_TRUE(Contains(run.strErr, c.pszError)) << run;
    }
}

// New files never go through a link, never replace what is there without --force (a link that leads
// nowhere is there), and a link is not replaced even with it.
TEST_F(CliHostileWorld, OutputFilesNeverFollowLinks)
{
    struct Case {
        std::vector<std::string> args;
        bool bDangling;  // else the link leads to an existing file, which must stay as it is
        const char* pszError;
    };
    const Case cases[] = {
        {{"upload", "out.bin", "--device", "0"}, true, "out.bin exists; add --force to replace it"},
        {{"download", kImage, "--device", "0", "--backup", "out.bin"},
         true,
         "out.bin exists; a backup never replaces a file"},
        {{"upload", "out.bin", "--device", "0", "--force"},
         false,
         "out.bin: a symbolic link, which is never written through"},
        {{"image", "stamp", kImage, "out.bin", "--vid", "1", "--pid", "2", "--version", "3", "--subversion", "4",
          "--chip", "5,6"},
         true,
         "out.bin exists; add --force to replace it"},
        {{"image", "stamp", kImage, "out.bin", "--vid", "1", "--pid", "2", "--version", "3", "--subversion", "4",
          "--chip", "5,6", "--force"},
         false,
         "cannot write out.bin: a symbolic link, which is never written through"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        fs::remove(scratch.Path("out.bin"));
        fs::remove(scratch.Path("target.bin"));
        if (!c.bDangling)
            WriteFileText(scratch.Path("target.bin"), "keep");
        fs::create_symlink("target.bin", scratch.Path("out.bin"));
        const Outcome run = RunCli(scratch, Sim(c.args));
        ASSERT_TRUE(run.bExited) << run;
        EXPECT_EQ(run.nStatus, 1) << run;
        EXPECT_TRUE(Contains(run.strErr, c.pszError)) << run;
        EXPECT_TRUE(fs::is_symlink(scratch.Path("out.bin")));
        if (c.bDangling)
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

    const Outcome info = RunCli(scratch, {"image", "info", image});
    ASSERT_TRUE(info.bExited) << info;
    EXPECT_EQ(info.nStatus, 0) << info;
    EXPECT_TRUE(Contains(info.strOut, "img\\xff\\xfe.bin")) << info;

    const Outcome download = RunCli(scratch, Sim({"--match-policy", "0x10f", "download", image, "--device", "0"}));
    ASSERT_TRUE(download.bExited) << download;
    EXPECT_EQ(download.nStatus, 0) << download;
    EXPECT_TRUE(Contains(download.strOut, "Open DFU file " + scratch.Path("img\\xff\\xfe.bin") + " succeeded"))
        << download;

    const Outcome upload = RunCli(scratch, Sim({"--json", "upload", "up\xff.bin", "--device", "0"}));
    ASSERT_TRUE(upload.bExited) << upload;
    EXPECT_EQ(upload.nStatus, 0) << upload;
    EXPECT_EQ(fs::file_size(scratch.Path("up\xff.bin")), 65536u);
    EXPECT_FALSE(fs::exists(scratch.Path("up\xef\xbf\xbd.bin")));
    EXPECT_TRUE(Contains(upload.strOut, "\"file\":\"up\\\\xff.bin\"")) << upload;
    // The scratch folder's own removal goes through Qt's names, which would lose these bytes.
    fs::remove(image);
    fs::remove(scratch.Path("up\xff.bin"));
}

// One rule for an emulator folder that cannot serve, named either way: a message and status 3.
TEST_F(CliHostileWorld, UnusableEmulatorFolder)
{
    WriteFileText(scratch.Path("plain"), "not a folder");
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> env;
        std::string error;
    };
    const Case cases[] = {
        {{"--sim", scratch.Path("nowhere"), "list"}, {}, scratch.Path("nowhere") + " (--sim) does not exist"},
        {{"--sim", scratch.Path("plain"), "list"}, {}, scratch.Path("plain") + " (--sim) is not a directory"},
        {{"list"},
         {"QUILLON_SIM_DIR=" + scratch.Path("nowhere")},
         scratch.Path("nowhere") + " (QUILLON_SIM_DIR) does not exist"},
        {{"info"},
         {"QUILLON_SIM_DIR=" + scratch.Path("plain")},
         scratch.Path("plain") + " (QUILLON_SIM_DIR) is not a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        RunSetup setup;
        setup.env = c.env;
        const Outcome run = RunCli(scratch, c.args, setup);
        ASSERT_TRUE(run.bExited) << run;
        EXPECT_EQ(run.nStatus, 3) << run;
        EXPECT_EQ(run.strErr, "quillon-cli: the emulator folder " + c.error + "\n") << run;
    }
}

// A disk that fills up under the write: the window's message, the reason, and no file by that name.
TEST_F(CliHostileWorld, FullDiskLeavesNoFile)
{
    ASSERT_TRUE(RunCli(scratch, Sim({"list"})).bExited);  // the devices' flash files exist before the limit
    struct Case {
        std::vector<std::string> args;
        const char* pszFile;
    };
    const Case cases[] = {
        {{"upload", "up.bin", "--device", "0"}, "up.bin"},
        {{"download", kImage, "--device", "0", "--backup", "backup.bin"}, "backup.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszFile);
        RunSetup setup;
        setup.nFileSizeLimit = 20480;
        const Outcome run = RunCli(scratch, Sim(c.args), setup);
        ASSERT_TRUE(run.bExited) << run;
        EXPECT_EQ(run.nStatus, 1) << run;
        EXPECT_TRUE(Contains(run.strErr, "Write file failed!")) << run;
        EXPECT_TRUE(Contains(run.strErr, std::string(c.pszFile) + ": File too large")) << run;
        EXPECT_TRUE(Contains(run.strOut, "Device is switched to normal mode successfully!")) << run;
        for (const auto& entry : fs::directory_iterator(scratch.Dir()))
            EXPECT_EQ(entry.path().filename().string().find(c.pszFile), std::string::npos) << entry.path();
    }
}
