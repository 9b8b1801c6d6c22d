// The Quillon window program under QT_QPA_PLATFORM=offscreen, the real executable with the probe
// plugin loaded into it (probe/WindowProbe.cpp):
//   - start-up to a shown window: process start to the window shown and its first events handled, with
//     the example configuration beside the program and the example emulated devices (--sim), and with
//     no emulator (hidapi, no devices);
//   - the longest stall of the user-interface thread: the largest gap of a 1 ms timer on that thread
//     while a 128 KB download runs in the window on an emulated device paced in real time, next to the
//     same measure over a second in which nothing runs, and the most CPU time the thread spent within
//     one gap (what a stall of our own costs; the rest of a gap is the machine's scheduling).
//
//   e2e_window_bench [--runs N]
#include "BenchSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kQuillon[] = QUILLON_BINARY_DIR "/bin/Quillon";

// "max=12.5" in the line after the marker.
double Field(const std::string& line, const std::string& marker, const std::string& name)
{
    const size_t at = line.find(marker);
    if (at == std::string::npos)
        return -1;
    const size_t field = line.find(" " + name + "=", at);
    return field == std::string::npos ? -1 : std::atof(line.c_str() + field + name.size() + 2);
}

}  // namespace

int main(int argc, char** argv)
{
    int nRuns = 10;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--runs")
            nRuns = std::max(1, std::atoi(argv[i + 1]));

    QTemporaryDir scratch;
    const std::string dir = scratch.path().toStdString();
    QFile::setPermissions(scratch.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString examples = QStringLiteral(QUILLON_SOURCE_DIR "/examples/sim");
    const std::string sim = dir + "/sim", benchSim = dir + "/bench-sim";
    QDir().mkpath(QString::fromStdString(sim));
    QDir().mkpath(QString::fromStdString(benchSim));
    for (const QString& name : QDir(examples).entryList({QStringLiteral("*.json")}, QDir::Files))
        QFile::copy(examples + QLatin1Char('/') + name, QString::fromStdString(sim) + QLatin1Char('/') + name);
    e2e::WriteBenchDevice(benchSim, true);

    std::map<std::string, std::string> env = {{"HOME", dir},
                                              {"XDG_CONFIG_HOME", dir + "/.config"},
                                              {"XDG_RUNTIME_DIR", dir},
                                              {"QUILLON_SIM_DIR", ""},
                                              {"QUILLON_SIM_REALTIME", "0"},
                                              {"QT_QPA_PLATFORM", "offscreen"},
                                              {"QT_PLUGIN_PATH", QUILLON_PROBE_DIR},
                                              {"QT_QPA_GENERIC_PLUGINS", "quillonprobe"},
                                              {"QUILLON_PROBE", "shown"}};

    struct StartCase {
        const char* pszName;
        std::vector<std::string> args;
    } cases[] = {{"example devices (--sim)", {"--sim", sim}}, {"no emulator (hidapi, no devices)", {}}};
    std::printf("start-up to a shown window, %d runs each:\n", nRuns);
    for (const StartCase& c : cases) {
        std::vector<double> times;
        for (int i = 0; i < nRuns; ++i) {
            const e2e::ChildRun run = e2e::RunChild(kQuillon, c.args, env, "probe shown");
            if (run.strOut.find("probe shown") == std::string::npos) {
                std::fprintf(stderr, "e2e_window_bench: the window was not shown:\n%s\n", run.strOut.c_str());
                return 1;
            }
            times.push_back(run.dWallMs);
        }
        std::printf("  %-34s median %.0f ms, best %.0f ms, worst %.0f ms (target < 300 ms) %s\n", c.pszName,
                    e2e::Median(times), *std::min_element(times.begin(), times.end()),
                    *std::max_element(times.begin(), times.end()), e2e::Median(times) < 300 ? "met" : "MISSED");
    }

    env["QUILLON_PROBE"] = "stall";
    env["QUILLON_PROBE_IMAGE"] = QUILLON_SOURCE_DIR "/examples/images/za1200-fw-0106.bin";
    const int nStallRuns = std::min(nRuns, 3);
    std::printf("longest stall of the user-interface thread, 128 KB download paced in real time, %d runs:\n",
                nStallRuns);
    for (int i = 0; i < nStallRuns; ++i) {
        const e2e::ChildRun run = e2e::RunChild(kQuillon, {"--sim", benchSim}, env, "probe stall");
        const size_t at = run.strOut.find("probe stall");
        if (at == std::string::npos) {
            std::fprintf(stderr, "e2e_window_bench: no stall measure:\n%s\n", run.strOut.c_str());
            return 1;
        }
        const std::string line = run.strOut.substr(at, run.strOut.find('\n', at) - at);
        const double max = Field(line, "download", "max");
        std::printf("  download: %.0f ticks over %.0f ms, longest gap %.2f ms (target < 20 ms) %s, 99th percentile "
                    "%.2f ms, gaps over 20 ms: %.0f, most CPU time of the thread within one gap %.2f ms\n",
                    Field(line, "download", "ticks"), Field(line, "download", "ms"), max, max < 20 ? "met" : "MISSED",
                    Field(line, "download", "p99"), Field(line, "download", "over20"),
                    Field(line, "download", "maxcpu"));
        std::printf("    the idle second before it: longest gap %.2f ms, 99th percentile %.2f ms, gaps over 20 ms: "
                    "%.0f, most CPU time within one gap %.2f ms\n",
                    Field(line, "baseline", "max"), Field(line, "baseline", "p99"), Field(line, "baseline", "over20"),
                    Field(line, "baseline", "maxcpu"));
    }
    return 0;
}
