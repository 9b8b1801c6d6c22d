// quillon-uhid: serves the emulator's devices to the running kernel through /dev/uhid, so that they
// appear as HID devices with hidraw nodes (docs/emulator.md).
#include "emulator/SimFolder.h"
#include "emulator/uhid/UhidDevice.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t g_bStop = 0;

void OnSignal(int)
{
    g_bStop = 1;
}

int Usage()
{
    std::fprintf(stderr, "usage: quillon-uhid [--descriptor short|malformed] [--input-size N] [--wrong-seq] DIR\n");
    return 2;
}

bool ParseArgs(int argc, char** argv, UhidQuirks& quirks, std::string& strDir)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool bValue = i + 1 < argc;
        if (arg == "--descriptor" && bValue) {
            const std::string kind = argv[++i];
            if (kind != "short" && kind != "malformed")
                return false;
            quirks.descriptor = kind == "short" ? UhidQuirks::Descriptor::Short : UhidQuirks::Descriptor::Malformed;
        } else if (arg == "--input-size" && bValue) {
            char* end = nullptr;
            const unsigned long n = std::strtoul(argv[++i], &end, 10);
            if (*end != 0 || n == 0 || n > 4096)
                return false;
            quirks.nInputSize = static_cast<uint32_t>(n);
        } else if (arg == "--wrong-seq") {
            quirks.bWrongSeq = true;
        } else if (strDir.empty() && !arg.empty() && arg[0] != '-') {
            strDir = arg;
        } else {
            return false;
        }
    }
    return !strDir.empty();
}

// /dev/uhid must be there and ours to use before anything is served.
bool CheckUhid()
{
    const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    if (errno == ENOENT)
        std::fprintf(stderr, "quillon-uhid: /dev/uhid does not exist: load the kernel module uhid (modprobe uhid)\n");
    else if (errno == EACCES || errno == EPERM)
        std::fprintf(stderr, "quillon-uhid: no access to /dev/uhid: run as root or give your user read and write "
                             "access to it\n");
    else
        std::fprintf(stderr, "quillon-uhid: cannot open /dev/uhid: %s\n", std::strerror(errno));
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    UhidQuirks quirks;
    std::string strDir;
    if (!ParseArgs(argc, argv, quirks, strDir))
        return Usage();
    if (const std::string err = CheckSimFolder(strDir, true); !err.empty()) {
        std::fprintf(stderr, "quillon-uhid: %s\n", err.c_str());
        return kSimFolderExitStatus;
    }
    if (!CheckUhid())
        return 1;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    CSimFolder folder(strDir);
    std::map<std::string, std::unique_ptr<CUhidDevice>> served;
    std::map<std::string, std::string> reported;
    bool bReady = false;
    while (!g_bStop) {
        std::map<std::string, std::shared_ptr<CEmulatedDevice>> plugged;
        for (auto& [path, device] : folder.Scan())
            plugged[path] = device;
        for (auto it = served.begin(); it != served.end();) {
            const auto found = plugged.find(it->first);
            if (found == plugged.end() || found->second != it->second->Device() || !it->second->Alive()) {
                std::printf("unplugged %s: %s\n", it->first.c_str(), it->second->Summary().c_str());
                it = served.erase(it);
            } else {
                ++it;
            }
        }
        for (const auto& [path, device] : plugged) {
            if (served.count(path))
                continue;
            auto uhid = std::make_unique<CUhidDevice>(device, std::filesystem::path(path).filename().string(), quirks);
            std::string err;
            if (!uhid->Start(err)) {
                std::fprintf(stderr, "quillon-uhid: %s: %s\n", path.c_str(), err.c_str());
                continue;
            }
            served[path] = std::move(uhid);
            const DeviceDescription& desc = device->Description();
            std::printf("plugged %s as %04x:%04x\n", path.c_str(), desc.nVendorId, desc.nProductId);
        }
        const std::map<std::string, std::string> problems = folder.Problems();
        for (const auto& [path, why] : problems)
            if (reported[path] != why)
                std::fprintf(stderr, "quillon-uhid: %s: %s\n", path.c_str(), why.c_str());
        reported = problems;
        if (!bReady) {
            std::printf("serving %zu device(s) from %s\n", served.size(), folder.Dir().c_str());
            bReady = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (const auto& [path, uhid] : served)
        std::printf("stopped %s: %s\n", path.c_str(), uhid->Summary().c_str());
    served.clear();
    return 0;
}
