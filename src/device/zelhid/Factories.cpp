#include "device/zelhid/ZelHidBackend.h"

#include "device/zelhid/EmulatorTransport.h"
#include "device/zelhid/HidBackend.h"
#include "device/zelhid/HidapiTransport.h"
#include "device/zelhid/Notifiers.h"

#include <cstdlib>

std::unique_ptr<IZelHidBackend> CreateHidapiBackend()
{
    return std::make_unique<CHidBackend>(std::make_unique<CHidapiTransport>(CreateSystemHidapi()));
}

std::unique_ptr<IZelHidBackend> CreateEmulatorBackend(const std::string& simDir)
{
    return std::make_unique<CHidBackend>(std::make_unique<CEmulatorTransport>(simDir));
}

std::unique_ptr<IDeviceNotifier> CreateUdevNotifier()
{
    return std::make_unique<CUdevNotifier>();
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
