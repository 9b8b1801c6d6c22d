// The emulator's device folder: every "*.json" file in it is one plugged device; its flash contents
// live in a file beside it. A file that appears plugs a device in, one that goes away (or changes)
// pulls it out. A device that a fault pulls out renames its file to "<name>.json.unplugged"; renaming
// it back plugs it in again.
#pragma once

#include "emulator/EmulatedDevice.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// The folder as an absolute, normalised path without a trailing separator ("" stays "").
std::string SimFolderPath(const std::string& strDir);
// The path of a device file, as device paths and notices name it.
std::string SimDevicePath(const std::string& strFolderPath, const std::string& strFileName);
bool IsSimDeviceFileName(const std::string& strFileName);

// Both programs refuse an emulator folder that does not exist or is not a folder, named by --sim or
// QUILLON_SIM_DIR alike (bFromOption: --sim), before anything runs: "" when strDir can serve, else the
// error to show ("the emulator folder DIR (--sim) does not exist"), ending the program with
// kSimFolderExitStatus.
std::string CheckSimFolder(const std::string& strDir, bool bFromOption);
constexpr int kSimFolderExitStatus = 3;

class CSimFolder {
public:
    explicit CSimFolder(const std::string& strDir);

    const std::string& Dir() const { return m_strDir; }
    // Brings the plugged devices up to date with the folder; returns them in file name order.
    std::vector<std::pair<std::string, std::shared_ptr<CEmulatedDevice>>> Scan();
    // The plugged device at this path (its file is looked at again), or null.
    std::shared_ptr<CEmulatedDevice> Find(const std::string& strPath);
    // Why device files could not be plugged in, by path.
    std::map<std::string, std::string> Problems();

private:
    struct Stamp {
        ino_t inode = 0;
        int64_t nMtimeNs = 0;
        int64_t nSize = -1;
        bool operator==(const Stamp&) const = default;
    };
    struct Session {
        Stamp stamp;
        std::shared_ptr<CEmulatedDevice> device;
    };

    bool StampOf(const std::string& strPath, Stamp& stamp) const;
    void Refresh(const std::string& strPath);
    std::shared_ptr<CEmulatedDevice> Plug(const std::string& strPath, std::string& strError);

    std::mutex m_mutex;
    std::string m_strDir;
    std::map<std::string, Session> m_sessions;
    std::map<std::string, std::pair<Stamp, std::string>> m_problems;
};
