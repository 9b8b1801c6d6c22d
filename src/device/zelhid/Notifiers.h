// Hot-plug sources: hidraw interfaces through a libudev monitor, and the thread handling every source
// shares. Each source runs a thread of its own that waits in poll() on its event source and on a
// wake-up descriptor, so that Unregister returns promptly. Unregister called by the sink itself only
// stops delivery; the thread ends when the sink returns.
#pragma once

#include "platform/DeviceNotifier.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

// An interface notice (arrival or removal) for the path.
DeviceNotice MakeInterfaceNotice(unsigned nEvent, const std::string& strPath);

// Stops a source's thread through its wake-up descriptor. False when called by the sink on that very
// thread: delivery stops there and the thread ends on its own when the sink returns; its descriptors
// stay until later.
bool StopNotifierThread(std::thread& thread, std::atomic<std::thread::id>& runner, std::atomic<bool>& bStop,
                        int wakeFd);

class CUdevNotifier final : public IDeviceNotifier {
public:
    ~CUdevNotifier() override;
    bool Register(std::function<void(const DeviceNotice&)> sink) override;
    void Unregister() override;

private:
    void Run();

    std::function<void(const DeviceNotice&)> m_sink;
    std::atomic<bool> m_bStop{false};
    std::atomic<std::thread::id> m_runner{};  // the notifier's thread, once it runs
    struct udev* m_pUdev = nullptr;
    struct udev_monitor* m_pMonitor = nullptr;
    int m_wakeFd = -1;
    std::thread m_thread;
};
