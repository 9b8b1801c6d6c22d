#include "Campaign.h"

#include "CampaignRig.h"
#include "app/QuillonDlg.h"
#include "app/Resource.h"
#include "device/zelhid/HidBackend.h"
#include "device/zelhid/Protocol.h"
#include "platform/MemoryPreferenceStore.h"
#include "platform/MemoryProfileReader.h"
#include "platform/console/ConsoleHost.h"
#include "support/CliRunner.h"
#include "support/WindowFixture.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <sstream>

namespace campaign {

namespace {

constexpr uint32_t kBlock = 4096, kImageBlocks = 9, kFlagOffset = 0x3000, kEarlierSize = 64 * 1024;
constexpr uint32_t kSelected = CCampaign::kSelectedBlocks;
const char16_t kDevicePath[] = u"/campaign/za1200.json";

const char kIni[] = "[KnownIDs]\r\nNum=1\r\nID0=0x2fe3, 0x1200, 0xff000001\r\n"
                    "[ChipsetInfo]\r\nControllerNum=1\r\nControllerName0=ZA1200\r\nHDCodecNum=2\r\n"
                    "HDCodecName0=none\r\nHDCodecName1=ZH880\r\n"
                    "[ImageMask]\r\nCHIP_0001_SUBV_12000100=0x000001ff\r\n"
                    "[BootLoaderMask]\r\nCHIP_0001_SUBV_12000100=0x00000001\r\n"
                    "[SerialNumberAddr]\r\nCHIP_0001_SUBV_12000100=0x4000\r\n"
                    "[FlagOffset]\r\nCHIP_0001_SUBV_12000100=0x3000\r\n"
                    "[DfuPatchInfos]\r\nNum=1\r\nInfo0=0x2fe3, 0x1200, 0x0100, 0x12000100, 0x00, 0x01\r\n";

// Bounds of one download in simulated time: the retry pauses and the finishing pause, and for the
// device every exchange of ten attempts at most taking its full timeout (nine transfers and the
// flag's two, a re-detection and an availability probe each), plus entry and exit of DFU mode.
constexpr uint64_t kPauseBoundMs = 225000 + 500;  // the retry schedule and the finishing pause
// With the CRC capability, an attempt makes at most one query more (its 2,000 ms read timeout).
constexpr uint64_t kDeviceBoundMs = 10 * (11 * 5200 + 2 * 1000 + 500 + 2000) + 4 * 5000;
constexpr uint32_t kFinishingPauseMs = 500;
constexpr auto kHangWallTime = std::chrono::seconds(120);

const char kSucceeded[] = "Firmware upgrade succeeded....\r\n";
const char* const kStartNames[] = {"earlier image, flag AA AA", "flag FF FF", "torn flag AA FF", "torn flag A8 AA",
                                   "garbage"};
const char* const kPlantedNames[] = {"none", "skip-flag-clear", "flag-first", "own-flag-in-block"};
const char* const kPhaseNames[] = {"before", "during", "after"};

std::vector<uint8_t> RandomBytes(std::mt19937_64& rng, size_t n)
{
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(rng());
    return bytes;
}

uint64_t Draw(std::mt19937_64& rng, uint64_t nLow, uint64_t nHigh)
{
    return std::uniform_int_distribution<uint64_t>(nLow, nHigh)(rng);
}

bool Chance(std::mt19937_64& rng, double p)
{
    return std::bernoulli_distribution(p)(rng);
}

std::string DescribeFaults(const FaultPlan& f)
{
    std::ostringstream out;
    if (f.nUnplugAfterReports)
        out << " cut after report " << f.nUnplugAfterReports << ";";
    if (f.nUnplugAtFlashOp)
        out << " cut " << kPhaseNames[static_cast<int>(f.unplugFlashOpPhase)] << " flash op " << f.nUnplugAtFlashOp
            << ";";
    if (f.unplugStep == UnplugStep::CrcQuery)
        out << " cut during CRC query " << f.nUnplugStepCount << ";";
    const std::pair<const char*, const std::set<uint32_t>*> sets[] = {{"failed writes", &f.failWrites},
                                                                      {"timed-out writes", &f.timeoutWrites},
                                                                      {"corrupted writes", &f.corruptWrites},
                                                                      {"dropped responses", &f.dropResponses},
                                                                      {"duplicated responses", &f.duplicateResponses},
                                                                      {"stale responses", &f.staleResponses}};
    for (const auto& [name, set] : sets) {
        for (auto it = set->begin(); it != set->end(); ++it)
            out << (it == set->begin() ? std::string(" ") + name + " " : ",") << *it;
        out << (set->empty() ? "" : ";");
    }
    for (const auto& [n, bit] : f.flipResponses)
        out << " response " << n << " bit " << bit << " flipped;";
    for (const auto& [n, bit] : f.flipCommands)
        out << " command " << n << " bit " << bit << " flipped;";
    return out.str();
}

uint32_t FaultCount(const FaultPlan& f)
{
    return static_cast<uint32_t>(f.failWrites.size() + f.timeoutWrites.size() + f.corruptWrites.size() +
                                 f.dropResponses.size() + f.duplicateResponses.size() + f.staleResponses.size() +
                                 f.flipResponses.size() + f.flipCommands.size());
}

// The plan of a clean download's counts with nProbes availability probes (a command and its response
// each) made between the device's identification and the download: what comes after the
// identification moves past the probes.
FaultPlan AfterProbes(FaultPlan f, uint32_t nProbes, const Census& census)
{
    auto moved = [&](uint32_t n) { return n > census.nArrivalResponses ? n + nProbes : n; };
    for (std::set<uint32_t>* set : {&f.dropResponses, &f.duplicateResponses, &f.staleResponses}) {
        std::set<uint32_t> shifted;
        for (uint32_t n : *set)
            shifted.insert(moved(n));
        *set = shifted;
    }
    for (std::map<uint32_t, uint32_t>* flips : {&f.flipResponses, &f.flipCommands}) {
        std::map<uint32_t, uint32_t> shifted;
        for (const auto& [n, bit] : *flips)
            shifted[moved(n)] = bit;
        *flips = shifted;
    }
    if (f.nUnplugAfterReports > census.nArrivalReports)
        f.nUnplugAfterReports += 2ull * nProbes;
    return f;
}

// Equal outside the selected blocks (bOutside) or inside them, over the blocks of a.
bool SameAs(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, bool bOutside)
{
    for (uint32_t block = 0; block * kBlock < a.size(); ++block) {
        const bool bSelected = block < kImageBlocks && (kSelected >> block & 1);
        if (bSelected != bOutside &&
            !std::equal(a.begin() + block * kBlock, a.begin() + (block + 1) * kBlock, b.begin() + block * kBlock))
            return false;
    }
    return true;
}

bool FlagSet(const std::vector<uint8_t>& flash)
{
    return flash[kFlagOffset] == 0xAA && flash[kFlagOffset + 1] == 0xAA;
}

std::string FlagText(const std::vector<uint8_t>& flash)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X", flash[kFlagOffset], flash[kFlagOffset + 1]);
    return text;
}

uint64_t Reports(const CEmulatedDevice::Stats& s)
{
    return s.nReportsOut + s.nReportsIn;
}

}  // namespace

