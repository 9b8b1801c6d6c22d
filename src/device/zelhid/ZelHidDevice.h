// A device object of the library: one served HID interface, spoken to over the report protocol.
//
// Locking: every operation holds the interface's lock (shared by all objects of the same path) for
// its whole exchange, so calls from two threads never interleave on the wire. Identity queries use
// a small lock of their own and never wait for an exchange.
//
// One program per device: every exchange needs the device's lock (DeviceLock.h, on the file the
// interface path names). An identity exchange holds it shared for itself; an operation takes it
// exclusively with its first exchange and keeps it while the device is in DFU mode, so until it is back
// in normal mode (or gone).
// While another program holds it nothing is sent: an operation fails, and an identity query answers
// with the USB descriptors' vendor and product IDs and zeros for the rest (HeldBy() says by whom).
//
// Release: Close() marks the object closed at once (IsDeviceAvailable false, every operation false),
// makes a running operation stop at its next report and gives up the link. The backend keeps closed
// objects until ReleaseZelUsbDevices, so a pointer the program still holds never dangles.
//
// Last error: every call that fails records why, as "<exchange>: <cause>" ("write at 0x3000: CRC
// mismatch", "read at 0x0: no answer within 2000 ms") or "device unplugged"; it stays until the next
// failure or ClearLastError.
//
// Unchanged blocks: a device that reports kCapFlashCrc is asked for the CRC32 of each 4 KB piece of the
// aligned 128 KB window that a whole-piece write falls in, once per DFU session and after every failure;
// a whole piece whose CRC32 is already the data's is not written. Partial writes and the flag word are
// always written; a query that fails falls back to writing, and no further query is made in that DFU
// session. Devices without the capability are never asked.
#pragma once

#include "device/ZelHidApi.h"
#include "device/zelhid/DeviceLock.h"
#include "device/zelhid/HidTransport.h"
#include "device/zelhid/Protocol.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// Timeouts of the exchanges, in milliseconds (docs/protocol.md).
struct ProtocolTimeouts {
    uint32_t nReportWriteMs = 1000;  // one report out
    uint32_t nShortMs = 1000;        // answer to IDENTIFY, STATUS, FLASH_ID, FLASH_CONFIG
    uint32_t nModeSwitchMs = 5000;   // answer to ENTER_DFU, LEAVE_DFU, LOAD_PATCH
    uint32_t nWriteMs = 5000;        // answer to FLASH_WRITE after its last data report
    uint32_t nReadMs = 2000;         // first answer to FLASH_READ
    uint32_t nDataMs = 1000;         // each further report of a read
    uint32_t nAvailableMs = 500;     // the STATUS probe of IsDeviceAvailable
};

class CZelHidDevice final : public CZelUsbDevice {
public:
    // fileLock: the interface's lock across processes, shared by the objects of its path (null: one of
    // its own on info.strPath).
    CZelHidDevice(const HidInterfaceInfo& info, std::unique_ptr<IHidLink> link, std::shared_ptr<std::mutex> pathLock,
                  const ProtocolTimeouts& timeouts = {}, std::shared_ptr<CDeviceLock> fileLock = nullptr);
    ~CZelHidDevice() override;
    // How to reach the device again when its link fails because it re-enumerated (null: never).
    void SetReopen(std::function<std::unique_ptr<IHidLink>()> reopen) { m_reopen = std::move(reopen); }

    // Asks the device who it is; false when it does not answer the protocol.
    bool Identify();
    // Identity again, unless an operation is running on the interface right now.
    void RefreshIfIdle();
    void Close();
    bool IsClosed() const { return m_bClosed.load(); }
    bool IsLinkConnected();
    const std::string& TransportPath() const { return m_strPath; }
    std::mutex& InterfaceLock() { return *m_pLock; }

    uint16_t GetVendorID() override;
    uint16_t GetProductID() override;
    uint16_t GetVersion() override;
    uint32_t GetSubVersion() override;
    uint16_t GetChipsetType() override;
    const char16_t* GetProductString() override;
    const char16_t* GetDevicePath() override;
    bool IsHidDfuSupported() override;
    bool IsHidDfuBootLoaderSupported() override;
    bool IsDeviceAvailable() override;
    bool SwitchToDfuMode() override;
    bool LoadDfuPatch(const uint8_t* pData, uint32_t nLength) override;
    bool SwitchToNormalMode() override;
    bool DetectFlash() override;
    bool IsFlashRedetectNeeded() override;
    uint16_t GetDefaultSerialNumberAddr() override;
    bool WriteFlash(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify) override;
    bool WriteFlashFlag(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify) override;
    bool ReadFlash(uint32_t nOffset, uint32_t& nLength, uint8_t* pBuffer) override;

    // 0: this program may use the device; else the process id of the program that held it at the last
    // exchange refused here (-1 when its id cannot be had).
    int HeldBy() const { return m_nHeldBy.load(); }
    // The same, asked now without an exchange (0 also while this program is using it).
    int ProbeHeldBy();
    const std::u16string& SerialNumber() const { return m_strSerial; }

