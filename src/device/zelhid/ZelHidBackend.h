// Factories of the device library: the backends behind the ZelHidApi contract and the hot-plug
// sources that go with them. The program picks one pair at start-up.
#pragma once

#include "device/ZelHidApi.h"
#include "platform/DeviceNotifier.h"

#include <memory>
#include <string>

// Real devices through hidapi (hidraw). Paths are hidapi's interface paths (/dev/hidrawN).
std::unique_ptr<IZelHidBackend> CreateHidapiBackend();

// The emulator's devices described by the JSON files in simDir, served in process. Paths are
// the device files' paths.
std::unique_ptr<IZelHidBackend> CreateEmulatorBackend(const std::string& simDir);

// Arrival and removal of hidraw interfaces (libudev monitor); paths match CreateHidapiBackend's.
std::unique_ptr<IDeviceNotifier> CreateUdevNotifier();

// Device files added to or removed from simDir; paths match CreateEmulatorBackend's.
std::unique_ptr<IDeviceNotifier> CreateSimFolderNotifier(const std::string& simDir);

// The emulator folder named by the environment variable QUILLON_SIM_DIR, or empty when unset or empty.
std::string SimDirFromEnvironment();
