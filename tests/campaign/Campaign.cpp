#include "Campaign.h"

#include "CampaignRig.h"
#include "app/QuillonDlg.h"
#include "app/Resource.h"
#include "device/zelhid/HidBackend.h"
#include "device/zelhid/Protocol.h"
#include "platform/MemoryPreferenceStore.h"
#include "platform/MemoryProfileReader.h"
#include "platform/console/ConsoleHost.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <type_traits>

namespace campaign {

namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kImageBlocks = 9;
constexpr uint32_t kImageSize = kImageBlocks * kBlock;
constexpr uint32_t kFlagOffset = 0x3000;
constexpr uint32_t kEarlierSize = 64 * 1024;
// Quillon.ini below: image blocks 0-8, boot loader block 0, serial number block 4; with "Update All"
// the download writes blocks 0-3 and 5-8. The device without a boot loader enters DFU mode through
// ZA1200.bin beside the program.
constexpr uint32_t kSelected = 0x1EF;
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
const char kNormalMode[] = "Device is switched to normal mode successfully!\r\n";

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

std::string Ordinals(const std::set<uint32_t>& set)
{
    std::string s;
    for (uint32_t n : set)
        s += (s.empty() ? "" : ",") + std::to_string(n);
    return s;
}

const char* PhaseName(FlashCutPhase phase)
{
    switch (phase) {
    case FlashCutPhase::Before:
        return "before";
    case FlashCutPhase::During:
        return "during";
    case FlashCutPhase::After:
        return "after";
    }
    return "?";
}

std::string DescribeFaults(const FaultPlan& f)
{
    std::ostringstream out;
    if (f.nUnplugAfterReports)
        out << " cut after report " << f.nUnplugAfterReports << ";";
    if (f.nUnplugAtFlashOp)
        out << " cut " << PhaseName(f.unplugFlashOpPhase) << " flash op " << f.nUnplugAtFlashOp << ";";
    if (f.unplugStep == UnplugStep::CrcQuery)
        out << " cut during CRC query " << f.nUnplugStepCount << ";";
    const std::pair<const char*, const std::set<uint32_t>*> sets[] = {{"failed writes", &f.failWrites},
                                                                      {"timed-out writes", &f.timeoutWrites},
                                                                      {"corrupted writes", &f.corruptWrites},
                                                                      {"dropped responses", &f.dropResponses},
                                                                      {"duplicated responses", &f.duplicateResponses},
                                                                      {"stale responses", &f.staleResponses}};
    for (const auto& [name, set] : sets)
        if (!set->empty())
            out << " " << name << " " << Ordinals(*set) << ";";
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
    auto shift = [&](auto& ordinals) {
        std::remove_reference_t<decltype(ordinals)> moved;
        for (const auto& entry : ordinals) {
            if constexpr (std::is_same_v<std::decay_t<decltype(entry)>, uint32_t>)
                moved.insert(entry > census.nArrivalResponses ? entry + nProbes : entry);
            else
                moved.emplace(entry.first > census.nArrivalResponses ? entry.first + nProbes : entry.first,
                              entry.second);
        }
        ordinals = std::move(moved);
    };
    if (f.nUnplugAfterReports > census.nArrivalReports)
        f.nUnplugAfterReports += 2ull * nProbes;
    shift(f.dropResponses);
    shift(f.duplicateResponses);
    shift(f.staleResponses);
    shift(f.flipResponses);
    shift(f.flipCommands);
    return f;
}

bool SelectedMatch(const std::vector<uint8_t>& flash, const std::vector<uint8_t>& image)
{
    for (uint32_t b = 0; b < kImageBlocks; ++b)
        if ((kSelected >> b & 1) &&
            !std::equal(image.begin() + b * kBlock, image.begin() + (b + 1) * kBlock, flash.begin() + b * kBlock))
            return false;
    return true;
}

// Equal outside the selected blocks (bOutside) or inside them.
bool SameAs(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, bool bOutside)
{
    for (uint32_t block = 0; block * kBlock < a.size(); ++block) {
        const bool bSelected = block < kImageBlocks && (kSelected >> block & 1);
        if (bSelected == bOutside)
            continue;
        if (!std::equal(a.begin() + block * kBlock, a.begin() + (block + 1) * kBlock, b.begin() + block * kBlock))
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

}  // namespace

const char* StartStateName(StartState state)
{
    switch (state) {
    case StartState::EarlierImage:
        return "earlier image, flag AA AA";
    case StartState::FlagCleared:
        return "flag FF FF";
    case StartState::TornAaFf:
        return "torn flag AA FF";
    case StartState::TornA8Aa:
        return "torn flag A8 AA";
    case StartState::Garbage:
        return "garbage";
    }
    return "?";
}

const char* PlantedName(Planted planted)
{
    switch (planted) {
    case Planted::None:
        return "none";
    case Planted::SkipFlagClear:
        return "skip-flag-clear";
    case Planted::FlagFirst:
        return "flag-first";
    case Planted::OwnFlagInBlock:
        return "own-flag-in-block";
    }
    return "?";
}

bool ParsePlanted(const std::string& name, Planted& planted)
{
    for (Planted p : {Planted::None, Planted::SkipFlagClear, Planted::FlagFirst, Planted::OwnFlagInBlock})
        if (name == PlantedName(p)) {
            planted = p;
            return true;
        }
    return false;
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

void Totals::Add(const RunResult& result)
{
    ++nRuns;
    nDownloads += result.nDownloads;
    nSucceeded += result.nSucceeded;
    nCuts += result.nCuts;
    nFaults += result.nFaults;
    nViolations += result.violations.size();
    nSimulatedMs += result.nSimulatedMs;
    nPatchRuns += result.bPatchEntry ? 1 : 0;
    nWrapped += result.nWrapped;
    nCrcRuns += result.bFlashCrc ? 1 : 0;
    nCrcQueries += result.nCrcQueries;
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
    m_image = RandomBytes(rng, kImageSize);
    m_image[kFlagOffset] = m_image[kFlagOffset + 1] = 0xAA;
    // An erased page and a page of zeros: the device skips the one and programs the other.
    std::fill_n(m_image.begin() + 6 * kBlock + 512, 256, 0xFF);
    std::fill_n(m_image.begin() + 7 * kBlock, 256, 0x00);
    m_earlier = RandomBytes(rng, kEarlierSize);
    m_earlier[kFlagOffset] = m_earlier[kFlagOffset + 1] = 0xAA;

    m_strImagePath = strScratchDir + "/campaign-image.bin";
    std::ofstream(m_strImagePath, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(m_image.data()), static_cast<std::streamsize>(m_image.size()));

    std::ifstream in(std::string(QUILLON_SOURCE_DIR) + "/examples/sim/za1200.json");
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    if (!ParseDeviceFile(text.str(), "za1200", m_desc, error)) {
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
                RunPlan clean;
                clean.start = static_cast<StartState>(s);
                clean.bPatchEntry = entry == 1;
                clean.bFlashCrc = crc == 1;
                const RunResult result = Execute(clean, Planted::None, &m_census[entry][crc][s]);
                if (!result.violations.empty() || result.nSucceeded != 1) {
                    std::fprintf(stderr, "campaign: a clean download does not succeed: %s\n",
                                 result.violations.empty() ? "" : result.violations.front().c_str());
                    std::abort();
                }
            }
}

uint32_t CCampaign::SelectedBlocks() const
{
    return kSelected;
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
    const uint64_t nReports = census.nReports * 11 / 10;
    const uint64_t nFlashOps = census.nFlashOps * 11 / 10;
    const uint64_t nWrites = census.nWrites + 2;
    const uint64_t nResponses = census.nResponses + 4;
    for (uint64_t i = 0; i < nCuts; ++i) {
        SessionPlan session;
        FaultPlan& f = session.faults;
        if (Chance(rng, 0.6)) {
            f.nUnplugAfterReports = Draw(rng, 1, nReports);
        } else {
            f.nUnplugAtFlashOp = static_cast<uint32_t>(Draw(rng, 1, nFlashOps));
            f.unplugFlashOpPhase = static_cast<FlashCutPhase>(Draw(rng, 0, 2));
        }
        const uint64_t nOthers = Chance(rng, 0.5) ? Draw(rng, 1, 3) : 0;
        for (uint64_t k = 0; k < nOthers; ++k) {
            const uint32_t nWrite = static_cast<uint32_t>(Draw(rng, 1, nWrites));
            const uint32_t nResponse = static_cast<uint32_t>(Draw(rng, 1, nResponses));
            switch (Draw(rng, 0, 7)) {
            case 0:
                f.failWrites.insert(nWrite);
                break;
            case 1:
                f.timeoutWrites.insert(nWrite);
                break;
            case 2:
                f.corruptWrites.insert(nWrite);
                break;
            case 3:
                f.dropResponses.insert(nResponse);
                break;
            case 4:
                f.duplicateResponses.insert(nResponse);
                break;
            case 5:
                f.staleResponses.insert(nResponse);
                break;
            case 6:
                // Half of the flips land in the header, where a single bit changes what it says.
                f.flipResponses[nResponse] =
                    static_cast<uint32_t>(Chance(rng, 0.5) ? Draw(rng, 0, 159) : Draw(rng, 0, 511));
                break;
            default:
                // The host's commands likewise (their ordinals are those of the responses).
                f.flipCommands[nResponse] =
                    static_cast<uint32_t>(Chance(rng, 0.5) ? Draw(rng, 0, 159) : Draw(rng, 0, 511));
                break;
            }
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
    const Census& census = CleanCensus(start, bPatchEntry, bFlashCrc);
    auto add = [&](const FaultPlan& faults) {
        RunPlan plan;
        plan.nSeed = plans.size();
        plan.start = start;
        plan.bPatchEntry = bPatchEntry;
        plan.bFlashCrc = bFlashCrc;
        plan.sessions.push_back(SessionPlan{faults, false, 0});
        plans.push_back(plan);
    };
    // One past the last report: the cut that comes when the download is over.
    for (uint64_t n = 1; n <= census.nReports + 1; ++n) {
        FaultPlan faults;
        faults.nUnplugAfterReports = n;
        add(faults);
    }
    for (uint64_t n = 1; n <= census.nFlashOps; ++n)
        for (FlashCutPhase phase : {FlashCutPhase::Before, FlashCutPhase::During, FlashCutPhase::After}) {
            FaultPlan faults;
            faults.nUnplugAtFlashOp = static_cast<uint32_t>(n);
            faults.unplugFlashOpPhase = phase;
            add(faults);
        }
    if (bFlashCrc) {
        FaultPlan faults;
        faults.unplugStep = UnplugStep::CrcQuery;
        add(faults);
    }
    return plans;
}

RunResult CCampaign::Run(const RunPlan& plan, Planted planted)
{
    return Execute(plan, planted, nullptr);
}

RunResult CCampaign::Execute(const RunPlan& plan, Planted planted, Census* pCensus)
{
    RunResult result;
    result.bPatchEntry = plan.bPatchEntry;
    std::mt19937_64 rng(plan.nSeed ^ 0x9e3779b97f4a7c15ull);
    const std::u16string path16(kDevicePath);
    const std::string path(path16.begin(), path16.end());

    // The device, holding its starting contents, plugged in with the first session's faults.
    DeviceDescription desc = m_desc;
    desc.bBootLoader = !plan.bPatchEntry;
    desc.bFlashCrc = plan.bFlashCrc;
    auto device = std::make_shared<CEmulatedDevice>(desc, std::string());
    std::vector<uint8_t> start = plan.start == StartState::Garbage ? RandomBytes(rng, kEarlierSize) : m_earlier;
    for (uint32_t b = 1; plan.bFlashCrc && b < kImageBlocks; b += 2)
        std::copy_n(m_image.begin() + b * kBlock, kBlock, start.begin() + b * kBlock);
    if (plan.start == StartState::FlagCleared)
        start[kFlagOffset] = start[kFlagOffset + 1] = 0xFF;
    else if (plan.start == StartState::TornAaFf)
        start[kFlagOffset + 1] = 0xFF;
    else if (plan.start == StartState::TornA8Aa)
        start[kFlagOffset] = 0xA8;
    device->SetFlashContents(0, start);
    device->Unplug();
    const std::vector<uint8_t> startFlash = device->FlashContents();
    const bool bStartUntouchedCounts = FlagSet(startFlash);

    CCampaignNotifier notifier;
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
    auto deliverNext = [&](std::chrono::milliseconds timeout) {
        const bool bDelivered = pHost->DeliverNext(timeout);
        std::lock_guard<std::mutex> lock(drainMutex);
        if (bDelivered && pHost->QueuedMessages() == 0) {
            ++nDrained;
            drained.notify_all();
        }
    };

    std::atomic<uint32_t> nCuts{0};
    device->SetUnplugHandler([&] {
        ++nCuts;
        notify(DBT_DEVICEREMOVECOMPLETE);
    });

    CHidBackend library(std::make_unique<CSingleDeviceTransport>(path, device));
    CPlantingBackend plantedLibrary(library, planted, kFlagOffset);
    IZelHidBackend* pPrevious =
        SetZelHidBackend(planted == Planted::None ? static_cast<IZelHidBackend*>(&library) : &plantedLibrary);

    CMemoryProfileReader profile;
    const QString moduleDir = QString::fromStdString(m_strDataDir) + QLatin1Char('/');
    profile.SetFile(moduleDir + QStringLiteral("Quillon.ini"), QByteArray(kIni));
    CMemoryPreferenceStore prefs;
    prefs.WriteProfileInt(QStringLiteral("Options"), QStringLiteral("AutoVerify"), plan.bAutoVerify ? 1 : 0);
    CCampaignClock clock;

    CQuillonEnv env;
    env.strExecutablePath = moduleDir + QStringLiteral("Quillon");
    env.strAppTitle = QStringLiteral("Quillon");
    env.pProfile = &profile;
    env.pPrefs = &prefs;
    env.pClock = &clock;
    env.pNotifier = &notifier;

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

    auto violation = [&](size_t nSession, const std::string& text) {
        result.violations.push_back("session " + std::to_string(nSession + 1) + ": " + text);
    };

    for (size_t i = 0; i < nSessions; ++i) {
        const bool bFinal = i + 1 == nSessions;
        const bool bReplugInPause = !bFinal && plan.sessions[i].bReplugInPause;
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
                violation(i, "I2: the device is not listed for the fault-free download");
            continue;
        }
        host.SelectComboItem(IDC_DEVICE_COMBO, nIndex);
        if (host.GetCheck(IDC_UPDATE_ALL) == 0)
            host.Click(IDC_UPDATE_ALL);
        if (pCensus != nullptr) {
            const CEmulatedDevice::Stats arrived = device->GetStats();
            pCensus->nArrivalReports =
                arrived.nReportsOut + arrived.nReportsIn - statsAtPlug.nReportsOut - statsAtPlug.nReportsIn;
            pCensus->nArrivalResponses = arrived.nCommands - statsAtPlug.nCommands;
        }
        auto* pListed = static_cast<CZelUsbDevice*>(host.ComboGetItemData(IDC_DEVICE_COMBO, nIndex));
        for (uint32_t k = 0; !bFinal && k < plan.sessions[i].nProbesBefore; ++k)
            if (!pListed->IsDeviceAvailable()) {
                // Only a cut during the identification ends them: the session's faults come after.
                if (device->IsPlugged())
                    violation(i, "an availability probe before the download failed");
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
                return;
            }
            if (!bReplugInPause || bPulled || nMs % 5000 != 0)
                return;
            bPulled = true;
            if (device->IsPlugged()) {
                device->Unplug();
                notify(DBT_DEVICEREMOVECOMPLETE);
            }
            device->Replug(FaultPlan{});
            notify(DBT_DEVICEARRIVAL);
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
            deliverNext(std::chrono::milliseconds(50));
            if (std::chrono::steady_clock::now() - wallStart > kHangWallTime) {
                std::fprintf(stderr, "campaign: I4: the download of session %zu has not ended after %lld s\n%s\n",
                             i + 1, static_cast<long long>(kHangWallTime.count()), plan.Describe().c_str());
                std::abort();
            }
        }
        host.PumpMessages();
        clock.onSleep = nullptr;

        const std::vector<QString> traces = session.TraceTexts();
        bool bSucceeded = false, bNormal = false;
        for (size_t k = nTraceBefore; k < traces.size(); ++k) {
            bSucceeded = bSucceeded || traces[k] == QLatin1String(kSucceeded);
            bNormal = bNormal || traces[k] == QLatin1String(kNormalMode);
        }
        result.nSucceeded += bSucceeded ? 1 : 0;

        const uint64_t nPausesMs = clock.NowMs() - nClockBefore;
        const uint64_t nDeviceMs = static_cast<uint64_t>(device->NowUs() - nDeviceBefore) / 1000;
        result.nSimulatedMs += nPausesMs + nDeviceMs;
        if (plan.sessions.size() > i && plan.sessions[i].nProbesBefore > 0 &&
            device->GetStats().nCommands - statsAtPlug.nCommands > 255)
            ++result.nWrapped;
        if (nPausesMs > kPauseBoundMs || nDeviceMs > kDeviceBoundMs)
            violation(i, "I4: the download took " + std::to_string(nPausesMs) + " ms of pauses and " +
                             std::to_string(nDeviceMs) + " ms of device time");

        const std::vector<uint8_t> flash = device->FlashContents();
        const bool bMatch = SelectedMatch(flash, m_image);
        if (FlagSet(flash) && !bMatch && !(bStartUntouchedCounts && SameAs(flash, startFlash, false)))
            violation(i, "I1: flag word AA AA over blocks that are neither the image nor the earlier image");
        if (bSucceeded && !bMatch)
            violation(i, "I3: success reported, but the device differs from the image (flag " + FlagText(flash) + ")");
        if (!SameAs(flash, startFlash, true))
            violation(i, "bytes outside the selected blocks changed");
        if (bFinal) {
            if (!bSucceeded || !bNormal || !bMatch || session.MessageBoxes().size() != nBoxesBefore)
                violation(i, std::string("I2: the fault-free download ") + (bSucceeded ? "succeeded" : "failed") +
                                 ", normal mode " + (bNormal ? "reached" : "not reached") + ", image " +
                                 (bMatch ? "in place" : "not in place"));
            // Power off and on: the device must come up running the new image.
            const CEmulatedDevice::Stats stats = device->GetStats();
            device->Unplug();
            device->Replug(FaultPlan{});
            if (device->Mode() != zelproto::MODE_NORMAL)
                violation(i, "I2: after a power cycle the device does not boot (flag " + FlagText(flash) + ")");
            if (pCensus != nullptr) {
                const CEmulatedDevice::Stats& s0 = statsAtPlug;
                pCensus->nReports = stats.nReportsOut + stats.nReportsIn - s0.nReportsOut - s0.nReportsIn;
                pCensus->nFlashOps = stats.nErases + stats.nPrograms - s0.nErases - s0.nPrograms;
                pCensus->nWrites = stats.nWrites - s0.nWrites;
                pCensus->nResponses = stats.nCommands - s0.nCommands;
            }
        }
    }
    result.nCuts = nCuts.load();
    result.bFlashCrc = plan.bFlashCrc;
    result.nCrcQueries = device->GetStats().nCrcQueries;

    host.Destroy();
    pHost.reset();
    SetZelHidBackend(pPrevious);
    g_pFlashInfo = nullptr;
    g_pKnownIDs_NormalMode = nullptr;
    g_pKnownDfuPatchInfos = nullptr;
    return result;
}

}  // namespace campaign
