#include "emulator/hid/EmulatorBackend.h"

#include "device/zelhid/HidBackend.h"
#include "device/zelhid/OnePathTransport.h"
#include "emulator/hid/EmulatorTransport.h"
#include "emulator/hid/SimFolderNotifier.h"

#include <cstdlib>

std::unique_ptr<IZelHidBackend> CreateEmulatorBackend(const std::string& simDir, const std::string& strOnlyPath)
{
    return std::make_unique<CHidBackend>(LimitTransport(std::make_unique<CEmulatorTransport>(simDir), strOnlyPath));
}

std::unique_ptr<IDeviceNotifier> CreateSimFolderNotifier(const std::string& simDir)
{
    return std::make_unique<CSimFolderNotifier>(simDir);
}

std::string SimDirFromEnvironment()
{
    const char* dir = std::getenv("QUILLON_SIM_DIR");
    return dir ? std::string(dir) : std::string();
}
