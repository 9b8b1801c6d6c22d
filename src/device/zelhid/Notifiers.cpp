#include "device/zelhid/Notifiers.h"

#include "device/zelhid/Utf.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

void Wake(int fd)
{
    const uint64_t one = 1;
    if (fd >= 0) [[maybe_unused]]
        const ssize_t n = ::write(fd, &one, sizeof one);
}

}  // namespace

DeviceNotice MakeInterfaceNotice(unsigned nEvent, const std::string& strPath)
{
    DeviceNotice notice;
    notice.nEvent = nEvent;
    notice.bHasRecord = true;
    notice.nDeviceType = DBT_DEVTYP_DEVICEINTERFACE;
    notice.strPath = Utf8ToUtf16(strPath);
    return notice;
}

bool StopNotifierThread(std::thread& thread, std::atomic<std::thread::id>& runner, std::atomic<bool>& bStop, int wakeFd)
{
    bStop = true;
    if (runner.load() == std::this_thread::get_id())
        return false;
    Wake(wakeFd);
    if (thread.joinable())
        thread.join();
    runner = std::thread::id();
    bStop = false;
    return true;
}

// ---- libudev ----------------------------------------------------------------------------------------

CUdevNotifier::~CUdevNotifier()
{
    Unregister();
}

bool CUdevNotifier::Register(std::function<void(const DeviceNotice&)> sink)
{
    if (m_thread.joinable() || !sink)
        return false;
    m_pUdev = udev_new();
    if (m_pUdev)
        m_pMonitor = udev_monitor_new_from_netlink(m_pUdev, "udev");
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (!m_pMonitor || m_wakeFd < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(m_pMonitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(m_pMonitor) < 0) {
        Unregister();
        return false;
    }
    m_sink = std::move(sink);
    m_thread = std::thread(&CUdevNotifier::Run, this);
    return true;
}

void CUdevNotifier::Run()
{
    m_runner = std::this_thread::get_id();
    const int monitorFd = udev_monitor_get_fd(m_pMonitor);
    while (!m_bStop) {
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {monitorFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents || m_bStop)
            return;
        if (!(fds[1].revents & POLLIN))
            continue;
        udev_device* dev = udev_monitor_receive_device(m_pMonitor);
        if (!dev)
            continue;
        const char* action = udev_device_get_action(dev);
        const char* node = udev_device_get_devnode(dev);
        if (action && node && !m_bStop) {
            if (std::strcmp(action, "add") == 0)
                m_sink(MakeInterfaceNotice(DBT_DEVICEARRIVAL, node));
            else if (std::strcmp(action, "remove") == 0)
                m_sink(MakeInterfaceNotice(DBT_DEVICEREMOVECOMPLETE, node));
        }
        udev_device_unref(dev);
    }
}

void CUdevNotifier::Unregister()
{
    if (!StopNotifierThread(m_thread, m_runner, m_bStop, m_wakeFd))
        return;
    if (m_pMonitor)
        udev_monitor_unref(m_pMonitor);
    if (m_pUdev)
        udev_unref(m_pUdev);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_pMonitor = nullptr;
    m_pUdev = nullptr;
    m_wakeFd = -1;
    m_sink = nullptr;
}
