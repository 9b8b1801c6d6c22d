// Factories of the device library: the backend over real devices behind the ZelHidApi contract and
// the hot-plug source that goes with it.
#pragma once

#include "device/ZelHidApi.h"
#include "platform/DeviceNotifier.h"

#include <memory>
#include <string>

// Real devices through hidapi (hidraw). Paths are hidapi's interface paths (/dev/hidrawN). strOnlyPath:
// that interface alone is served (one device of a parallel run); empty: all.
std::unique_ptr<IZelHidBackend> CreateHidapiBackend(const std::string& strOnlyPath = {});

// Arrival and removal of hidraw interfaces (libudev monitor); paths match CreateHidapiBackend's.
std::unique_ptr<IDeviceNotifier> CreateUdevNotifier();
