#include "cli/ParallelRun.h"

#include "cli/CliOutput.h"
#include "cli/Interrupts.h"
#include "platform/FileIo.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The window's answer to a close request while it works, as a single device's run shows it.
const char kExitRefused[] = "Do NOT exit while DFU is running!";
constexpr auto kBoardInterval = std::chrono::milliseconds(200);

struct Job {
    ParallelDevice* pDevice = nullptr;
    pid_t pid = -1;
    int fd = -1;
    std::string pending;  // bytes after the last whole line
    nlohmann::json result;
    uint64_t nDone = 0, nTotal = 0;
    std::chrono::steady_clock::time_point start;
};

std::string HexPolicy(uint32_t nPolicy)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", nPolicy);
    return text;
}

std::vector<std::string> ChildArguments(const CliOptions& options, bool bUpload, uint32_t nPolicy, bool bVerify,
                                        const ParallelDevice& device)
{
    std::vector<std::string> args = {"quillon-cli"};
    if (!options.strSimDir.empty())
        args.insert(args.end(), {"--sim", options.strSimDir});
    args.insert(args.end(), {"--json", "--match-policy", HexPolicy(nPolicy), bVerify ? "--verify" : "--no-verify"});
    if (bUpload) {
        args.insert(args.end(), {"upload", device.strFile});
        if (options.bForce)
            args.emplace_back("--force");
    } else {
        args.insert(args.end(), {"download", options.strImage});
        if (options.bUpdateAll)
            args.emplace_back(*options.bUpdateAll ? "--update-all" : "--no-update-all");
    }
    args.insert(args.end(), {"--device", device.strPath, "--job"});
    return args;
}

// The child writes its JSON lines (and anything else) into one pipe; it runs in a process group of its
// own, so that the terminal's Ctrl-C reaches this process alone, which lets it finish.
bool Spawn(Job& job, const std::vector<std::string>& args)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int nError = ::posix_spawn(&job.pid, "/proc/self/exe", &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    if (nError != 0) {
        ::close(fds[0]);
        job.pid = -1;
        return false;
    }
    job.fd = fds[0];
    job.start = std::chrono::steady_clock::now();
    return true;
}

std::string WithoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// One line of a child: its events are passed on with the device's index and serial number.
void Relay(Job& job, const std::string& line, CCliOutput& output, bool bJson)
{
    ParallelDevice& device = *job.pDevice;
    nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (!event.is_object() || !event.contains("event")) {
        output.DeviceLine("error",
                          {{"event", "error"}, {"text", line}, {"index", device.nIndex}, {"serial", device.strSerial}},
                          DeviceLabel(device) + " " + line);
        return;
    }
    const std::string kind = event.value("event", "");
    event["index"] = device.nIndex;
    event["serial"] = device.strSerial;
    if (kind == "result") {
        job.result = event;
        return;
    }
    if (kind == "progress") {
        job.nDone = event.value("done", uint64_t{0});
        job.nTotal = event.value("total", uint64_t{0});
        if (bJson)  // on a terminal the board shows it
            output.Event(event, "");
        return;
    }
    if (kind == "trace" || kind == "message" || kind == "error" || kind == "warning") {
        const std::string text = DeviceLabel(device) + " " + WithoutLineEnd(event.value("text", ""));
        output.DeviceLine(kind == "trace" ? "trace" : kind == "error" ? "error" : "message", event, text);
    }
}

void ReadFrom(Job& job, CCliOutput& output, bool bJson, bool& bEnded)
{
    char buffer[4096];
    const ssize_t n = ::read(job.fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        bEnded = true;
        if (!job.pending.empty())
            Relay(job, job.pending, output, bJson);
        job.pending.clear();
        return;
    }
    job.pending.append(buffer, static_cast<size_t>(n));
    size_t nStart = 0;
    for (size_t nEnd; (nEnd = job.pending.find('\n', nStart)) != std::string::npos; nStart = nEnd + 1)
        Relay(job, job.pending.substr(nStart, nEnd - nStart), output, bJson);
    job.pending.erase(0, nStart);
}

