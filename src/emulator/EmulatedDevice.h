// One emulated device: the device side of the HID report protocol over a modelled USB link, with its
// modes, boot rule, SPI NOR flash, faults and a virtual clock.
//
// Time: every device keeps its own virtual clock in microseconds. Reports cross the link one per
// report interval and direction, on the interval's grid; the flash takes its datasheet times; the
// device erases and programs while the host is still sending (a whole-sector write starts its erase
// when the command arrives and programs each page as soon as it is complete). The clock only moves
// when the host writes or waits, so a test runs instantly; with real-time pacing every call also
// sleeps until real time has caught up with the virtual clock.
#pragma once

#include "device/zelhid/Protocol.h"
#include "emulator/DeviceFaults.h"
#include "emulator/DeviceFile.h"
#include "emulator/SpiFlash.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CEmulatedDevice {
public:
    // strFlashPath: where the flash contents persist ("" keeps them in memory only). An existing file
    // is read (as much as fits); otherwise the initial contents of the desc are made and written.
    CEmulatedDevice(const DeviceDescription& desc, std::string strFlashPath);
    ~CEmulatedDevice();
    CEmulatedDevice(const CEmulatedDevice&) = delete;
    CEmulatedDevice& operator=(const CEmulatedDevice&) = delete;

    const DeviceDescription& Description() const { return m_desc; }

    // A host handle on the device's HID interface; every open link receives every input report.
    // 0 when the device is unplugged.
    uint64_t OpenLink();
    void CloseLink(uint64_t nLink);
    // 1: sent; -1: the device is gone.
    int Write(uint64_t nLink, const uint8_t* pReport);
    // 1: a report; 0: none within the timeout; -1: the device is gone.
    int Read(uint64_t nLink, uint8_t* pReport, uint32_t nTimeoutMs);

    bool IsPlugged();
    // When the device next has something to do for this link (deliver a report or run queued work), on
    // its clock; -1: nothing until the host writes (also while a transfer's data is still coming). For a
    // driver that moves the clock itself.
    int64_t PendingUntilUs(uint64_t nLink);
    // The device is pulled out now (its file went away): a running erase or program is torn.
    void Unplug();
    // A device that was pulled out is plugged in again: it boots from its flash as it was left, its
    // earlier links stay dead, and its counters and faults start afresh with these. False when it is
    // still plugged in.
    bool Replug(const FaultPlan& faults);
    // Called once, without the device's lock, when a fault pulls the device out.
    void SetUnplugHandler(std::function<void()> fn);

    // Observation for tests and benchmarks.
    int64_t NowUs();
    uint8_t Mode();
    std::vector<uint8_t> FlashContents();
    void SetFlashContents(uint32_t nOffset, const std::vector<uint8_t>& bytes);
    struct Stats {
        uint64_t nReportsOut = 0, nReportsIn = 0, nCommands = 0, nWrites = 0, nReads = 0, nCrcQueries = 0;
        uint64_t nErases = 0, nPrograms = 0;
        int64_t nFlashBusyUs = 0;
    };
    Stats GetStats();