const char* StartStateName(StartState state)
{
    return kStartNames[static_cast<int>(state)];
}

const char* PlantedName(Planted planted)
{
    return kPlantedNames[static_cast<int>(planted)];
}

bool ParsePlanted(const std::string& name, Planted& planted)
{
    const auto* it = std::find(std::begin(kPlantedNames), std::end(kPlantedNames), name);
    if (it == std::end(kPlantedNames))
        return false;
    planted = static_cast<Planted>(it - std::begin(kPlantedNames));
    return true;
}

std::string RunPlan::Describe() const
{
    std::ostringstream out;
    out << "seed " << nSeed << ", start: " << StartStateName(start) << ", DFU mode through the "
        << (bPatchEntry ? "patch" : "boot loader") << ", verify " << (bAutoVerify ? "on" : "off");
    if (bFlashCrc)
        out << ", CRC capability (odd blocks already new)";
    for (size_t i = 0; i < sessions.size(); ++i) {
        out << "\n  session " << i + 1 << ":" << DescribeFaults(sessions[i].faults);
        if (sessions[i].bReplugInPause)
            out << " unplug and replug in the first retry pause;";
        if (sessions[i].nProbesBefore)
            out << " " << sessions[i].nProbesBefore << " availability probes before the download;";
    }
    out << "\n  then a fault-free download";
    return out.str();
}

