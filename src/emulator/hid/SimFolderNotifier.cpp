#include "emulator/hid/SimFolderNotifier.h"

#include "device/zelhid/Notifiers.h"
#include "emulator/SimFolder.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

CSimFolderNotifier::CSimFolderNotifier(const std::string& strSimDir) : m_strDir(SimFolderPath(strSimDir)) {}

CSimFolderNotifier::~CSimFolderNotifier()
{
    Unregister();
}

bool CSimFolderNotifier::Register(std::function<void(const DeviceNotice&)> sink)
{
    struct stat st;
    if (m_thread.joinable() || !sink || m_strDir.empty() || ::stat(m_strDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0)
        return false;
    m_inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_inotifyFd >= 0 &&
        ::inotify_add_watch(m_inotifyFd, m_strDir.c_str(),
                            IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB) < 0) {
        ::close(m_inotifyFd);
        m_inotifyFd = -1;
    }
    m_known.clear();
    Rescan(false);
    m_sink = std::move(sink);
    m_thread = std::thread(&CSimFolderNotifier::Run, this);
    return true;
}

void CSimFolderNotifier::Run()
{
    m_runner = std::this_thread::get_id();
    while (!m_bStop) {
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_inotifyFd, POLLIN, 0}};
        const int n = ::poll(fds, m_inotifyFd >= 0 ? 2 : 1, m_inotifyFd >= 0 ? -1 : kPollMs);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents || m_bStop)
            return;
        // The events only say that something changed; the folder itself says what. Events of other
        // files (the devices' flash files, rewritten by every write) are not worth a look: with many
        // devices in one folder each write would make every program watching it read the folder.
        bool bLook = m_inotifyFd < 0;
        if (m_inotifyFd >= 0) {
            alignas(inotify_event) char buffer[4096];
            ssize_t nRead = 0;
            while ((nRead = ::read(m_inotifyFd, buffer, sizeof buffer)) > 0) {
                for (ssize_t i = 0; i + static_cast<ssize_t>(sizeof(inotify_event)) <= nRead;) {
                    const auto* e = reinterpret_cast<const inotify_event*>(buffer + i);
                    bLook = bLook || (e->mask & IN_Q_OVERFLOW) || e->len == 0 || IsSimDeviceFileName(e->name);
                    i += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                }
            }
        }
        if (bLook)
            Rescan(true);
    }
}

void CSimFolderNotifier::Rescan(bool bNotify)
{
    std::map<std::string, std::string> now;
    if (DIR* dir = ::opendir(m_strDir.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            struct stat st;
            const std::string path = SimDevicePath(m_strDir, name);
            if (!IsSimDeviceFileName(name) || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            now[name] = std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
                        std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
        }
        ::closedir(dir);
    }
    if (bNotify) {
        for (const auto& [name, stamp] : m_known) {
            auto it = now.find(name);
            if ((it == now.end() || it->second != stamp) && !m_bStop)
                m_sink(MakeInterfaceNotice(DBT_DEVICEREMOVECOMPLETE, SimDevicePath(m_strDir, name)));
        }
        for (const auto& [name, stamp] : now) {
            auto it = m_known.find(name);
            if ((it == m_known.end() || it->second != stamp) && !m_bStop)
                m_sink(MakeInterfaceNotice(DBT_DEVICEARRIVAL, SimDevicePath(m_strDir, name)));
        }
    }
    m_known = std::move(now);
}

void CSimFolderNotifier::Unregister()
{
    if (!StopNotifierThread(m_thread, m_runner, m_bStop, m_wakeFd))
        return;
    if (m_inotifyFd >= 0)
        ::close(m_inotifyFd);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_inotifyFd = -1;
    m_wakeFd = -1;
    m_sink = nullptr;
}
