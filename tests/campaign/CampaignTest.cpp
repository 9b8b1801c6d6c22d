// The campaign as test cases: single cuts of a download from the starting states, random runs,
// and the faulty programmers that the campaign must catch. A failure prints the run's plan and seed;
// `campaign --seed <seed> --runs 1` replays a random run alone.
#include "Campaign.h"

#include "support/ParamNames.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace campaign;

namespace {

const char* const kPlantedTestNames[] = {"None", "SkipFlagClear", "FlagFirst", "OwnFlagInBlock"};

CCampaign& Shared()
{
    static QTemporaryDir scratch;
    static CCampaign instance(QUILLON_BINARY_DIR "/bin", scratch.path().toStdString());
    return instance;
}

// Runs every plan (against the correct programmer), each of which must keep every invariant.
Totals RunAll(const std::vector<RunPlan>& plans)
{
    Totals totals;
    for (const RunPlan& plan : plans) {
        const RunResult result = Shared().Run(plan);
        totals.Add(result);
        std::string text = plan.Describe();
        for (const std::string& v : result.violations)
            text += "\n  " + v;
        EXPECT_TRUE(result.violations.empty()) << text;
    }
    return totals;
}

// A plan of one session with these faults after nProbes availability probes.
RunPlan OneSession(uint64_t nSeed, const FaultPlan& faults, uint32_t nProbes = 0)
{
    RunPlan plan;
    plan.nSeed = nSeed;
    plan.sessions.push_back(SessionPlan{faults, false, nProbes});
    return plan;
}

}  // namespace

TEST(Campaign, CleanDownloadWritesEightBlocksBetweenTheFlagWrites)
{
    EXPECT_EQ(Shared().CleanCensus().nWrites, 10u) << "flag cleared, eight blocks, flag set";
    EXPECT_EQ(Shared().CleanCensus(StartState::EarlierImage, false, true).nWrites, 2u + 4u)
        << "blocks 0, 2, 6 and 8 between the two flag writes; 1, 3, 5 and 7 are there already";
}

// Every single cut from a device running an earlier image, one whose flag word is cleared and one whose
// flag word is torn (a device in recovery: garbage and the other tear boot the same way, and the random
// runs start from them); through the patch (a device without a boot loader) from a device running its
// firmware; and by a device with the CRC capability that already holds the new
// image's odd blocks, so that the download writes only the others (the flag word still at both ends),
// with the query's own cut (the campaign program runs every combination).
struct CutRow {
    const char* pszName;
    StartState start;
    bool bPatchEntry, bFlashCrc;
};

void PrintTo(const CutRow& row, std::ostream* os)
{
    *os << row.pszName;
}

class ExhaustiveSingleCut : public ::testing::TestWithParam<CutRow> {};

TEST_P(ExhaustiveSingleCut, NoCutBreaksAnInvariant)
{
    const CutRow& row = GetParam();
    const std::vector<RunPlan> plans = Shared().ExhaustiveSingleCuts(row.start, row.bPatchEntry, row.bFlashCrc);
    const Totals totals = RunAll(plans);
    // Every planned cut lands inside the download, except those after its last report and one past it:
    // nothing talks to the device after them, and it is only found gone when the run pulls it out.
    EXPECT_GE(totals.nCuts, plans.size() - 2) << totals.Line();
    EXPECT_TRUE(!row.bFlashCrc || totals.nCrcQueries > totals.nRuns) << totals.Line() << ": queries asked again";
    std::printf("%s: %s\n", row.pszName, totals.Line().c_str());
}

INSTANTIATE_TEST_SUITE_P(Cuts, ExhaustiveSingleCut,
                         ::testing::Values(CutRow{"EarlierImage", StartState::EarlierImage, false, false},
                                           CutRow{"FlagCleared", StartState::FlagCleared, false, false},
                                           CutRow{"TornAaFf", StartState::TornAaFf, false, false},
                                           CutRow{"ThroughThePatch", StartState::EarlierImage, true, false},
                                           CutRow{"UnchangedBlocksSkipped", StartState::EarlierImage, false, true}),
                         RowName());

// Seeds 1 to 1000, in four shards that ctest may run side by side.
class RandomRuns : public ::testing::TestWithParam<int> {};