void Totals::Add(const Totals& other)
{
    for (uint64_t Totals::*count : {&Totals::nRuns, &Totals::nDownloads, &Totals::nSucceeded, &Totals::nViolations,
                                    &Totals::nCuts, &Totals::nFaults, &Totals::nSimulatedMs, &Totals::nPatchRuns,
                                    &Totals::nCrcRuns, &Totals::nWrapped, &Totals::nCrcQueries})
        this->*count += other.*count;
}

std::string Totals::Line() const
{
    std::ostringstream out;
    out << "runs " << nRuns << ", downloads " << nDownloads << " (" << nSucceeded << " succeeded), power cuts " << nCuts
        << ", other faults " << nFaults << ", runs through the patch " << nPatchRuns
        << ", downloads across a sequence wrap " << nWrapped << ", runs with the CRC capability " << nCrcRuns << " ("
        << nCrcQueries << " queries), simulated time " << nSimulatedMs / 1000 << " s, violations " << nViolations;
    return out.str();
}

CCampaign::CCampaign(std::string strDataDir, std::string strScratchDir) : m_strDataDir(std::move(strDataDir))
{
    std::mt19937_64 rng(0x5eed);
    m_image = RandomBytes(rng, kImageBlocks * kBlock);
    m_image[kFlagOffset] = m_image[kFlagOffset + 1] = 0xAA;
    // An erased page and a page of zeros: the device skips the one and programs the other.
    std::fill_n(m_image.begin() + 6 * kBlock + 512, 256, 0xFF);
    std::fill_n(m_image.begin() + 7 * kBlock, 256, 0x00);
    m_earlier = RandomBytes(rng, kEarlierSize);
    m_earlier[kFlagOffset] = m_earlier[kFlagOffset + 1] = 0xAA;
    m_strImagePath = strScratchDir + "/campaign-image.bin";
    WriteFileBytes(m_strImagePath, m_image);

    std::string error;
    if (!ParseDeviceFile(ReadFileText(QUILLON_SOURCE_DIR "/examples/sim/za1200.json"), "za1200", m_desc, error)) {
        std::fprintf(stderr, "campaign: examples/sim/za1200.json: %s\n", error.c_str());
        std::abort();
    }
    m_desc.strFlashFile.clear();
    m_desc.initialFlash = InitialFlash::Erased;
    m_desc.faults = FaultPlan{};
    m_desc.timing.bRealTime = false;

    for (int entry = 0; entry < 2; ++entry)
        for (int crc = 0; crc < 2; ++crc)
            for (int s = 0; s < kStartStates; ++s) {
                const RunPlan clean{0, static_cast<StartState>(s), entry == 1, false, crc == 1, {}};
                const RunResult result = Execute(clean, Planted::None, &m_census[entry][crc][s]);
                if (!result.violations.empty() || result.nSucceeded != 1) {
                    std::fprintf(stderr, "campaign: a clean download does not succeed: %s\n",
                                 result.violations.empty() ? "" : result.violations.front().c_str());
                    std::abort();
                }
            }
}

