#include "emulator/uhid/UhidDevice.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using namespace zelproto;

namespace {

constexpr uint16_t kBusUsb = 3;  // BUS_USB: the kernel names the device 0003:VVVV:PPPP.NNNN
constexpr int kDetachDelayMs = 200;
// The receiver runs before the device's engine, and both before the host's programs: the kernel keeps
// only 32 output events for us and drops what comes beyond.
constexpr int kReceiverPriority = 10;
constexpr int kPumpPriority = 5;  // from the answer to a mode switch until the device leaves the bus

bool WriteEvent(int fd, const uhid_event& ev)
{
    const ssize_t n = write(fd, &ev, sizeof ev);
    return n == static_cast<ssize_t>(sizeof ev);
}

void CopyText(char* pDest, size_t nSize, const std::string& str)
{
    const size_t n = std::min(nSize - 1, str.size());
    std::memcpy(pDest, str.data(), n);
    pDest[n] = 0;
}

// Where permitted (root, or CAP_SYS_NICE); otherwise the thread keeps its ordinary policy.
void RunRealTime(int nPriority)
{
    sched_param param{};
    param.sched_priority = nPriority;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

}  // namespace

std::vector<uint8_t> UhidReportDescriptor(uint32_t nUsage, UhidQuirks::Descriptor kind)
{
    const auto page = static_cast<uint16_t>(nUsage >> 16);
    const auto usage = static_cast<uint16_t>(nUsage);
    std::vector<uint8_t> d = {0x06,
                              static_cast<uint8_t>(page),
                              static_cast<uint8_t>(page >> 8),  // usage page
                              0x0A,
                              static_cast<uint8_t>(usage),
                              static_cast<uint8_t>(usage >> 8),  // usage
                              0xA1,
                              0x01};  // collection (application)
    for (const uint8_t id : {kReportIdCommand, kReportIdData}) {
        const uint8_t report[] = {0x85, id,                 // report ID
                                  0x15, 0x00,               // logical minimum 0
                                  0x26, 0xFF, 0x00,         // logical maximum 255
                                  0x75, 0x08,               // report size 8 bits
                                  0x95, 0x3F,               // report count 63
                                  0x09, 0x01, 0x81, 0x02,   // input (data, variable, absolute)
                                  0x09, 0x01, 0x91, 0x02};  // output (data, variable, absolute)
        d.insert(d.end(), std::begin(report), std::end(report));
    }
    d.push_back(0xC0);  // end collection
    switch (kind) {
    case UhidQuirks::Descriptor::Normal:
        break;
    case UhidQuirks::Descriptor::Short:
        d.resize(7);  // cut inside the collection item
        break;
    case UhidQuirks::Descriptor::Malformed:
        d.resize(8);
        d.insert(d.end(), {0x75, 0x08, 0x95, 0x3F, 0x81, 0x02, 0xC0, 0xC0});  // input without a usage, closed twice
        break;
    }
    return d;
}

CUhidDevice::CUhidDevice(std::shared_ptr<CEmulatedDevice> device, std::string strFileName, const UhidQuirks& quirks)
    : m_device(std::move(device)), m_strFileName(std::move(strFileName)), m_quirks(quirks)
{}

CUhidDevice::~CUhidDevice()
{
    m_bStop = true;
    m_cond.notify_all();
    if (m_wake[1] >= 0) {
        const uint8_t b = 1;
        (void)!write(m_wake[1], &b, 1);
    }
    if (m_receiver.joinable())
        m_receiver.join();
    if (m_pump.joinable())
        m_pump.join();
    Destroy();
    for (const int fd : {m_fd, m_wake[0], m_wake[1]})
        if (fd >= 0)
            close(fd);
}

bool CUhidDevice::Start(std::string& strError)
{
    m_fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (m_fd < 0) {
        strError = std::string("cannot open /dev/uhid: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(m_wake, O_CLOEXEC) != 0 || !Create()) {
        strError = std::string("the kernel refused the device: ") + std::strerror(errno);
        return false;
    }
    m_receiver = std::thread([this] { Receive(); });
    m_pump = std::thread([this] { Pump(); });
    return true;
}

std::string CUhidDevice::Summary()
{
    return std::to_string(m_nReportsOut.load()) + " reports out, " + std::to_string(m_nReportsIn.load()) +
           " in, device clock " + std::to_string(m_device->NowUs()) + " us";
}

bool CUhidDevice::Create()
{
    const DeviceDescription& desc = m_device->Description();
    const std::vector<uint8_t> rd = UhidReportDescriptor(desc.nUsage, m_quirks.descriptor);
    uhid_event ev{};
    ev.type = UHID_CREATE2;
    CopyText(reinterpret_cast<char*>(ev.u.create2.name), sizeof ev.u.create2.name, desc.strProduct);
    CopyText(reinterpret_cast<char*>(ev.u.create2.phys), sizeof ev.u.create2.phys, "quillon-uhid/" + m_strFileName);
    CopyText(reinterpret_cast<char*>(ev.u.create2.uniq), sizeof ev.u.create2.uniq, desc.strSerialNumber);
    ev.u.create2.rd_size = static_cast<uint16_t>(rd.size());
    ev.u.create2.bus = kBusUsb;
    ev.u.create2.vendor = desc.nVendorId;
    ev.u.create2.product = desc.nProductId;
    ev.u.create2.version = desc.nVersion & 0xFFFF;
    std::memcpy(ev.u.create2.rd_data, rd.data(), rd.size());
    std::lock_guard<std::mutex> lock(m_fdMutex);
    m_bCreated = WriteEvent(m_fd, ev);
    return m_bCreated;
}

void CUhidDevice::Destroy()
{
    {
        std::lock_guard<std::mutex> lock(m_fdMutex);
        if (!m_bCreated)
            return;
        uhid_event ev{};
        ev.type = UHID_DESTROY;
        WriteEvent(m_fd, ev);
        m_bCreated = false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_out.clear();
}

void CUhidDevice::SendInput(Report report)
{
    if (m_quirks.bWrongSeq && report[0] == kReportIdCommand) {
        ResponseHeader hdr;
        if (DecodeResponse(report.data(), hdr)) {
            hdr.nSeq = static_cast<uint8_t>(hdr.nSeq + 1);
            Report inline_{};
            std::memcpy(inline_.data(), InlinePayload(report.data()), kInlineSize);
            EncodeResponse(report.data(), hdr, inline_.data(), kInlineSize);
        }
    }
    // One input report per report interval of real time, as on a bus: the kernel keeps only 64 input
    // reports for each reader of the node and drops what comes beyond, so a device that ran ahead of a
    // slow host would lose a long answer's data.
    const auto now = std::chrono::steady_clock::now();
    if (now < m_nextInput)
        std::this_thread::sleep_until(m_nextInput);
    m_nextInput =
        std::max(now, m_nextInput) + std::chrono::microseconds(m_device->Description().timing.nReportIntervalUs);
    uhid_event ev{};
    ev.type = UHID_INPUT2;
    ev.u.input2.size = static_cast<uint16_t>(std::min<uint32_t>(m_quirks.nInputSize, UHID_DATA_MAX));
    std::memcpy(ev.u.input2.data, report.data(), std::min<size_t>(ev.u.input2.size, report.size()));
    std::lock_guard<std::mutex> lock(m_fdMutex);
    if (m_bCreated && WriteEvent(m_fd, ev))
        ++m_nReportsIn;
}

void CUhidDevice::Receive()
{
    // The kernel keeps only a few dozen events for us: read them at once, ahead of the device's work.
    RunRealTime(kReceiverPriority);
    uhid_event ev{};
    while (!m_bStop) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if (fds[1].revents != 0 || m_bStop)
            break;
        if ((fds[0].revents & POLLIN) == 0 || read(m_fd, &ev, sizeof ev) <= 0)
            continue;
        if (ev.type == UHID_OUTPUT) {
            Report report{};
            std::memcpy(report.data(), ev.u.output.data, std::min<size_t>(ev.u.output.size, report.size()));
            std::lock_guard<std::mutex> lock(m_mutex);
            m_out.push_back(report);
            ++m_nReportsOut;
            m_cond.notify_one();
        } else if (ev.type == UHID_GET_REPORT || ev.type == UHID_SET_REPORT) {
            // No feature reports: say so at once, or the caller waits for the kernel's timeout.
            uhid_event reply{};
            const bool bGet = ev.type == UHID_GET_REPORT;
            reply.type = bGet ? UHID_GET_REPORT_REPLY : UHID_SET_REPORT_REPLY;
            (bGet ? reply.u.get_report_reply.id : reply.u.set_report_reply.id) = ev.u.get_report.id;
            (bGet ? reply.u.get_report_reply.err : reply.u.set_report_reply.err) = EIO;
            std::lock_guard<std::mutex> lock(m_fdMutex);
            WriteEvent(m_fd, reply);
        }
    }
}

void CUhidDevice::FollowMode(bool& bWasDfu)
{
    const bool bDfu = IsDfuMode(m_device->Mode());
    if (bDfu == bWasDfu)
        return;
    // Like hardware rebooting into its other mode: gone from the bus, then back as a new device. The
    // answer must be read first: once the node is gone, the host's poll reports the hang-up and hidapi
    // gives up without reading what was still queued. Whatever the host sends meanwhile is lost.
    bWasDfu = bDfu;
    std::this_thread::sleep_for(std::chrono::milliseconds(kDetachDelayMs));
    Destroy();
    Create();
}

void CUhidDevice::Pump()
{
    // Above the host's programs too: with one CPU, a device that waits behind the host lets the host
    // fill the kernel's queue.
    RunRealTime(kPumpPriority);
    const uint64_t link = m_device->OpenLink();
    bool bWasDfu = IsDfuMode(m_device->Mode());
    Report in{};
    int result = link == 0 ? -1 : 0;
    while (!m_bStop && result >= 0) {
        Report out{};
        bool bHave = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_out.empty() && m_device->PendingUntilUs(link) < 0)
                m_cond.wait_for(lock, std::chrono::milliseconds(100));
            if (!m_out.empty()) {
                out = m_out.front();
                m_out.pop_front();
                bHave = true;
            }
        }
        if (bHave)
            result = m_device->Write(link, out.data());
        // Answers that are due go out now; with nothing more from the host, the device's clock moves
        // on to its next event, never further.
        while (result >= 0 && !m_bStop) {
            const int64_t next = m_device->PendingUntilUs(link);
            const int64_t now = m_device->NowUs();
            bool bHostWaits = false;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                bHostWaits = m_out.empty();
            }
            if (next < 0 || (!bHostWaits && next > now))
                break;
            const auto waitMs = static_cast<uint32_t>(std::max<int64_t>(0, (next - now + 999) / 1000));
            result = m_device->Read(link, in.data(), waitMs);
            if (result == 1) {
                SendInput(in);
                FollowMode(bWasDfu);
            }
        }
    }
    if (link != 0)
        m_device->CloseLink(link);
    if (result < 0 && !m_bStop) {
        m_bAlive = false;
        Destroy();
    }
}