private:
    static constexpr int64_t kNever = INT64_MAX;

    struct InReport {
        uint8_t data[zelproto::kReportSize];
        int64_t nDeliver;
    };
    enum class WorkKind {
        Respond,
        Erase,
        Program,
        ModifySector,
        FinishWrite,
        ReadFlash,
        CrcFlash,
        Switch,
        FlashId,
        FlashConfig
    };
    struct Work {
        WorkKind kind = WorkKind::Respond;
        int64_t nReady = 0;
        bool bNeedsChip = false;
        uint32_t nAddress = 0;  // flash address
        uint32_t nLength = 0;
        uint32_t nSource = 0;  // offset into the program source; CrcFlash: the piece size
        bool bFromTransfer = false;
        CDeviceFaults::TransferFaults faults;  // ReadFlash: what befalls the read
        uint8_t nTarget = 0;                   // Switch: target mode
        zelproto::ResponseHeader resp;
        uint8_t inlineData[zelproto::kInlineSize] = {};
        size_t nInline = 0;
    };
    enum class TransferKind { None, Write, Patch };
    struct Transfer {
        TransferKind kind = TransferKind::None;
        bool bActive = false;  // data reports still expected
        uint8_t nSeq = 0;
        uint8_t nCommand = 0;
        uint32_t nOffset = 0, nLength = 0, nCrc = 0, nFlags = 0;
        uint32_t nReceived = 0;
        uint32_t nPagesQueued = 0;
        bool bWholeSector = false;
        CDeviceFaults::TransferFaults faults;
        bool bFlashError = false;  // an erase or program was not accepted by the chip
        std::vector<uint8_t> data;
    };
    struct FlashSetup {
        bool bValid = false;
        uint32_t nJedecId = 0;
        uint32_t nCapacity = 0;
        uint32_t nSectorSize = kFlashSectorSize;
        uint8_t opcodes[zelproto::OP_COUNT] = {};
    };

    // The link and the clock (DeviceLink.cpp).
    int64_t Grid(int64_t t) const;
    int64_t NextWorkStart();
    void RunWorkBefore(int64_t t);
    void ExecuteFront();
    void CatchUpRealTime();
    void PaceRealTime();
    void CountReport(int64_t t);
    void PowerCut(int64_t t);
    void EnqueueIn(const uint8_t* pReport, int64_t nReady);
    void Deliver(const uint8_t* pReport, int64_t nReady);
    bool FlashOpCut(int64_t s);
    void CutFlashOp(int64_t s);

    // Command handling (DeviceCommands.cpp).
    void HandleOut(const uint8_t* pReport, int64_t t);
    void HandleCommand(const zelproto::CommandHeader& h, const uint8_t* pInline, int64_t t);
    void AbortTransaction(int64_t t);
    void Respond(const zelproto::CommandHeader& h, uint8_t status, int64_t t, uint32_t v0 = 0, uint32_t v1 = 0,
                 uint32_t v2 = 0, const uint8_t* pInline = nullptr, size_t nInline = 0);
    void Push(Work w) { m_work.push_back(w); }
    // Work on the chip that the device answers with OK once it is done.
    Work ChipWork(WorkKind kind, const zelproto::CommandHeader& h, int64_t t) const;
    void SwitchMode(const zelproto::CommandHeader& h, int64_t t, UnplugStep step, uint8_t nTarget);
    void AppendTransferData(const uint8_t* p, uint32_t n, int64_t t);
    void CompleteTransfer(int64_t t);
    zelproto::ResponseHeader ResponseFor(uint8_t nSeq, uint8_t nCommand, uint8_t status) const;
    zelproto::Identity CurrentIdentity() const;

    // Chip work (DeviceChipWork.cpp).
    void DoErase(const Work& w, int64_t s);
    void DoProgram(const Work& w, int64_t s);
    void DoModifySector(const Work& w, int64_t s);
    void DoFinishWrite(const Work& w, int64_t s);
    void DoReadFlash(const Work& w, int64_t s);
    void DoCrcFlash(const Work& w, int64_t s);
    void DoSwitch(const Work& w, int64_t s);
    void DoFlashId(const Work& w, int64_t s);
    void DoFlashConfig(const Work& w, int64_t s);
    void Boot(int64_t t);
    uint32_t FirmwareVersion() const;
    bool DefaultSetup(uint32_t nJedecId);
    int64_t SpiReadUs(uint32_t nBytes) const;
    uint8_t Opcode(int index, uint8_t fallback) const;
    // Persistence (EmulatedDevice.cpp, FlashFile.h).
    void Persist();

    std::mutex m_mutex;
    DeviceDescription m_desc;
    std::string m_strFlashPath;
    CSpiFlash m_flash;
    std::function<void()> m_onUnplug;
    bool m_bUnplugNotified = false;

    bool m_bPlugged = true;
    uint8_t m_mode = zelproto::MODE_NORMAL;
    uint32_t m_nFirmwareVersion = 0;  // what the running firmware reports
    FlashSetup m_setup;
    uint8_t m_nLastStatus = zelproto::ST_OK;

    int64_t m_now = 0;
    int64_t m_lastOut = -1000000;
    int64_t m_lastIn = -1000000;
    int64_t m_engineTime = 0;
    int64_t m_unplugAt = INT64_MAX;
    std::chrono::steady_clock::time_point m_realStart;

    std::map<uint64_t, std::deque<InReport>> m_links;
    uint64_t m_nNextLink = 1;
    std::deque<Work> m_work;
    Transfer m_xfer;
    std::vector<uint8_t> m_sectorImage;  // program source of read-modify-write and flag writes
    std::vector<uint8_t> m_scratch;
    uint8_t m_lastResponse[zelproto::kReportSize] = {};
    bool m_bHaveLastResponse = false;

    CDeviceFaults m_faults;     // the plan and its counters since the device was plugged in
    bool m_bCutThisOp = false;  // the running flash operation is the one the power goes at
    Stats m_stats;
};