RunPlan CCampaign::RandomPlan(uint64_t nSeed) const
{
    std::mt19937_64 rng(nSeed);
    RunPlan plan;
    plan.nSeed = nSeed;
    plan.start = static_cast<StartState>(Draw(rng, 0, kStartStates - 1));
    plan.bAutoVerify = Chance(rng, 0.25);
    plan.bPatchEntry = Chance(rng, 0.25);
    // Drawn apart, so that the plans of runs without the capability stay what they were.
    std::mt19937_64 crcRng(nSeed ^ 0xc2c32ull);
    plan.bFlashCrc = Chance(crcRng, 0.5);
    const uint64_t nCuts = Draw(rng, 1, 5);
    const Census& census = CleanCensus(plan.start, plan.bPatchEntry, plan.bFlashCrc);
    // Ranges a little past the clean download's, so that some cuts fall after its end.
    const uint64_t nReports = census.nReports * 11 / 10, nFlashOps = census.nFlashOps * 11 / 10;
    for (uint64_t i = 0; i < nCuts; ++i) {
        SessionPlan session;
        FaultPlan& f = session.faults;
        if (Chance(rng, 0.6)) {
            f.nUnplugAfterReports = Draw(rng, 1, nReports);
        } else {
            f.nUnplugAtFlashOp = static_cast<uint32_t>(Draw(rng, 1, nFlashOps));
            f.unplugFlashOpPhase = static_cast<FlashCutPhase>(Draw(rng, 0, 2));
        }
        // The other faults: write transfers by their ordinal, responses (and, with the same ordinals, the
        // host's commands) by theirs; half of the flips land in the header, where a bit changes what it says.
        std::set<uint32_t>* const byWrite[] = {&f.failWrites, &f.timeoutWrites, &f.corruptWrites};
        std::set<uint32_t>* const byResponse[] = {&f.dropResponses, &f.duplicateResponses, &f.staleResponses};
        std::map<uint32_t, uint32_t>* const flips[] = {&f.flipResponses, &f.flipCommands};
        const uint64_t nOthers = Chance(rng, 0.5) ? Draw(rng, 1, 3) : 0;
        for (uint64_t k = 0; k < nOthers; ++k) {
            const auto nWrite = static_cast<uint32_t>(Draw(rng, 1, census.nWrites + 2));
            const auto nResponse = static_cast<uint32_t>(Draw(rng, 1, census.nResponses + 4));
            const uint64_t nKind = Draw(rng, 0, 7);
            if (nKind < 3)
                byWrite[nKind]->insert(nWrite);
            else if (nKind < 6)
                byResponse[nKind - 3]->insert(nResponse);
            else
                (*flips[nKind - 6])[nResponse] =
                    static_cast<uint32_t>(Chance(rng, 0.5) ? Draw(rng, 0, 159) : Draw(rng, 0, 511));
        }
        // A quarter of the capable device's cuts come while it reads its flash for the CRC query instead.
        if (plan.bFlashCrc && Chance(crcRng, 0.25)) {
            f.nUnplugAfterReports = 0;
            f.nUnplugAtFlashOp = 0;
            f.unplugStep = UnplugStep::CrcQuery;
            f.nUnplugStepCount = static_cast<uint32_t>(Draw(crcRng, 1, 2));
        }
        session.bReplugInPause = Chance(rng, 0.15);
        // One session in five: enough exchanges first that the sequence numbers wrap during the download.
        if (Chance(rng, 0.2))
            session.nProbesBefore = static_cast<uint32_t>(Draw(rng, 200, 254));
        plan.sessions.push_back(session);
    }
    return plan;
}

std::vector<RunPlan> CCampaign::ExhaustiveSingleCuts(StartState start, bool bPatchEntry, bool bFlashCrc) const
{
    std::vector<RunPlan> plans;
    auto add = [&](uint64_t nAfterReport, uint32_t nFlashOp, FlashCutPhase phase, UnplugStep step) {
        FaultPlan faults;
        faults.nUnplugAfterReports = nAfterReport;
        faults.nUnplugAtFlashOp = nFlashOp;
        faults.unplugFlashOpPhase = phase;
        faults.unplugStep = step;
        plans.push_back(RunPlan{plans.size(), start, bPatchEntry, false, bFlashCrc, {SessionPlan{faults, false, 0}}});
    };
    const Census& census = CleanCensus(start, bPatchEntry, bFlashCrc);
    // One past the last report: the cut that comes when the download is over.
    for (uint64_t n = 1; n <= census.nReports + 1; ++n)
        add(n, 0, FlashCutPhase::During, UnplugStep::None);
    for (uint32_t n = 1; n <= census.nFlashOps; ++n)
        for (FlashCutPhase phase : {FlashCutPhase::Before, FlashCutPhase::During, FlashCutPhase::After})
            add(0, n, phase, UnplugStep::None);
    if (bFlashCrc)
        add(0, 0, FlashCutPhase::During, UnplugStep::CrcQuery);
    return plans;
}

