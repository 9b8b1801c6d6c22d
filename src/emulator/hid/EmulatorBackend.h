// The emulator behind the device library's contract: its devices served through the HID backend,
// and the hot-plug source of its folder.
#pragma once

#include "device/ZelHidApi.h"
#include "platform/DeviceNotifier.h"

#include <memory>
#include <string>

// The emulator's devices described by the JSON files in simDir, served in process. Paths are
// the device files' paths. strOnlyPath: that device alone is served (and plugged); empty: all.
std::unique_ptr<IZelHidBackend> CreateEmulatorBackend(const std::string& simDir, const std::string& strOnlyPath = {});

// Device files added to or removed from simDir; paths match CreateEmulatorBackend's.
std::unique_ptr<IDeviceNotifier> CreateSimFolderNotifier(const std::string& simDir);

// The emulator folder named by the environment variable QUILLON_SIM_DIR, or empty when unset or empty.
std::string SimDirFromEnvironment();
