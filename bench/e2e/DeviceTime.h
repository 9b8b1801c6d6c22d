// The same 128 KB download run in this process through the main window on the headless host, to read
// how long it takes on the emulated device's own clock: the figure that the machine's load cannot move.
#pragma once

#include <string>

namespace e2e {

// Virtual milliseconds from Start to the worker's end on the device in strSimDir (an instant device
// file from WriteBenchDevice), the 500 ms pause left out; negative when the download did not succeed.
double DownloadDeviceTimeMs(const std::string& strSimDir, const std::string& strImage);

}  // namespace e2e