RunResult CCampaign::Execute(const RunPlan& plan, Planted planted, Census* pCensus)
{
    RunResult result;
    result.nRuns = 1;
    result.nPatchRuns = plan.bPatchEntry ? 1 : 0;
    result.nCrcRuns = plan.bFlashCrc ? 1 : 0;
    std::mt19937_64 rng(plan.nSeed ^ 0x9e3779b97f4a7c15ull);
    const std::u16string path16(kDevicePath);

    // The device, holding its starting contents, plugged in with the first session's faults.
    DeviceDescription desc = m_desc;
    desc.bBootLoader = !plan.bPatchEntry;
    desc.bFlashCrc = plan.bFlashCrc;
    auto device = std::make_shared<CEmulatedDevice>(desc, std::string());
    std::vector<uint8_t> start = plan.start == StartState::Garbage ? RandomBytes(rng, kEarlierSize) : m_earlier;
    for (uint32_t b = 1; plan.bFlashCrc && b < kImageBlocks; b += 2)
        std::copy_n(m_image.begin() + b * kBlock, kBlock, start.begin() + b * kBlock);
    if (plan.start == StartState::FlagCleared || plan.start == StartState::TornAaFf)
        start[kFlagOffset + 1] = 0xFF;
    if (plan.start == StartState::FlagCleared)
        start[kFlagOffset] = 0xFF;
    if (plan.start == StartState::TornA8Aa)
        start[kFlagOffset] = 0xA8;
    device->SetFlashContents(0, start);
    device->Unplug();
    const std::vector<uint8_t> startFlash = device->FlashContents();
    const bool bStartUntouchedCounts = FlagSet(startFlash);

    CTestNotifier notifier;
    CConsoleSession session;
    session.SetCaption(QStringLiteral("Quillon"));
    std::unique_ptr<CConsoleHost> pHost;

    // A notice sent from the worker's thread is handled by the window before the worker goes on, so
    // that a run does not depend on how the two threads happen to interleave: the window thread
    // counts each time it has emptied its queue, and the worker waits for the count to move.
    std::mutex drainMutex;
    std::condition_variable drained;
    uint64_t nDrained = 0;
    auto notify = [&](unsigned nEvent) {
        std::unique_lock<std::mutex> lock(drainMutex);
        const uint64_t nSeen = nDrained;
        notifier.Notify(nEvent, path16);
        if (pHost && !pHost->IsUiThread())
            drained.wait_for(lock, std::chrono::seconds(10), [&] { return nDrained > nSeen; });
    };
    std::atomic<uint64_t> nCuts{0};
    device->SetUnplugHandler([&] {
        ++nCuts;
        notify(DBT_DEVICEREMOVECOMPLETE);
    });

    CHidBackend library(std::make_unique<CSingleDeviceTransport>(std::string(path16.begin(), path16.end()), device));
    CPlantingBackend plantedLibrary(library, planted, kFlagOffset);
    IZelHidBackend* pPrevious =
        SetZelHidBackend(planted == Planted::None ? static_cast<IZelHidBackend*>(&library) : &plantedLibrary);

    CMemoryProfileReader profile;
    const QString moduleDir = QString::fromStdString(m_strDataDir) + QLatin1Char('/');
    profile.SetFile(moduleDir + QStringLiteral("Quillon.ini"), QByteArray(kIni));
    CMemoryPreferenceStore prefs;
    prefs.WriteProfileInt(QStringLiteral("Options"), QStringLiteral("AutoVerify"), plan.bAutoVerify ? 1 : 0);
    CCampaignClock clock;
    CQuillonEnv env{.strExecutablePath = moduleDir + QStringLiteral("Quillon"),
                    .strAppTitle = QStringLiteral("Quillon"),
                    .pProfile = &profile,
                    .pPrefs = &prefs,
                    .pClock = &clock,
                    .pNotifier = &notifier};

    const size_t nSessions = plan.sessions.size() + 1;
    auto faultsOf = [&](size_t i) {
        return i < plan.sessions.size() ? AfterProbes(plan.sessions[i].faults, plan.sessions[i].nProbesBefore,
                                                      CleanCensus(plan.start, plan.bPatchEntry))
                                        : FaultPlan{};
    };
    CEmulatedDevice::Stats statsAtPlug = device->GetStats();
    device->Replug(faultsOf(0));

    CQuillonDlg dlg(env);
    pHost = std::make_unique<CConsoleHost>(session, dlg);
    CConsoleHost& host = *pHost;
    host.Create();
    session.QueueOpenFileAnswer(QString::fromStdString(m_strImagePath));
    host.ChooseMenuItem(ID_FILE_OPEN_IMAGE);

    for (size_t i = 0; i < nSessions; ++i) {
        const bool bFinal = i + 1 == nSessions;
        const bool bReplugInPause = !bFinal && plan.sessions[i].bReplugInPause;
        const uint32_t nProbes = bFinal ? 0 : plan.sessions[i].nProbesBefore;
        auto violation = [&](const std::string& text) {
            result.violations.push_back("session " + std::to_string(i + 1) + ": " + text);
        };
        result.nFaults += FaultCount(faultsOf(i));
        if (i > 0) {
            statsAtPlug = device->GetStats();
            // The next session's faults go in with the next plug-in; a device still there is pulled out
            // while nothing runs.
            if (device->IsPlugged()) {
                device->Unplug();
                notifier.Notify(DBT_DEVICEREMOVECOMPLETE, path16);
                host.PumpMessages();
            }
            device->Replug(faultsOf(i));
            notifier.Notify(DBT_DEVICEARRIVAL, path16);
            host.PumpMessages();
        }

        int nIndex = -1;
        for (int k = 0; k < host.ComboGetCount(IDC_DEVICE_COMBO); ++k) {
            auto* pDevice = static_cast<CZelUsbDevice*>(host.ComboGetItemData(IDC_DEVICE_COMBO, k));
            if (pDevice != nullptr && std::u16string(pDevice->GetDevicePath()) == path16)
                nIndex = k;
        }
        if (nIndex < 0) {
            // The device did not answer when it arrived (a fault hit its identification): not listed.
            if (bFinal)
                violation("I2: the device is not listed for the fault-free download");
            continue;
        }
        host.SelectComboItem(IDC_DEVICE_COMBO, nIndex);
        if (host.GetCheck(IDC_UPDATE_ALL) == 0)
            host.Click(IDC_UPDATE_ALL);
        if (pCensus != nullptr) {
            const CEmulatedDevice::Stats arrived = device->GetStats();
            pCensus->nArrivalReports = Reports(arrived) - Reports(statsAtPlug);
            pCensus->nArrivalResponses = arrived.nCommands - statsAtPlug.nCommands;
        }
        auto* pListed = static_cast<CZelUsbDevice*>(host.ComboGetItemData(IDC_DEVICE_COMBO, nIndex));
        for (uint32_t k = 0; k < nProbes; ++k)
            if (!pListed->IsDeviceAvailable()) {
                // Only a cut during the identification ends them: the session's faults come after.
                if (device->IsPlugged())
                    violation("an availability probe before the download failed");
                break;
            }

        bool bPulled = false;
        std::atomic<bool> bFinishing{false};
        clock.onSleep = [&](uint32_t nMs) {
            if (nMs == kFinishingPauseMs) {
                // The worker's last pause: nothing of it reaches the window after this. Wake the window.
                bFinishing = true;
                Message wake;
                wake.kind = MessageKind::Paint;
                host.PostMessage(wake);
            } else if (bReplugInPause && !bPulled && nMs % 5000 == 0) {
                bPulled = true;
                if (device->IsPlugged()) {
                    device->Unplug();
                    notify(DBT_DEVICEREMOVECOMPLETE);
                }
                device->Replug(FaultPlan{});
                notify(DBT_DEVICEARRIVAL);
            }
        };
        const size_t nTraceBefore = session.TraceTexts().size();
        const size_t nBoxesBefore = session.MessageBoxes().size();
        const uint64_t nClockBefore = clock.NowMs();
        const int64_t nDeviceBefore = device->NowUs();

        ++result.nDownloads;
        host.Click(IDC_START);
        const auto wallStart = std::chrono::steady_clock::now();
        while (dlg.IsWorkerRunning()) {
            if (bFinishing.load()) {
                host.PumpMessages();
                dlg.m_hWorkerThread.join();
                break;
            }
            const bool bDelivered = host.DeliverNext(std::chrono::milliseconds(50));
            std::lock_guard<std::mutex> lock(drainMutex);
            if (bDelivered && host.QueuedMessages() == 0) {
                ++nDrained;
                drained.notify_all();
            }
            if (std::chrono::steady_clock::now() - wallStart > kHangWallTime) {
                std::fprintf(stderr, "campaign: I4: the download of session %zu has not ended after %lld s\n%s\n",
                             i + 1, static_cast<long long>(kHangWallTime.count()), plan.Describe().c_str());
                std::abort();
            }
        }
        host.PumpMessages();
        clock.onSleep = nullptr;

        const std::vector<QString> traces = session.TraceTexts();
        const bool bSucceeded = std::count(traces.begin() + nTraceBefore, traces.end(), QLatin1String(kSucceeded)) > 0;
        const bool bNormal = std::count(traces.begin() + nTraceBefore, traces.end(), QLatin1String(kInNormal)) > 0;
        result.nSucceeded += bSucceeded ? 1 : 0;

        const uint64_t nPausesMs = clock.NowMs() - nClockBefore;
        const uint64_t nDeviceMs = static_cast<uint64_t>(device->NowUs() - nDeviceBefore) / 1000;
        result.nSimulatedMs += nPausesMs + nDeviceMs;
        if (nProbes > 0 && device->GetStats().nCommands - statsAtPlug.nCommands > 255)
            ++result.nWrapped;
        if (nPausesMs > kPauseBoundMs || nDeviceMs > kDeviceBoundMs)
            violation("I4: the download took " + std::to_string(nPausesMs) + " ms of pauses and " +
                      std::to_string(nDeviceMs) + " ms of device time");

        const std::vector<uint8_t> flash = device->FlashContents();
        const bool bMatch = SameAs(m_image, flash, false);
        if (FlagSet(flash) && !bMatch && !(bStartUntouchedCounts && SameAs(flash, startFlash, false)))
            violation("I1: flag word AA AA over blocks that are neither the image nor the earlier image");
        if (bSucceeded && !bMatch)
            violation("I3: success reported, but the device differs from the image (flag " + FlagText(flash) + ")");
        if (!SameAs(flash, startFlash, true))
            violation("bytes outside the selected blocks changed");
        if (bFinal) {
            if (!bSucceeded || !bNormal || !bMatch || session.MessageBoxes().size() != nBoxesBefore)
                violation(std::string("I2: the fault-free download ") + (bSucceeded ? "succeeded" : "failed") +
                          ", normal mode " + (bNormal ? "reached" : "not reached") + ", image " +
                          (bMatch ? "in place" : "not in place"));
            // Power off and on: the device must come up running the new image.
            const CEmulatedDevice::Stats stats = device->GetStats();
            device->Unplug();
            device->Replug(FaultPlan{});
            if (device->Mode() != zelproto::MODE_NORMAL)
                violation("I2: after a power cycle the device does not boot (flag " + FlagText(flash) + ")");
            if (pCensus != nullptr) {
                const CEmulatedDevice::Stats& s0 = statsAtPlug;
                pCensus->nReports = Reports(stats) - Reports(s0);
                pCensus->nFlashOps = stats.nErases + stats.nPrograms - s0.nErases - s0.nPrograms;
                pCensus->nWrites = stats.nWrites - s0.nWrites;
                pCensus->nResponses = stats.nCommands - s0.nCommands;
            }
        }
    }
    result.nCuts = nCuts.load();
    result.nCrcQueries = device->GetStats().nCrcQueries;
    result.nViolations = result.violations.size();

    host.Destroy();
    pHost.reset();
    SetZelHidBackend(pPrevious);
    g_pFlashInfo = nullptr;
    g_pKnownIDs_NormalMode = nullptr;
    g_pKnownDfuPatchInfos = nullptr;
    return result;
}

}  // namespace campaign
