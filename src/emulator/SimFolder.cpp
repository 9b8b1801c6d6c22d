#include "emulator/SimFolder.h"

#include "emulator/FlashFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string SimFolderPath(const std::string& strDir)
{
    if (strDir.empty())
        return {};
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(strDir), ec).lexically_normal();
    std::string s = p.string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

std::string SimDevicePath(const std::string& strFolderPath, const std::string& strFileName)
{
    return strFolderPath + "/" + strFileName;
}

bool IsSimDeviceFileName(const std::string& name)
{
    return name.size() > 5 && name[0] != '.' && name.compare(name.size() - 5, 5, ".json") == 0;
}

std::string CheckSimFolder(const std::string& strDir, bool bFromOption)
{
    struct stat st;
    std::string problem;
    if (::stat(strDir.c_str(), &st) != 0)
        problem = errno == ENOENT ? "does not exist" : std::string("cannot be reached: ") + std::strerror(errno);
    else if (!S_ISDIR(st.st_mode))
        problem = "is not a directory";
    else
        return {};
    return "the emulator folder " + strDir + (bFromOption ? " (--sim) " : " (QUILLON_SIM_DIR) ") + problem;
}

CSimFolder::CSimFolder(const std::string& strDir) : m_strDir(SimFolderPath(strDir)) {}

bool CSimFolder::StampOf(const std::string& strPath, Stamp& stamp) const
{
    struct stat st;
    if (::stat(strPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    stamp.inode = st.st_ino;
    stamp.nMtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.nSize = st.st_size;
    return true;
}

namespace {

// A device file is a few hundred bytes: a larger one is none, and reading it whole would cost the time
// and memory of its size.
constexpr std::uintmax_t kMaxDeviceFileBytes = 1 << 20;

}  // namespace

std::shared_ptr<CEmulatedDevice> CSimFolder::Plug(const std::string& strPath, std::string& strError)
{
    std::error_code sizeError;
    const std::uintmax_t nSize = fs::file_size(strPath, sizeError);
    if (!sizeError && nSize > kMaxDeviceFileBytes) {
        strError = "larger than 1 MiB: not a device file";
        return nullptr;
    }
    std::ifstream in(strPath, std::ios::binary);
    if (!in) {
        strError = "cannot be read";
        return nullptr;
    }
    std::stringstream text;
    text << in.rdbuf();
    const fs::path file(strPath);
    DeviceDescription desc;
    if (!ParseDeviceFile(text.str(), file.stem().string(), desc, strError))
        return nullptr;
    // QUILLON_SIM_REALTIME=1 paces every device in real time (demos), whatever its file says.
    if (const char* pace = std::getenv("QUILLON_SIM_REALTIME"); pace && *pace && std::string(pace) != "0")
        desc.timing.bRealTime = true;
    const fs::path folder = file.parent_path();
    auto resolve = [&](const std::string& name) {
        return fs::path(name).is_absolute() ? name : (folder / name).string();
    };
    if (!desc.strInitialImage.empty()) {
        desc.strInitialImage = resolve(desc.strInitialImage);
        std::error_code ec;
        if (!fs::is_regular_file(desc.strInitialImage, ec)) {
            strError = "\"image\": no such file: " + desc.strInitialImage;
            return nullptr;
        }
    }
    if (!desc.strFlashFile.empty() && !FlashFileInsideFolder(folder.string(), desc.strFlashFile)) {
        strError = "\"file\": outside the device folder: " + desc.strFlashFile;
        return nullptr;
    }
    const std::string flashPath = desc.strFlashFile.empty() ? std::string() : resolve(desc.strFlashFile);
    // The flash contents are read and written whole: a pipe there would hold the program forever, and a
    // file of another size is not the chip's.
    if (!flashPath.empty() && !CheckFlashFile(flashPath, desc.pChip->nCapacity, strError))
        return nullptr;
    auto device = std::make_shared<CEmulatedDevice>(desc, flashPath);
    // A fault that pulls the device out takes its file away, as a hand would.
    device->SetUnplugHandler([strPath] {
        const std::string parked = strPath + ".unplugged";
        std::error_code ec;
        fs::rename(strPath, parked, ec);
    });
    return device;
}

void CSimFolder::Refresh(const std::string& strPath)
{
    Stamp stamp;
    const bool bPresent = StampOf(strPath, stamp);
    auto it = m_sessions.find(strPath);
    // A device that was pulled out is plugged in again when its file is there (put back).
    if (it != m_sessions.end() && (!bPresent || !(it->second.stamp == stamp) || !it->second.device->IsPlugged())) {
        it->second.device->Unplug();
        m_sessions.erase(it);
        it = m_sessions.end();
    }
    if (!bPresent || it != m_sessions.end())
        return;
    auto problem = m_problems.find(strPath);
    if (problem != m_problems.end() && problem->second.first == stamp)
        return;  // unchanged since it was refused
    std::string error;
    std::shared_ptr<CEmulatedDevice> device = Plug(strPath, error);
    if (!device) {
        std::fprintf(stderr, "quillon emulator: %s: %s\n", strPath.c_str(), error.c_str());
        m_problems[strPath] = {stamp, error};
        return;
    }
    m_problems.erase(strPath);
    m_sessions[strPath] = Session{stamp, device};
}

std::vector<std::pair<std::string, std::shared_ptr<CEmulatedDevice>>> CSimFolder::Scan()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::pair<std::string, std::shared_ptr<CEmulatedDevice>>> plugged;
    if (m_strDir.empty())
        return plugged;
    std::vector<std::string> paths;
    std::error_code ec;
    for (fs::directory_iterator it(m_strDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (IsSimDeviceFileName(name))
            paths.push_back(SimDevicePath(m_strDir, name));
    }
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (std::find(paths.begin(), paths.end(), it->first) == paths.end()) {
            it->second.device->Unplug();
            it = m_sessions.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_problems.begin(); it != m_problems.end();)
        it = std::find(paths.begin(), paths.end(), it->first) == paths.end() ? m_problems.erase(it) : std::next(it);
    for (const std::string& path : paths)
        Refresh(path);
    for (auto& [path, session] : m_sessions)
        if (session.device->IsPlugged())
            plugged.emplace_back(path, session.device);
    return plugged;
}

std::shared_ptr<CEmulatedDevice> CSimFolder::Find(const std::string& strPath)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_strDir.empty() || fs::path(strPath).parent_path().string() != m_strDir ||
        !IsSimDeviceFileName(fs::path(strPath).filename().string()))
        return nullptr;
    Refresh(strPath);
    auto it = m_sessions.find(strPath);
    if (it == m_sessions.end() || !it->second.device->IsPlugged())
        return nullptr;
    return it->second.device;
}

std::map<std::string, std::string> CSimFolder::Problems()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::map<std::string, std::string> out;
    for (const auto& [path, problem] : m_problems)
        out[path] = problem.second;
    return out;
}
