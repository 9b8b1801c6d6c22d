// One emulated device served to the running kernel as a HID device through /dev/uhid: its reports
// cross the kernel's HID core and appear on a hidraw node like a USB device's.
#pragma once

#include "emulator/EmulatedDevice.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Ways to misbehave at the HID level, for testing the host's side against a hostile device.
struct UhidQuirks {
    enum class Descriptor { Normal, Short, Malformed };
    Descriptor descriptor = Descriptor::Normal;
    uint32_t nInputSize = zelproto::kReportSize;  // bytes of every input report sent (report ID included)
    bool bWrongSeq = false;                       // answers carry another sequence number
};

// The HID report descriptor of a device with this usage (page << 16 | usage): input and output
// reports 1 and 2, 63 bytes each after the report ID.
std::vector<uint8_t> UhidReportDescriptor(uint32_t nUsage, UhidQuirks::Descriptor kind);

class CUhidDevice {
public:
    CUhidDevice(std::shared_ptr<CEmulatedDevice> device, std::string strFileName, const UhidQuirks& quirks);
    ~CUhidDevice();
    CUhidDevice(const CUhidDevice&) = delete;
    CUhidDevice& operator=(const CUhidDevice&) = delete;

    // Opens /dev/uhid and creates the kernel's device; false with the reason.
    bool Start(std::string& strError);
    const std::shared_ptr<CEmulatedDevice>& Device() const { return m_device; }
    // False once a fault pulled the emulated device out (the kernel's device is gone then).
    bool Alive() const { return m_bAlive.load(); }
    // Reports that crossed the kernel so far, each way, and the device's clock: "N out, M in, T us".
    std::string Summary();

private:
    using Report = std::array<uint8_t, zelproto::kReportSize>;
    bool Create();
    void Destroy();
    void SendInput(Report report);
    void Receive();
    void Pump();
    // The device answered: let the kernel re-enumerate it when it entered or left DFU mode.
    void FollowMode(bool& bWasDfu);

    std::shared_ptr<CEmulatedDevice> m_device;
    std::string m_strFileName;
    UhidQuirks m_quirks;
    int m_fd = -1;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bAlive{true};
    std::atomic<uint64_t> m_nReportsOut{0}, m_nReportsIn{0};
    std::mutex m_mutex;    // m_out
    std::mutex m_fdMutex;  // m_bCreated, writes to m_fd
    std::condition_variable m_cond;
    std::deque<Report> m_out;
    bool m_bCreated = false;
    std::chrono::steady_clock::time_point m_nextInput;  // the pump's: when the next input report may go
    std::thread m_receiver;
    std::thread m_pump;
};
