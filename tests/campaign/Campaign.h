// The power-cut and fault campaign: real downloads through the main window on the headless host, the
// device library and an emulated device on its virtual clock, with power cuts, failed, timed-out,
// duplicated, stale and bit-flipped responses, bit-flipped commands, unplug/replug, sequence numbers
// that wrap during a download, devices that enter DFU mode through their patch, and devices that report
// the CRC32 of their blocks, so that unchanged blocks are skipped (with cuts during that query); the
// invariants checked after each:
//
//   I1  the device's flag word reads 0xAA 0xAA only if every selected block matches the image byte
//       for byte (or the device still holds, untouched, the earlier image it started with);
//   I2  a following fault-free download completes and leaves the device booting the new image;
//   I3  the tool never reports success while the device differs from the image over the selected blocks;
//   I4  every download ends, within its simulated time bound.
// Besides: bytes outside the selected blocks never change.
//
// A run is reproduced from its seed alone: RandomPlan(seed) gives the same plan every time.
#pragma once

#include "emulator/DeviceFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace campaign {

// What the device holds before the run: an earlier image with its flag word set, the same with 0xFF
// 0xFF or a torn flag word, or garbage.
enum class StartState { EarlierImage, FlagCleared, TornAaFf, TornA8Aa, Garbage };
constexpr int kStartStates = 5;
const char* StartStateName(StartState state);

// A faulty programmer, planted in front of the device library by the harness alone: it rewrites the
// write sequence of a correct download as a broken one would send it.
enum class Planted { None, SkipFlagClear, FlagFirst, OwnFlagInBlock };
const char* PlantedName(Planted planted);
bool ParsePlanted(const std::string& name, Planted& planted);

// One plug-in of the device and one download started in it.
struct SessionPlan {
    FaultPlan faults;
    // During the first retry pause the cable is pulled (if the device is still there) and put back.
    bool bReplugInPause = false;
    // Availability probes made through the listed device before the download, so that its sequence
    // numbers (1 to 255) wrap during it. The faults' report and response counts are those of a clean
    // download: the run moves those after the device's identification past the probes.
    uint32_t nProbesBefore = 0;
};

struct RunPlan {
    uint64_t nSeed = 0;
    StartState start = StartState::EarlierImage;
    bool bPatchEntry = false;  // the device has no boot loader: it enters DFU mode through its patch
    bool bAutoVerify = false;
    // The device answers FLASH_CRC, and starts with the new image's odd blocks already in place, so that
    // the download skips blocks between the ones it writes.
    bool bFlashCrc = false;
    std::vector<SessionPlan> sessions;  // a fault-free session always follows them
    std::string Describe() const;
};

// Counts over one run or many, as the campaign program prints them.
struct Totals {
    uint64_t nRuns = 0, nDownloads = 0, nSucceeded = 0, nViolations = 0;
    uint64_t nCuts = 0;         // power cuts that happened (faults that pulled the device out)
    uint64_t nFaults = 0;       // other faults planned
    uint64_t nSimulatedMs = 0;  // pauses and device time
    uint64_t nPatchRuns = 0, nCrcRuns = 0;
    uint64_t nWrapped = 0;     // downloads during which the device's commands since its plug-in passed 255
    uint64_t nCrcQueries = 0;  // FLASH_CRC commands the device received
    void Add(const Totals& other);
    std::string Line() const;
};

struct RunResult : Totals {
    std::vector<std::string> violations;
};

// What a clean download from a fresh plug-in costs the device: the ranges that plans draw from.
struct Census {
    uint64_t nReports = 0, nFlashOps = 0, nWrites = 0, nResponses = 0;
    // Of these, what the window's identification of the arriving device takes.
    uint64_t nArrivalReports = 0, nArrivalResponses = 0;
};

// The run's fixed material: the image, the earlier image, the device, the configuration.
class CCampaign {
public:
    // strDataDir: the folder of the data files (zel.dat) that stands in for the executable's folder;
    // strScratchDir: a writable folder for the image files.
    CCampaign(std::string strDataDir, std::string strScratchDir);

    // A clean download from this starting state (the device skips the flag write that changes nothing),
    // into DFU mode through the boot loader or the patch.
    const Census& CleanCensus(StartState start = StartState::EarlierImage, bool bPatchEntry = false,
                              bool bFlashCrc = false) const
    {
        return m_census[bPatchEntry ? 1 : 0][bFlashCrc ? 1 : 0][static_cast<int>(start)];
    }
    // Quillon.ini of the campaign: image blocks 0-8, boot loader block 0, serial number block 4; with
    // "Update All" the download writes blocks 0-3 and 5-8. The device without a boot loader enters DFU
    // mode through ZA1200.bin beside the program.
    static constexpr uint32_t kSelectedBlocks = 0x1EF;

    RunPlan RandomPlan(uint64_t nSeed) const;
    // Single cuts of a download, in turn: after every report, and before, during and after every flash
    // operation (and, with the CRC capability, halfway through the device's reading for its query).
    std::vector<RunPlan> ExhaustiveSingleCuts(StartState start, bool bPatchEntry = false, bool bFlashCrc = false) const;
    RunResult Run(const RunPlan& plan, Planted planted = Planted::None) { return Execute(plan, planted, nullptr); }

private:
    RunResult Execute(const RunPlan& plan, Planted planted, Census* pCensus);

    std::string m_strDataDir;
    std::string m_strImagePath;
    std::vector<uint8_t> m_image;
    std::vector<uint8_t> m_earlier;
    DeviceDescription m_desc;
    Census m_census[2][2][kStartStates];
};

}  // namespace campaign
