// Several devices at once: each device runs in a quillon-cli process of its own, the very program that
// runs one device (`download IMAGE --device PATH`, the window's flow on the headless host), and this
// process relays what they say, each line under the device's name, and judges each outcome.
#pragma once

#include "cli/CliOptions.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class CCliOutput;

// The outcome of one device's operation.
enum class DeviceOutcome {
    Succeeded,
    Failed,       // the device was touched (its writing may have begun) and the operation failed
    Refused,      // the flow refused it before touching it (the match policy, no block to write)
    Busy,         // another program holds it; not touched
    Gone,         // not found again when its turn came
    Interrupted,  // not begun: a signal came first
};
const char* OutcomeName(DeviceOutcome outcome);

struct ParallelDevice {
    int nIndex = 0;  // in the list, as `list` numbers it
    std::string strPath;
    std::string strSerial;
    std::string strFile;  // upload: the file this device is read into

    // Filled by the run.
    DeviceOutcome outcome = DeviceOutcome::Interrupted;
    int nHolder = 0;  // Busy: the holder's process id (-1: unknown)
    int nBlocks = 0;
    int64_t nDurationMs = 0;
    std::string strReason;  // why it did not succeed, when known
};

// "[No.N SERIAL]", or "[No.N]" for a device without a serial number.
std::string DeviceLabel(const ParallelDevice& device);
// The device's line of the --log file: serial, path, duration, blocks written and outcome.
std::string DeviceResultLogLine(const ParallelDevice& device);

// Runs the operation on every device, at most options.nJobs at once (0: all), with the match policy
// and verification given explicitly, and fills each device's outcome. After a signal the running
// devices finish and no further one begins.
void RunParallel(const CliOptions& options, CCliOutput& output, bool bUpload, uint32_t nMatchPolicy, bool bVerify,
                 std::vector<ParallelDevice>& devices);