    // The status of the last answer the device gave (for diagnostics and tests).
    uint8_t LastStatus() const { return m_nLastStatus.load(); }
    std::string LastError() const;
    void ClearLastError();
    // Whole pieces that writes found unchanged and did not send, since the object was made.
    uint32_t SkippedPieces() const { return m_nSkipped.load(); }

    static constexpr uint32_t kCrcPiece = 4096;
    static constexpr uint32_t kCrcWindowPieces = 32;  // 128 KB

private:
    struct Request {
        const char* pszExchange = "";  // how a failure names it; with bAt, " at 0x<arg0>" follows
        bool bAt = false;
        uint8_t nCommand = 0;
        uint32_t arg0 = 0, arg1 = 0;
        uint16_t arg3 = 0;              // flags
        const uint8_t* pOut = nullptr;  // OUT transfer bytes (CRC32 in arg2)
        uint32_t nOut = 0;
        const uint8_t* pInline = nullptr;  // command parameters when there is no OUT transfer
        size_t nInline = 0;
        uint32_t nTimeoutMs = 0;
        uint8_t* pIn = nullptr;  // IN transfer buffer and its capacity
        uint32_t nInCapacity = 0;
    };
    struct Reply {
        zelproto::ResponseHeader header;
        uint8_t inlineData[zelproto::kInlineSize] = {};
        uint32_t nInReceived = 0;
    };

    // One exchange, the interface lock held. False on any failure of the link, a stale or malformed
    // answer stream, or a status other than ST_OK (reply.header.nStatus tells which), with the last
    // error recorded and what was known of the pieces' CRC32s forgotten.
    bool Transact(const Request& req, Reply& reply);
    bool Exchange(const Request& req, Reply& reply);
    // After a failed exchange: the link is lost while the object is still in use, and a new one was
    // found (the device came back from re-enumerating).
    bool Reopened();
    bool WriteReport(const uint8_t* pReport);
    bool AwaitResponse(const Request& req, uint8_t nSeq, Reply& reply);
    bool ReceiveData(const Request& req, uint8_t nSeq, Reply& reply);
    bool IdentifyLocked();
    bool EnsureFlashReady();
    bool DetectFlashLocked();
    bool Write(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify, bool bProgramOnly);
    bool PieceUnchanged(uint32_t nOffset, const uint8_t* pPiece);
    bool QueryPieceCrcs(uint32_t nBase, uint32_t nCount);
    void ForgetPieces(uint64_t nBegin, uint64_t nEnd);
    void NoteFailure(uint8_t status);
    // Records why the call fails and returns false.
    bool Fail(const std::string& strWhy);
    bool FailExchange(const Request& req, const std::string& strCause);
    bool FailUnplugged();
    bool Usable();
    // Entering or leaving DFU mode: the flash is set up again and the pieces' CRC32s asked again.
    void NewDfuSession();
    // The device's lock for the next exchange (exclusive but for identity exchanges); false (nothing to
    // be sent) while another program has it.
    bool TakeHold(bool bExclusive);
    // After a call: an identity exchange, or an operation that left the device in normal mode, lets go.
    void EndCall();
    friend class CLinkGuard;
    uint8_t NextSeq();

    const std::string m_strPath;
    const std::u16string m_strPath16;
    const std::u16string m_strProduct;
    const bool m_bHasProduct;
    const std::u16string m_strSerial;
    const uint16_t m_nUsbVendorId;
    const uint16_t m_nUsbProductId;
    const ProtocolTimeouts m_timeouts;
    std::shared_ptr<std::mutex> m_pLock;  // guards the link and the fields below it
    std::unique_ptr<IHidLink> m_link;
    std::function<std::unique_ptr<IHidLink>()> m_reopen;
    std::atomic<bool> m_bClosed{false};
    std::atomic<uint8_t> m_nLastStatus{zelproto::ST_OK};
    std::atomic<bool> m_bRedetect{false};
    // ReadFlash: the bytes before the running transfer and the read's whole length (0: no read runs).
    uint32_t m_nReadBase = 0;
    uint32_t m_nReadTotal = 0;
    std::atomic<uint32_t> m_nSkipped{0};
    mutable std::mutex m_errMutex;  // guards m_strLastError
    std::string m_strLastError;
    std::atomic<int> m_nHeldBy{0};
    std::shared_ptr<CDeviceLock> m_pHold;  // guarded by m_pLock

    uint8_t m_nSeq = 0;
    uint8_t m_mode = zelproto::MODE_NORMAL;
    bool m_bFlashReady = false;
    uint32_t m_nCapacity = 0;  // bytes, from the flash setup
    uint32_t m_nSectorSize = 0;

    // What the device reported for the pieces of one window in this DFU session (docs/protocol.md).
    struct PieceCrcs {
        bool bValid = false;  // a window is held
        uint32_t nBase = 0;
        std::array<uint32_t, kCrcWindowPieces> crc{};
        uint32_t nKnown = 0;  // bit i: crc[i] is the piece's contents now
    };
    PieceCrcs m_pieces;
    bool m_bCrcQueriesOff = false;  // a query failed in this DFU session

    mutable std::mutex m_idMutex;  // guards m_identity
    zelproto::Identity m_identity;
};