// The child's status and result say what became of the device.
void Judge(Job& job, int nStatus)
{
    ParallelDevice& device = *job.pDevice;
    device.nDurationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - job.start).count();
    device.nBlocks = job.result.value("blocks", 0);
    const int nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    const std::string outcome = job.result.value("outcome", "");
    device.strReason = job.result.value("reason", "");
    if (nExit == EXIT_OK && job.result.value("ok", false))
        device.outcome = DeviceOutcome::Succeeded;
    else if (nExit == EXIT_BUSY) {
        device.outcome = DeviceOutcome::Busy;
        device.nHolder = job.result.value("held_by", -1);
    } else if (nExit == EXIT_NOT_FOUND)
        device.outcome = DeviceOutcome::Gone;
    else if (outcome == "refused")
        device.outcome = DeviceOutcome::Refused;
    else
        device.outcome = DeviceOutcome::Failed;
}

std::string BoardLine(const Job& job)
{
    const std::string label = DeviceLabel(*job.pDevice) + " ";
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - job.start).count();
    return label + ProgressText(job.nDone, job.nTotal, dSeconds,
                                std::max(TerminalColumns() - static_cast<int>(label.size()), 2));
}

}  // namespace

const char* OutcomeName(DeviceOutcome outcome)
{
    switch (outcome) {
    case DeviceOutcome::Succeeded:
        return "succeeded";
    case DeviceOutcome::Failed:
        return "failed";
    case DeviceOutcome::Refused:
        return "refused";
    case DeviceOutcome::Busy:
        return "busy";
    case DeviceOutcome::Gone:
        return "gone";
    case DeviceOutcome::Interrupted:
        return "interrupted";
    }
    return "failed";
}

std::string DeviceLabel(const ParallelDevice& device)
{
    return "[No." + std::to_string(device.nIndex) + (device.strSerial.empty() ? "" : " " + device.strSerial) + "]";
}

std::string DeviceResultLogLine(const ParallelDevice& device)
{
    std::string line = "No." + std::to_string(device.nIndex) +
                       " serial=" + (device.strSerial.empty() ? "-" : device.strSerial) + " path=" + device.strPath +
                       " duration_ms=" + std::to_string(device.nDurationMs) +
                       " blocks=" + std::to_string(device.nBlocks) + " outcome=" + OutcomeName(device.outcome);
    if (!device.strReason.empty())
        line += " reason=\"" + device.strReason + "\"";
    return line;
}

void RunParallel(const CliOptions& options, CCliOutput& output, bool bUpload, uint32_t nMatchPolicy, bool bVerify,
                 std::vector<ParallelDevice>& devices)
{
    const size_t nLimit = options.nJobs == 0 ? devices.size() : options.nJobs;
    std::vector<Job> running;
    size_t nNext = 0;
    bool bStopped = false;
    CInterruptScope interrupts;
    auto lastBoard = std::chrono::steady_clock::now() - kBoardInterval;
    while ((!bStopped && nNext < devices.size()) || !running.empty()) {
        if (TakeInterrupt() && !bStopped) {
            bStopped = true;
            if (!running.empty())
                output.Message(QString::fromLatin1(kExitRefused));
        }
        while (!bStopped && running.size() < nLimit && nNext < devices.size()) {
            Job job;
            job.pDevice = &devices[nNext++];
            if (Spawn(job, ChildArguments(options, bUpload, nMatchPolicy, bVerify, *job.pDevice))) {
                running.push_back(std::move(job));
            } else {
                job.pDevice->outcome = DeviceOutcome::Failed;
                output.Error(DeviceLabel(*job.pDevice) + " cannot start: " + std::strerror(errno));
            }
        }
        std::vector<pollfd> fds;
        for (const Job& job : running)
            fds.push_back({job.fd, POLLIN, 0});
        if (!fds.empty() && ::poll(fds.data(), fds.size(), 100) < 0 && errno != EINTR)
            break;
        for (size_t i = running.size(); i-- > 0;) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            bool bEnded = false;
            ReadFrom(running[i], output, options.bJson, bEnded);
            if (!bEnded)
                continue;
            ::close(running[i].fd);
            int nStatus = 0;
            while (::waitpid(running[i].pid, &nStatus, 0) < 0 && errno == EINTR) {
            }
            Judge(running[i], nStatus);
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
        }
        if (const auto now = std::chrono::steady_clock::now(); now - lastBoard >= kBoardInterval) {
            lastBoard = now;
            std::vector<std::string> lines;
            for (const Job& job : running)
                lines.push_back(BoardLine(job));
            output.ShowBoard(lines);
        }
    }
    output.ShowBoard({});
}
