// The hidapi transport's report framing, through a stand-in for hidapi; and the udev notifier, which
// must start and stop where the system has no udev.
#include "device/zelhid/HidapiTransport.h"

#include "device/zelhid/Protocol.h"
#include "device/zelhid/ZelHidBackend.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

namespace {

class CFakeHidapi final : public IHidapi {
public:
    std::vector<DeviceInfo> devices;
    int nOpenFailures = 0;                   // opens that fail before one succeeds
    std::deque<std::vector<uint8_t>> reads;  // what ReadTimeout returns, in order; empty: timeout
    bool bReadError = false;
    std::vector<std::vector<uint8_t>> writes;
    int nWriteResult = 64;
    std::vector<uint32_t> sleeps;
    std::vector<int> readTimeouts;
    int nOpens = 0, nCloses = 0;
    uint64_t now = 1000;

    std::vector<DeviceInfo> Enumerate() override { return devices; }
    std::string strOpened;
    Handle Open(const std::string& strPath) override
    {
        ++nOpens;
        strOpened = strPath;
        if (nOpenFailures > 0) {
            --nOpenFailures;
            return nullptr;
        }
        return this;
    }
    int Write(Handle, const uint8_t* p, size_t n) override
    {
        writes.emplace_back(p, p + n);
        return nWriteResult;
    }
    int ReadTimeout(Handle, uint8_t* p, size_t n, int ms) override
    {
        readTimeouts.push_back(ms);
        if (bReadError)
            return -1;
        if (reads.empty()) {
            now += static_cast<uint64_t>(ms);
            return 0;
        }
        std::vector<uint8_t> r = reads.front();
        reads.pop_front();
        const size_t k = std::min(n, r.size());
        std::copy(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(k), p);
        return static_cast<int>(k);
    }
    void Close(Handle) override { ++nCloses; }
    void Sleep(uint32_t ms) override
    {
        sleeps.push_back(ms);
        now += ms;
    }
    uint64_t NowMs() override { return now; }
};

IHidapi::DeviceInfo Info(const char* path, uint16_t pid = 0x1200, uint16_t page = 0xff00, const wchar_t* serial = L"")
{
    return {path, 0x2fe3, pid, page, 1, -1, L"", serial};  // usage 1, no interface number, no product string
}

// A transport over a stand-in for hidapi that the test scripts.
class HidapiTransport : public ::testing::Test {
protected:
    CFakeHidapi* fake = new CFakeHidapi;
    CHidapiTransport transport{std::unique_ptr<IHidapi>(fake)};
};

std::vector<uint8_t> Report(uint8_t id, uint8_t fill, size_t size = zelproto::kReportSize)
{
    std::vector<uint8_t> r(size, fill);
    if (size)
        r[0] = id;
    return r;
}

TEST_F(HidapiTransport, WritesTheWholeReportWithItsId)
{
    auto link = transport.Open("/dev/hidraw3", false);
    ASSERT_TRUE(link);
    const std::vector<uint8_t> report = Report(zelproto::kReportIdCommand, 0x33);
    EXPECT_TRUE(link->Write(report.data(), 1000));
    EXPECT_EQ(fake->writes, std::vector<std::vector<uint8_t>>{report}) << "64 bytes, report ID first";
    fake->nWriteResult = 10;
    EXPECT_FALSE(link->Write(report.data(), 1000)) << "a short write is a failure";
    EXPECT_TRUE(link->IsConnected());
    fake->nWriteResult = -1;
    EXPECT_FALSE(link->Write(report.data(), 1000));
    EXPECT_FALSE(link->IsConnected());
    link.reset();
    EXPECT_EQ(fake->nCloses, 1);
}

TEST_F(HidapiTransport, ReadsDropWhatIsNotOneOfOurReports)
{
    auto link = transport.Open("/dev/hidraw3", false);
    fake->reads = {Report(0x05, 0x11),                         // unknown report ID
                   Report(zelproto::kReportIdData, 0x22, 40),  // short
                   Report(zelproto::kReportIdData, 0x33, 65),  // long: not our report size
                   Report(zelproto::kReportIdData, 0x44)};
    uint8_t out[zelproto::kReportSize];
    ASSERT_EQ(link->Read(out, 500), 1);
    EXPECT_EQ(std::vector<uint8_t>(out, out + sizeof out), Report(zelproto::kReportIdData, 0x44));
    EXPECT_EQ(link->Read(out, 500), 0) << "nothing more: a timeout";
    EXPECT_EQ(fake->readTimeouts.back(), 500);
    EXPECT_EQ(link->Read(out, 0), 0);
    EXPECT_EQ(fake->readTimeouts.back(), 0) << "0: only what is waiting, never blocking";
    for (int ms : fake->readTimeouts)
        EXPECT_GE(ms, 0) << "never -1 (blocking)";
    fake->bReadError = true;
    EXPECT_EQ(link->Read(out, 500), -1);
    EXPECT_FALSE(link->IsConnected());
    EXPECT_EQ(link->Read(out, 500), -1);
}

TEST_F(HidapiTransport, OpeningANodeThatJustArrivedIsRetried)
{
    fake->nOpenFailures = 3;
    EXPECT_TRUE(transport.Open("/dev/hidraw9", true));
    EXPECT_EQ(fake->nOpens, 4);
    EXPECT_EQ(fake->sleeps, (std::vector<uint32_t>{50, 50, 50}));

    fake->nOpenFailures = 1000;
    fake->sleeps.clear();
    EXPECT_FALSE(transport.Open("/dev/hidraw9", true));
    uint32_t total = 0;
    for (uint32_t s : fake->sleeps)
        total += s;
    EXPECT_LE(total, CHidapiTransport::kOpenRetryMs) << "briefly";

    fake->nOpens = 0;
    EXPECT_FALSE(transport.Open("/dev/hidraw9", false)) << "a listed node is tried once";
    EXPECT_EQ(fake->nOpens, 1);
}

// After a mode switch the device is back under another node, maybe with another product ID: found by
// vendor, usage and serial number; a device without a serial number only when it is the one candidate.
TEST_F(HidapiTransport, ReopenFindsTheDeviceThatCameBack)
{
    HidInterfaceInfo was;
    was.nVendorId = 0x2fe3;
    was.nProductId = 0x1200;
    was.nUsagePage = 0xff00;
    was.nUsage = 1;
    struct Case {
        std::u16string serial;
        std::vector<IHidapi::DeviceInfo> devices;
        std::string expected;  // the node opened; empty: none, after waiting kReopenMs
    } cases[] = {
        {u"S1",
         {Info("/dev/hidraw1", 0x1200, 0xff00, L"S2"), Info("/dev/hidraw4", 0x1201, 0xff00, L"S1")},
         "/dev/hidraw4"},
        {u"S1", {Info("/dev/hidraw1", 0x1200, 0xff01, L"S1")}, ""},
        {u"", {Info("/dev/hidraw2")}, "/dev/hidraw2"},
        {u"", {Info("/dev/hidraw2"), Info("/dev/hidraw3")}, ""},
    };
    for (const Case& c : cases) {
        auto* api = new CFakeHidapi;
        api->devices = c.devices;
        CHidapiTransport reopening{std::unique_ptr<IHidapi>(api)};
        was.strSerialNumber = c.serial;
        const uint64_t start = api->now;
        EXPECT_EQ(reopening.Reopen(was) != nullptr, !c.expected.empty()) << c.expected;
        EXPECT_EQ(api->strOpened, c.expected);
        if (c.expected.empty()) {
            EXPECT_GE(api->now - start, CHidapiTransport::kReopenMs) << "waited for the device to come back";
        }
    }
}

TEST_F(HidapiTransport, InterfacesCarryUsageAndStrings)
{
    fake->devices = {Info("/dev/hidraw1"), Info("/dev/hidraw2")};
    fake->devices[0].strProduct = L"ZEL \U0001F3B5 Audio";
    const auto infos = transport.Enumerate();
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].strProduct, u"ZEL \U0001F3B5 Audio") << "wide text becomes UTF-16 with a surrogate pair";
    EXPECT_TRUE(infos[0].bHasProduct);
    EXPECT_FALSE(infos[1].bHasProduct);
    EXPECT_EQ(infos[0].nUsagePage, 0xff00);
    EXPECT_TRUE(transport.Describe("/DEV/HIDRAW2"));
    EXPECT_FALSE(transport.Describe("/dev/hidraw7"));
}

