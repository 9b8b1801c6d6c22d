// What an emulated device is: identity, capabilities, flash chip, faults and timing, as read from its
// JSON device file (docs/emulator.md).
#pragma once

#include "emulator/FlashChips.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>

// Where a power cut lands on a flash operation: as the chip is about to take it (the range is left as
// it was), halfway through it (the range is torn), or the moment it completes (nothing after it runs).
enum class FlashCutPhase { Before, During, After };

// The steps at which a device can be pulled out (device file key "unplugAtStep").
enum class UnplugStep { None, EnterDfu, Patch, LeaveDfu, FlashId, Erase, Program, Write, Read, CrcQuery };
constexpr int kUnplugSteps = 10;

struct FaultPlan {
    // Ordinals, counted from 1 since the device was plugged in: the Nth flash write / read transfer
    // fails with a device error, arrives corrupted, or gets no answer.
    std::set<uint32_t> failWrites, corruptWrites, timeoutWrites;
    std::set<uint32_t> failReads, corruptReads, timeoutReads;
    uint64_t nUnplugAfterReports = 0;  // 0: never; reports of both directions count
    UnplugStep unplugStep = UnplugStep::None;
    uint32_t nUnplugStepCount = 1;  // at the Nth occurrence of that step
    int nRefuseDfu = 0;             // requests into DFU mode refused: the first N, or -1: all
    int nRefuseNormal = 0;          // requests back to normal mode refused
    int nFlashIdFails = 0;          // flash identifications that fail
    // Power cut at the Nth flash operation (erases and page programs counted together), 0: never.
    uint32_t nUnplugAtFlashOp = 0;
    FlashCutPhase unplugFlashOpPhase = FlashCutPhase::During;
    // Ordinals of the device's responses (command reports it sends, data reports not counted): the Nth
    // is never sent, sent twice, preceded by a second copy of the response before it (a stale answer),
    // or sent with one bit flipped (ordinal -> bit index 0..511 of the 64-byte report).
    std::set<uint32_t> dropResponses, duplicateResponses, staleResponses;
    std::map<uint32_t, uint32_t> flipResponses;
    // Ordinals of the host's command reports (data reports not counted): the Nth arrives with one bit
    // flipped (ordinal -> bit index 0..511).
    std::map<uint32_t, uint32_t> flipCommands;
};

struct TimingModel {
    uint32_t nReportIntervalUs = 1000;  // one 64-byte report per interval and direction
    uint32_t nModeSwitchUs = 20000;     // reboot into DFU or normal mode
    uint32_t nPatchCheckUs = 5000;      // checking a loaded DFU patch
    uint32_t nSpiBytesPerMs = 5000;     // array reads by the device's SPI master
    bool bRealTime = false;             // pace the virtual clock in real time
    double dSpeed = 1.0;                // virtual milliseconds per real millisecond when paced
    int64_t nPageProgramUs = -1;        // overrides of the chip's typical times (-1: the chip's)
    int64_t nSectorEraseUs = -1;
};

enum class InitialFlash {
    Firmware,     // a firmware image with its flag word set: boots normally
    Interrupted,  // the same with the flag word still 0xFF 0xFF: boots into recovery
    Erased,       // all 0xFF: boots into recovery
};

struct DeviceDescription {
    std::string strProduct;
    bool bHasProduct = true;
    std::string strSerialNumber;
    uint16_t nVendorId = 0;
    uint16_t nProductId = 0;
    uint32_t nVersion = 0;
    uint32_t nSubVersion = 0;
    uint16_t nChipsetType = 0;
    uint32_t nUsage = 0xff000001;  // usage page << 16 | usage of the DFU interface
    uint16_t nDefaultSerialAddr = 0;
    bool bHidDfu = true;
    bool bBootLoader = true;
    bool bFlashCrc = false;        // answers FLASH_CRC (the CRC32 of flash pieces)
    uint8_t nControllerIndex = 0;  // which DFU patch it takes
    std::string strControllerName;
    uint32_t nFlagOffset = 0x3000;
    const FlashChipModel* pChip = nullptr;
    std::string strFlashFile;  // relative to the device file's folder; "" in memory only
    InitialFlash initialFlash = InitialFlash::Firmware;
    std::string strInitialImage;  // raw file loaded at offset 0 when the flash is first made
    FaultPlan faults;
    TimingModel timing;
};

// Parses a device file. strDefaultStem names the flash file when the file names none (<stem>.flash).
bool ParseDeviceFile(const std::string& strJson, const std::string& strDefaultStem, DeviceDescription& desc,
                     std::string& strError);
