// Notices from the emulator's folder: arrival and removal with the device's path.
#include "emulator/SimTestSupport.h"
#include "emulator/hid/EmulatorBackend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// A notice's event and path; the event 0 when the notice carries no interface record.
using Event = std::pair<unsigned, std::u16string>;

// Collects notices; waits for them on a condition, never by sleeping.
class CNoticeSink {
public:
    void operator()(const DeviceNotice& n)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notices.push_back(n);
        m_cv.notify_all();
    }
    // The notices so far once there are `count` (or what came within a generous bound), taken away.
    std::vector<Event> Take(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::seconds(20), [&] { return m_notices.size() >= count; });
        std::vector<Event> events;
        for (const DeviceNotice& n : std::exchange(m_notices, {}))
            events.emplace_back(n.bHasRecord && n.nDeviceType == DBT_DEVTYP_DEVICEINTERFACE ? n.nEvent : 0, n.strPath);
        return events;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<DeviceNotice> m_notices;
};

std::u16string U16(const std::string& s)
{
    return std::u16string(s.begin(), s.end());
}

TEST(SimFolderNotifier, FilesArriveAndLeave)
{
    simtest::CTempSimDir dir;
    CNoticeSink sink;
    std::unique_ptr<IDeviceNotifier> notifier = CreateSimFolderNotifier(dir.Path());
    ASSERT_TRUE(notifier->Register([&](const DeviceNotice& n) { sink(n); }));

    // A device file that comes or goes is a notice with its path: CliE2e.WatchTracesDevicesThatComeAndGo.
    // One rewritten in place is a replug: removal, then arrival.
    dir.WriteVariant("za1200.json", "za1200.json", {{"version", "0x0106"}});
    const std::u16string za1200 = U16(dir.File("za1200.json"));
    EXPECT_EQ(sink.Take(2), (std::vector<Event>{{DBT_DEVICEREMOVECOMPLETE, za1200}, {DBT_DEVICEARRIVAL, za1200}}));

    // Files that are not devices make no notices; a later device file shows that none came before it.
    dir.Write("readme.txt", "x");
    dir.Write("zz.json", R"({"vendorId": 1, "productId": 2})");
    EXPECT_EQ(sink.Take(1), (std::vector<Event>{{DBT_DEVICEARRIVAL, U16(dir.File("zz.json"))}}));

    notifier->Unregister();
    dir.Remove("zz.json");
    notifier.reset();
    EXPECT_TRUE(sink.Take(0).empty()) << "nothing after Unregister";

    // A folder that is not there cannot be watched.
    notifier = CreateSimFolderNotifier("/no/such/folder");
    EXPECT_FALSE(notifier->Register([](const DeviceNotice&) {}));
    notifier->Unregister();
}

TEST(SimFolderNotifier, UnregisterFromTheSinkStopsDelivery)
{
    simtest::CTempSimDir dir(false);
    CNoticeSink sink;
    std::unique_ptr<IDeviceNotifier> notifier = CreateSimFolderNotifier(dir.Path());
    IDeviceNotifier* pNotifier = notifier.get();
    ASSERT_TRUE(notifier->Register([&sink, pNotifier](const DeviceNotice& n) {
        pNotifier->Unregister();
        sink(n);
    }));
    dir.Write("a.json", R"({"vendorId": 1, "productId": 2})");
    EXPECT_EQ(sink.Take(1).size(), 1u);
    notifier.reset();  // joins the thread that ended on its own
}

}  // namespace
