// campaign: runs the power-cut and fault campaign and prints its counts.
//
//   campaign [--seed S] [--runs N] [--exhaustive] [--plant NAME] [--quiet]
//
// Random run i uses seed S + i, so a failing run replays alone with --seed <its seed> --runs 1.
// --exhaustive runs every single cut of a download from each starting state instead, into DFU mode
// through the boot loader and through the patch, by a device without and with the CRC capability.
// --plant puts a faulty programmer in front of the device library (skip-flag-clear, flag-first,
// own-flag-in-block): the campaign must then find violations.
// Exit status: 0 when no invariant was violated, 1 otherwise, 2 for a bad command line.
#include "Campaign.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool ParseNumber(const char* text, uint64_t& value)
{
    char* end = nullptr;
    value = std::strtoull(text, &end, 0);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    uint64_t nSeed = 1, nRuns = 1000;
    bool bExhaustive = false, bQuiet = false;
    campaign::Planted planted = campaign::Planted::None;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bExhaustive = bExhaustive || arg == "--exhaustive";
        bQuiet = bQuiet || arg == "--quiet";
        if (arg == "--exhaustive" || arg == "--quiet")
            continue;
        const char* pszValue = ++i < argc ? argv[i] : "";
        if (!((arg == "--seed" && ParseNumber(pszValue, nSeed)) || (arg == "--runs" && ParseNumber(pszValue, nRuns)) ||
              (arg == "--plant" && campaign::ParsePlanted(pszValue, planted)))) {
            std::fprintf(stderr, "usage: campaign [--seed S] [--runs N] [--exhaustive] [--plant NAME] [--quiet]\n");
            return 2;
        }
    }

    QTemporaryDir scratch;
    campaign::CCampaign campaign(QUILLON_BINARY_DIR "/bin", scratch.path().toStdString());
    const campaign::Census& census = campaign.CleanCensus();
    using ull = unsigned long long;
    std::printf("clean download over an earlier image: %llu reports, %llu flash operations, %llu write transfers, %llu "
                "responses\n",
                ull{census.nReports}, ull{census.nFlashOps}, ull{census.nWrites}, ull{census.nResponses});

    const auto wallStart = std::chrono::steady_clock::now();
    campaign::Totals totals;
    auto report = [&](const campaign::RunPlan& plan, const campaign::RunResult& result) {
        totals.Add(result);
        if (result.violations.empty())
            return;
        std::printf("VIOLATION in run with %s\n", plan.Describe().c_str());
        for (const std::string& v : result.violations)
            std::printf("  %s\n", v.c_str());
    };
    if (bExhaustive) {
        for (bool bFlashCrc : {false, true})
            for (bool bPatchEntry : {false, true})
                for (int s = 0; s < campaign::kStartStates; ++s) {
                    const auto start = static_cast<campaign::StartState>(s);
                    for (const campaign::RunPlan& plan : campaign.ExhaustiveSingleCuts(start, bPatchEntry, bFlashCrc))
                        report(plan, campaign.Run(plan, planted));
                    if (!bQuiet)
                        std::printf("%s, through the %s%s: %s\n", campaign::StartStateName(start),
                                    bPatchEntry ? "patch" : "boot loader", bFlashCrc ? ", CRC capability" : "",
                                    totals.Line().c_str());
                }
    } else {
        for (uint64_t i = 0; i < nRuns; ++i) {
            const campaign::RunPlan plan = campaign.RandomPlan(nSeed + i);
            report(plan, campaign.Run(plan, planted));
            if (!bQuiet && (i + 1) % 10000 == 0)
                std::printf("%s\n", totals.Line().c_str());
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    std::printf("%s%s, seed %llu, planted fault %s, wall time %.1f s\n", bExhaustive ? "exhaustive single cuts: " : "",
                totals.Line().c_str(), ull{nSeed}, campaign::PlantedName(planted), seconds);
    return totals.nViolations == 0 ? 0 : 1;
}