TEST(HidapiSystem, UdevNotifierStartsAndStops)
{
    std::unique_ptr<IDeviceNotifier> notifier = CreateUdevNotifier();
    ASSERT_TRUE(notifier);
    // Containers may have no udev netlink socket: then Register says so and nothing runs.
    if (notifier->Register([](const DeviceNotice&) {}))
        notifier->Unregister();
    notifier->Unregister();
    EXPECT_FALSE(notifier->Register(nullptr));
}

}  // namespace

// The lock of a device must outlive its node: it is named after the vendor ID and the serial number, and
// a serial number never makes a path of its own.
TEST_F(HidapiTransport, LockFileFollowsTheDeviceNotItsNode)
{
    if (!std::filesystem::is_directory(CHidapiTransport::kLockDir))
        GTEST_SKIP() << CHidapiTransport::kLockDir << " is missing: every device is locked by its node";
    HidInterfaceInfo info;
    info.strPath = "/dev/hidraw7";
    info.nVendorId = 0x2fe3;
    const struct {
        std::u16string serial;
        std::string expected;
        bool bCreate;
    } cases[] = {
        {u"ZA1200-000101", "/run/lock/quillon-2fe3-ZA1200-000101.lock", true},
        {u"../a/b c", "/run/lock/quillon-2fe3-.._2fa_2fb_20c.lock", true},
        {u"", "/dev/hidraw7", false},
    };
    for (const auto& c : cases) {
        info.strSerialNumber = c.serial;
        bool bCreate = !c.bCreate;
        EXPECT_EQ(transport.LockFile(info, bCreate), c.expected);
        EXPECT_EQ(bCreate, c.bCreate);
    }
}