TEST_P(RandomRuns, NoRunBreaksAnInvariant)
{
    constexpr uint64_t kShard = 250;
    const uint64_t nFirst = 1 + static_cast<uint64_t>(GetParam()) * kShard;
    std::vector<RunPlan> plans;
    for (uint64_t seed = nFirst; seed < nFirst + kShard; ++seed)
        plans.push_back(Shared().RandomPlan(seed));
    const Totals totals = RunAll(plans);
    EXPECT_GT(totals.nCuts, kShard) << "runs have one to five cuts each";
    std::printf("seeds %llu to %llu: %s\n", static_cast<unsigned long long>(nFirst),
                static_cast<unsigned long long>(nFirst + kShard - 1), totals.Line().c_str());
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomRuns, ::testing::Range(0, 4), [](const auto& info) {
    return "Seeds" + std::to_string(1 + info.param * 250) + "To" + std::to_string(250 + info.param * 250);
});

// The harness proves itself: each faulty programmer is caught within 100 random runs, and the run that
// catches it is clean with the correct programmer.
namespace campaign {
void PrintTo(Planted planted, std::ostream* os)
{
    *os << PlantedName(planted);
}
}  // namespace campaign

class PlantedFault : public ::testing::TestWithParam<Planted> {};

TEST_P(PlantedFault, IsCaughtWithinOneHundredRuns)
{
    CCampaign& c = Shared();
    for (uint64_t seed = 1; seed <= 100; ++seed) {
        const RunPlan plan = c.RandomPlan(seed);
        const RunResult planted = c.Run(plan, GetParam());
        if (planted.violations.empty())
            continue;
        std::printf("%s caught in run %llu: %s\n", PlantedName(GetParam()), static_cast<unsigned long long>(seed),
                    planted.violations.front().c_str());
        RunAll({plan});
        return;
    }
    FAIL() << PlantedName(GetParam()) << " went unnoticed for 100 runs";
}

INSTANTIATE_TEST_SUITE_P(Programmers, PlantedFault,
                         ::testing::Values(Planted::SkipFlagClear, Planted::FlagFirst, Planted::OwnFlagInBlock),
                         [](const auto& info) { return std::string(kPlantedTestNames[static_cast<int>(info.param)]); });

// Two faults in one exchange: a block arrives corrupted, the device answers "CRC mismatch" (0x04), and
// one bit of that answer flips on the way back, which would read as OK (0x00). Every write transfer of
// the download against every response of it: the tool must never take such an answer for success.
TEST(Campaign, CorruptedBlockWhoseErrorAnswerReadsAsOkNeverPasses)
{
    const Census& census = Shared().CleanCensus();
    constexpr uint32_t kStatusBit2 = 4 * 8 + 2;
    std::vector<RunPlan> plans;
    for (uint32_t w = 1; w <= census.nWrites; ++w)
        for (uint32_t r = 1; r <= census.nResponses + 2; ++r) {
            FaultPlan faults;
            faults.corruptWrites = {w};
            faults.flipResponses[r] = kStatusBit2;
            plans.push_back(OneSession(w * 1000 + r, faults));
        }
    EXPECT_EQ(RunAll(plans).nViolations, 0u);
}

// One bit of a command flipped on its way to the device, for every command after the device's
// identification: bits that would change what it asks (the version, the sequence number, the command
// code, the offset by a block, the length, the program-only flag), the check, and the inline bytes.
// Every run first makes enough exchanges that the sequence numbers wrap during the download.
TEST(Campaign, FlippedCommandBitsNeverPassAcrossTheSequenceWrap)
{
    const uint32_t kBits[] = {1 * 8 + 1, 2 * 8, 3 * 8 + 1, 5 * 8 + 4, 9 * 8 + 4, 16 * 8 + 1, 18 * 8 + 3, 30 * 8};
    const Census& census = Shared().CleanCensus();
    std::vector<RunPlan> plans;
    for (uint32_t n = static_cast<uint32_t>(census.nArrivalResponses) + 1; n <= census.nResponses + 2; ++n)
        for (uint32_t bit : kBits) {
            FaultPlan faults;
            faults.flipCommands[n] = bit;
            plans.push_back(OneSession(n * 1000 + bit, faults, 240));
        }
    const Totals totals = RunAll(plans);
    // A flip before the programming fails the entry into DFU mode, which ends the download early.
    EXPECT_GT(totals.nWrapped, totals.nRuns * 3 / 4) << "downloads that went on crossed the wrap";
}
