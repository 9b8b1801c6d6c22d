// The emulator's hot-plug source: notices of the device files that come and go in its folder.
#pragma once

#include "platform/DeviceNotifier.h"

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>

// Notices of device files ("*.json") that appear in, or leave, the folder. A file that is rewritten
// is a device pulled out and plugged in again: a removal, then an arrival. Uses inotify, or looks at
// the folder twice a second where inotify is not available.
class CSimFolderNotifier final : public IDeviceNotifier {
public:
    explicit CSimFolderNotifier(const std::string& strSimDir);
    ~CSimFolderNotifier() override;
    bool Register(std::function<void(const DeviceNotice&)> sink) override;
    void Unregister() override;

    static constexpr int kPollMs = 500;

private:
    void Run();
    // Compares the folder with what was last seen and tells the sink of every difference.
    void Rescan(bool bNotify);

    std::string m_strDir;
    std::function<void(const DeviceNotice&)> m_sink;
    std::atomic<bool> m_bStop{false};
    std::atomic<std::thread::id> m_runner{};     // the notifier's thread, once it runs
    std::map<std::string, std::string> m_known;  // file name -> identity (inode, size, mtime)
    int m_inotifyFd = -1;
    int m_wakeFd = -1;
    std::thread m_thread;
};
