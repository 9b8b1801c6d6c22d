// Many devices at once: `quillon-cli download --all` over 32 emulated devices paced in real time,
// measured from outside against one device alone:
//   - wall time (target: at most 1.25 times one device alone);
//   - host CPU time of the whole run, every process of it (target: at most 60 ms per device);
//   - peak memory of the run: the proportional set size (PSS, shared pages divided among their users)
//     of all its processes summed, sampled every 10 ms, above one idle quillon-cli (target: at most one
//     image plus 2 MB per running device).
//
//   e2e_parallel_bench [--devices N] [--runs N] [--quillon-cli PATH]
#include "BenchSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

constexpr double kImageKb = 128;
constexpr double kEmulatedFlashKb = 1024;  // the bench device's W25Q80DV
constexpr double kFinishingPauseMs = 500;

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The PSS of every process whose command line names the folder, summed (kB).
long TreePssKb(const std::string& marker)
{
    long nTotal = 0;
    DIR* pProc = ::opendir("/proc");
    if (!pProc)
        return 0;
    while (const dirent* pEntry = ::readdir(pProc)) {
        if (pEntry->d_name[0] < '0' || pEntry->d_name[0] > '9')
            continue;
        const std::string base = std::string("/proc/") + pEntry->d_name;
        if (ReadAll(base + "/cmdline").find(marker) == std::string::npos)
            continue;
        std::istringstream rollup(ReadAll(base + "/smaps_rollup"));
        for (std::string line; std::getline(rollup, line);)
            if (line.rfind("Pss:", 0) == 0)
                nTotal += std::atol(line.c_str() + 4);
    }
    ::closedir(pProc);
    return nTotal;
}

struct Measured {
    e2e::ChildRun run;
    long nPeakPssKb = 0;
};

Measured RunSampled(const std::string& cli, const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env, const std::string& marker)
{
    Measured measured;
    std::atomic<bool> bDone{false};
    std::thread sampler([&] {
        while (!bDone) {
            measured.nPeakPssKb = std::max(measured.nPeakPssKb, TreePssKb(marker));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    measured.run = e2e::RunChild(cli, args, env);
    bDone = true;
    sampler.join();
    return measured;
}

// N copies of the bench device, each with a serial number of its own.
std::string MakeDevices(const std::string& dir, int nDevices)
{
    const std::string sim = dir + "/sim" + std::to_string(nDevices);
    QDir().mkpath(QString::fromStdString(sim));
    e2e::WriteBenchDevice(sim, true);
    const std::string text = ReadAll(sim + "/bench.json");
    std::remove((sim + "/bench.json").c_str());
    for (int i = 0; i < nDevices; ++i) {
        char szName[32];
        std::snprintf(szName, sizeof szName, "%02d", i);
        std::string device = text;
        const std::string serial = "ZA1200-BENCH";
        device.replace(device.find(serial), serial.size(), serial + "-" + szName);
        std::ofstream(sim + "/dev" + szName + ".json") << device;
    }
    return sim;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string cli = QUILLON_BINARY_DIR "/bin/quillon-cli";
    int nDevices = 32, nRuns = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--devices")
            nDevices = std::max(2, std::atoi(argv[i + 1]));
        else if (arg == "--runs")
            nRuns = std::max(1, std::atoi(argv[i + 1]));
        else if (arg == "--quillon-cli")
            cli = argv[i + 1];
    }
    QTemporaryDir scratch;
    const std::string dir = scratch.path().toStdString();
    const std::map<std::string, std::string> env = {
        {"HOME", dir}, {"XDG_CONFIG_HOME", dir + "/.config"}, {"QUILLON_SIM_DIR", ""}, {"QUILLON_SIM_REALTIME", "1"}};
    const std::string image = QUILLON_SOURCE_DIR "/examples/images/za1200-fw-0106.bin";
    const std::string one = MakeDevices(dir, 1);
    const std::string many = MakeDevices(dir, nDevices);

    std::vector<double> alone, idlePss;
    for (int i = 0; i < nRuns; ++i) {
        const Measured idle = RunSampled(cli, {"--sim", one, "list"}, env, one);
        const e2e::ChildRun run = e2e::RunChild(cli, {"--sim", one, "--quiet", "download", image, "--update-all"}, env);
        if (run.nExit != 0) {
            std::fprintf(stderr, "e2e_parallel_bench: the single download failed:\n%s\n", run.strOut.c_str());
            return 1;
        }
        alone.push_back(run.dWallMs);
        idlePss.push_back(static_cast<double>(idle.nPeakPssKb));
    }
    std::vector<double> wall, cpu, peak;
    for (int i = 0; i < nRuns; ++i) {
        const Measured all =
            RunSampled(cli, {"--sim", many, "--quiet", "download", image, "--update-all", "--all"}, env, many);
        if (all.run.nExit != 0) {
            std::fprintf(stderr, "e2e_parallel_bench: download --all failed:\n%s\n", all.run.strOut.c_str());
            return 1;
        }
        wall.push_back(all.run.dWallMs);
        cpu.push_back(all.run.dCpuMs);
        peak.push_back(static_cast<double>(all.nPeakPssKb));
    }
    const double dAlone = e2e::Median(alone), dWall = e2e::Median(wall);
    const double dCpuPer = e2e::Median(cpu) / nDevices;
    // A short idle run can end between two samples: its largest sample is the one that saw it.
    const double dIdle = *std::max_element(idlePss.begin(), idlePss.end()), dPeak = e2e::Median(peak);
    const double dLimitKb = kImageKb + 2048.0 * nDevices;
    std::printf("paced in real time, %d runs (medians), %d devices:\n", nRuns, nDevices);
    std::printf("  one device alone:      %.0f ms (process start to exit, %.0f ms pause included)\n", dAlone,
                kFinishingPauseMs);
    std::printf("  download --all:        %.0f ms; %.2f times one device (target <= 1.25) %s\n", dWall, dWall / dAlone,
                dWall / dAlone <= 1.25 ? "met" : "MISSED");
    std::printf("  host CPU:              %.0f ms in all, %.1f ms per device (target <= 60) %s\n", e2e::Median(cpu),
                dCpuPer, dCpuPer <= 60 ? "met" : "MISSED");
    // The emulated flash chips are the devices' memory, which real devices keep on their side: each child
    // holds its device's chip and the parent every chip it enumerated; the idle program holds one.
    const int nEmulatedChips = 2 * nDevices - 1;
    const double dHostKb = dPeak - dIdle - kEmulatedFlashKb * nEmulatedChips;
    std::printf("  peak PSS of the run:   %.0f KB; one idle quillon-cli %.0f KB; above it %.0f KB = %.0f KB per "
                "device\n",
                dPeak, dIdle, dPeak - dIdle, (dPeak - dIdle) / nDevices);
    std::printf("  without %d more emulated flash chips (%.0f KB each): %.0f KB = %.0f KB per device (limit: "
                "image + 2 MB per device = %.0f KB) %s\n",
                nEmulatedChips, kEmulatedFlashKb, dHostKb, dHostKb / nDevices, dLimitKb,
                dHostKb <= dLimitKb ? "met" : "MISSED");
    return 0;
}
