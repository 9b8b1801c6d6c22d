// What the end-to-end measurements share: a scratch folder with an emulated device whose download
// writes a whole 128 KB image, and running a program as a child process with its resource use.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace e2e {

// A device with the ZA1200's identity but a sub-version that Quillon.ini has no per-chip settings for:
// every block of the image is selected (128 KB with "Update All"), the flag word is at 0x3000. bFlashCrc:
// the device reports its blocks' CRC32 (FLASH_CRC), so that blocks it already holds are skipped.
void WriteBenchDevice(const std::string& strSimDir, bool bRealTime, bool bFlashCrc = false);

struct ChildRun {
    int nExit = -1;
    double dWallMs = 0;
    double dCpuMs = 0;  // user and system time
    long nMaxRssKb = 0;
    std::string strOut;  // standard output (and error, when merged)
};

// Runs the program with the arguments, the environment given added to this one's, output captured.
// nStopAfterLine: the child is killed as soon as it printed a line starting with this text ("" never).
ChildRun RunChild(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env, const std::string& strStopAfterLine = {});

double Median(std::vector<double> values);

}  // namespace e2e
