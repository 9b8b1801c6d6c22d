// A device object of the library: one served HID interface, spoken to over the report protocol.
//
// Locking: every operation holds the interface's lock (shared by all objects of the same path) for
// its whole exchange, so calls from two threads never interleave on the wire. Identity queries use
// a small lock of their own and never wait for an exchange.
//
// Release: Close() marks the object closed at once (IsDeviceAvailable false, every operation false),
// makes a running operation stop at its next report and gives up the link. The backend keeps closed
// objects until ReleaseZelUsbDevices, so a pointer the program still holds never dangles.
#pragma once

#include "device/ZelHidApi.h"
#include "device/zelhid/HidTransport.h"
#include "device/zelhid/Protocol.h"

#include <atomic>
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
    CZelHidDevice(const HidInterfaceInfo& info, std::unique_ptr<IHidLink> link, std::shared_ptr<std::mutex> pathLock,
                  const ProtocolTimeouts& timeouts = {});
    ~CZelHidDevice() override;

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

    // The status of the last answer the device gave (for diagnostics and tests).
    uint8_t LastStatus() const { return m_nLastStatus.load(); }

private:
    struct Request {
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
    // answer stream, or a status other than ST_OK (reply.header.nStatus tells which).
    bool Transact(const Request& req, Reply& reply);
    bool WriteReport(const uint8_t* pReport);
    bool AwaitResponse(uint8_t nSeq, uint8_t nCommand, uint32_t nTimeoutMs, Reply& reply);
    bool ReceiveData(uint8_t nSeq, uint32_t nCount, uint32_t nCrc, uint8_t* pIn, Reply& reply);
    bool IdentifyLocked();
    bool EnsureFlashReady();
    bool DetectFlashLocked();
    bool Write(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify, bool bProgramOnly);
    void NoteFailure(uint8_t status);
    bool Usable();
    uint8_t NextSeq();

    const std::string m_strPath;
    const std::u16string m_strPath16;
    const std::u16string m_strProduct;
    const bool m_bHasProduct;
    const ProtocolTimeouts m_timeouts;
    std::shared_ptr<std::mutex> m_pLock;  // guards the link and the fields below it
    std::unique_ptr<IHidLink> m_link;
    std::atomic<bool> m_bClosed{false};
    std::atomic<uint8_t> m_nLastStatus{zelproto::ST_OK};
    std::atomic<bool> m_bRedetect{false};

    uint8_t m_nSeq = 0;
    uint8_t m_mode = zelproto::MODE_NORMAL;
    bool m_bFlashReady = false;
    uint32_t m_nCapacity = 0;  // bytes, from the flash setup
    uint32_t m_nSectorSize = 0;

    mutable std::mutex m_idMutex;  // guards m_identity
    zelproto::Identity m_identity;
};
