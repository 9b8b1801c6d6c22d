// Sources of HID interface arrival and removal notices.
#pragma once

#include <functional>
#include <string>

constexpr unsigned DBT_DEVICEARRIVAL = 0x8000;
constexpr unsigned DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr unsigned DBT_DEVTYP_DEVICEINTERFACE = 5;

// What one notice carries: the event and, for interface notices, the device type and the path.
struct DeviceNotice {
    unsigned nEvent = 0;
    bool bHasRecord = false;
    unsigned nDeviceType = 0;
    std::u16string strPath;
};

class IDeviceNotifier {
public:
    virtual ~IDeviceNotifier() = default;
    // Starts delivering notices to the sink, on a thread of the notifier's own. False when the
    // source cannot be watched; nothing is delivered then.
    virtual bool Register(std::function<void(const DeviceNotice&)> sink) = 0;
    // Stops delivery; no call of the sink is running or follows when this returns.
    virtual void Unregister() = 0;
};
