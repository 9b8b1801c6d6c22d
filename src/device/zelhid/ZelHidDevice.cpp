#include "device/zelhid/ZelHidDevice.h"

#include "device/zelhid/TableMatch.h"
#include "device/zelhid/Utf.h"

#include <algorithm>
#include <chrono>
#include <cstring>

using namespace zelproto;

namespace {

uint32_t RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
}

// A bound on reports read in one wait, so that a device that babbles cannot hold a call forever.
constexpr int kMaxReportsPerWait = 200000;

}  // namespace

// Gives up the link at the end of an operation when the object was released meanwhile.
class CLinkGuard {
public:
    CLinkGuard(std::unique_ptr<IHidLink>& link, const std::atomic<bool>& closed) : m_link(link), m_closed(closed) {}
    ~CLinkGuard()
    {
        if (m_closed.load())
            m_link.reset();
    }

private:
    std::unique_ptr<IHidLink>& m_link;
    const std::atomic<bool>& m_closed;
};

CZelHidDevice::CZelHidDevice(const HidInterfaceInfo& info, std::unique_ptr<IHidLink> link,
                             std::shared_ptr<std::mutex> pathLock, const ProtocolTimeouts& timeouts)
    : m_strPath(info.strPath), m_strPath16(Utf8ToUtf16(info.strPath)), m_strProduct(info.strProduct),
      m_bHasProduct(info.bHasProduct && !info.strProduct.empty()), m_timeouts(timeouts), m_pLock(std::move(pathLock)),
      m_link(std::move(link))
{}

CZelHidDevice::~CZelHidDevice() = default;

void CZelHidDevice::Close()
{
    m_bClosed = true;
    std::unique_lock<std::mutex> lock(*m_pLock, std::try_to_lock);
    if (lock.owns_lock())
        m_link.reset();
}

bool CZelHidDevice::IsLinkConnected()
{
    std::unique_lock<std::mutex> lock(*m_pLock, std::try_to_lock);
    if (!lock.owns_lock())
        return !m_bClosed;  // an operation is using it right now
    return !m_bClosed && m_link && m_link->IsConnected();
}

bool CZelHidDevice::Usable()
{
    if (m_bClosed) {
        m_link.reset();
        return false;
    }
    return m_link != nullptr;
}

uint8_t CZelHidDevice::NextSeq()
{
    m_nSeq = m_nSeq == 255 ? 1 : static_cast<uint8_t>(m_nSeq + 1);
    return m_nSeq;
}

// ---- Exchanges ------------------------------------------------------------------------------------

bool CZelHidDevice::WriteReport(const uint8_t* pReport)
{
    return !m_bClosed && m_link->Write(pReport, m_timeouts.nReportWriteMs);
}

bool CZelHidDevice::Transact(const Request& req, Reply& reply)
{
    if (!Usable() || !m_link->IsConnected())
        return false;
    uint8_t report[kReportSize];
    // Whatever is still waiting belongs to an exchange that was given up: drop it.
    for (int i = 0; i < kMaxReportsPerWait; ++i) {
        const int r = m_link->Read(report, 0);
        if (r < 0)
            return false;
        if (r == 0)
            break;
    }
    CommandHeader h;
    h.nSeq = NextSeq();
    h.nCommand = req.nCommand;
    h.arg0 = req.arg0;
    h.arg1 = req.arg1;
    h.arg2 = req.pOut ? Crc32(req.pOut, req.nOut) : 0;
    h.arg3 = req.arg3;
    if (req.pOut)
        EncodeCommand(report, h, req.pOut, std::min<size_t>(req.nOut, kInlineSize));
    else
        EncodeCommand(report, h, req.pInline, req.nInline);
    if (!WriteReport(report))
        return false;
    for (uint32_t offset = kInlineSize; req.pOut && offset < req.nOut; offset += kDataPayload) {
        EncodeData(report, h.nSeq, req.pOut + offset, std::min<size_t>(kDataPayload, req.nOut - offset));
        if (!WriteReport(report))
            return false;
    }
    if (!AwaitResponse(h.nSeq, h.nCommand, req.nTimeoutMs, reply))
        return false;
    m_mode = reply.header.nMode;
    m_nLastStatus = reply.header.nStatus;
    if (reply.header.nStatus != ST_OK)
        return false;
    if (!req.pIn)
        return true;
    if (reply.header.val0 > req.nInCapacity)
        return false;  // more than was asked for: not an answer to this request
    return ReceiveData(h.nSeq, reply.header.val0, reply.header.val1, req.pIn, reply);
}

bool CZelHidDevice::AwaitResponse(uint8_t nSeq, uint8_t nCommand, uint32_t nTimeoutMs, Reply& reply)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    uint8_t report[kReportSize];
    for (int i = 0; i < kMaxReportsPerWait; ++i) {
        const int r = m_link->Read(report, RemainingMs(deadline));
        if (r <= 0 || m_bClosed)
            return false;
        ResponseHeader h;
        if (DecodeResponse(report, h) && h.nSeq == nSeq && h.nCommand == nCommand) {
            reply.header = h;
            std::memcpy(reply.inlineData, InlinePayload(report), kInlineSize);
            return true;
        }
        // A response or data of an earlier, abandoned exchange: never taken for this one's answer.
    }
    return false;
}

bool CZelHidDevice::ReceiveData(uint8_t nSeq, uint32_t nCount, uint32_t nCrc, uint8_t* pIn, Reply& reply)
{
    uint32_t received = std::min<uint32_t>(nCount, kInlineSize);
    std::memcpy(pIn, reply.inlineData, received);
    uint8_t report[kReportSize];
    int spare = kMaxReportsPerWait;
    while (received < nCount) {
        const int r = m_link->Read(report, m_timeouts.nDataMs);
        if (r <= 0 || m_bClosed || --spare == 0)
            return false;
        if (!IsDataReport(report) || DataSeq(report) != nSeq)
            continue;
        const uint32_t n = std::min<uint32_t>(kDataPayload, nCount - received);
        std::memcpy(pIn + received, DataPayload(report), n);
        received += n;
    }
    reply.nInReceived = received;
    return Crc32(pIn, nCount) == nCrc;
}

void CZelHidDevice::NoteFailure(uint8_t status)
{
    switch (status) {
    case ST_FLASH_ID_FAILED:
    case ST_FLASH_MISMATCH:
        m_bFlashReady = false;
        m_bRedetect = true;
        break;
    case ST_FLASH_ERROR:
    case ST_VERIFY_FAILED:
        m_bRedetect = true;
        break;
    case ST_WRONG_MODE:
        m_bFlashReady = false;
        break;
    default:
        break;
    }
}

// ---- Identity -------------------------------------------------------------------------------------

bool CZelHidDevice::IdentifyLocked()
{
    Request req;
    req.nCommand = CMD_IDENTIFY;
    req.nTimeoutMs = m_timeouts.nShortMs;
    Reply reply;
    if (!Transact(req, reply))
        return false;
    const Identity id = DecodeIdentity(reply.inlineData);
    std::lock_guard<std::mutex> lock(m_idMutex);
    m_identity = id;
    return true;
}

bool CZelHidDevice::Identify()
{
    std::lock_guard<std::mutex> lock(*m_pLock);
    CLinkGuard guard(m_link, m_bClosed);
    return IdentifyLocked();
}

void CZelHidDevice::RefreshIfIdle()
{
    std::unique_lock<std::mutex> lock(*m_pLock, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    CLinkGuard guard(m_link, m_bClosed);
    IdentifyLocked();
}

uint16_t CZelHidDevice::GetVendorID()
{
    std::lock_guard<std::mutex> lock(m_idMutex);
    return m_identity.nVendorId;
}

uint16_t CZelHidDevice::GetProductID()
{
    std::lock_guard<std::mutex> lock(m_idMutex);
    return m_identity.nProductId;
}

uint16_t CZelHidDevice::GetVersion()
{
    std::lock_guard<std::mutex> lock(m_idMutex);
    return static_cast<uint16_t>(m_identity.nVersion);
}

uint32_t CZelHidDevice::GetSubVersion()
{
    std::lock_guard<std::mutex> lock(m_idMutex);
    return m_identity.nSubVersion;
}

uint16_t CZelHidDevice::GetChipsetType()
{
    std::lock_guard<std::mutex> lock(m_idMutex);
    return m_identity.nChipsetType;
}

const char16_t* CZelHidDevice::GetProductString()
{
    return m_bHasProduct ? m_strProduct.c_str() : nullptr;
}

const char16_t* CZelHidDevice::GetDevicePath()
{
    return m_strPath16.c_str();
}

bool CZelHidDevice::IsHidDfuSupported()
{
    Identity id;
    {
        std::lock_guard<std::mutex> lock(m_idMutex);
        id = m_identity;
    }
    if (!(id.nCapabilities & kCapHidDfu))
        return false;
    if (id.nCapabilities & kCapBootLoader)
        return true;
    return MatchesDfuPatchInfo(g_pKnownDfuPatchInfos, id.nVendorId, id.nProductId, id.nSubVersion, id.nChipsetType);
}

bool CZelHidDevice::IsHidDfuBootLoaderSupported()
{
    std::lock_guard<std::mutex> lock(m_idMutex);
    return (m_identity.nCapabilities & kCapHidDfu) && (m_identity.nCapabilities & kCapBootLoader);
}

uint16_t CZelHidDevice::GetDefaultSerialNumberAddr()
{
    std::lock_guard<std::mutex> lock(m_idMutex);
    return m_identity.nDefaultSerialAddr;
}

bool CZelHidDevice::IsDeviceAvailable()
{
    if (m_bClosed)
        return false;
    std::unique_lock<std::mutex> lock(*m_pLock, std::try_to_lock);
    if (!lock.owns_lock())
        return true;  // another thread is in an operation with it
    CLinkGuard guard(m_link, m_bClosed);
    Request req;
    req.nCommand = CMD_STATUS;
    req.nTimeoutMs = m_timeouts.nAvailableMs;
    Reply reply;
    return Transact(req, reply);
}

// ---- Modes ----------------------------------------------------------------------------------------

bool CZelHidDevice::SwitchToDfuMode()
{
    std::lock_guard<std::mutex> lock(*m_pLock);
    CLinkGuard guard(m_link, m_bClosed);
    Request req;
    req.nCommand = CMD_ENTER_DFU;
    req.nTimeoutMs = m_timeouts.nModeSwitchMs;
    Reply reply;
    const bool ok = Transact(req, reply) && IsDfuMode(m_mode);
    m_bFlashReady = false;
    return ok;
}

bool CZelHidDevice::LoadDfuPatch(const uint8_t* pData, uint32_t nLength)
{
    if (!pData || nLength == 0 || nLength > kMaxPatchTransfer)
        return false;
    std::lock_guard<std::mutex> lock(*m_pLock);
    CLinkGuard guard(m_link, m_bClosed);
    Request req;
    req.nCommand = CMD_LOAD_PATCH;
    req.arg1 = nLength;
    req.pOut = pData;
    req.nOut = nLength;
    req.nTimeoutMs = m_timeouts.nModeSwitchMs;
    Reply reply;
    const bool ok = Transact(req, reply) && IsDfuMode(m_mode);
    m_bFlashReady = false;
    return ok;
}

bool CZelHidDevice::SwitchToNormalMode()
{
    std::lock_guard<std::mutex> lock(*m_pLock);
    CLinkGuard guard(m_link, m_bClosed);
    Request req;
    req.nCommand = CMD_LEAVE_DFU;
    req.nTimeoutMs = m_timeouts.nModeSwitchMs;
    Reply reply;
    const bool ok = Transact(req, reply);
    m_bFlashReady = false;
    if (!ok)
        return false;
    // The device has booted again: what it reports (version, mode) may have changed.
    IdentifyLocked();
    return m_mode == MODE_NORMAL;
}

// ---- Flash ----------------------------------------------------------------------------------------

bool CZelHidDevice::DetectFlashLocked()
{
    const _FLASH_INFO* pTable = g_pFlashInfo;
    if (!pTable || !Usable())
        return false;
    Request req;
    req.nCommand = CMD_FLASH_ID;
    req.nTimeoutMs = m_timeouts.nShortMs;
    Reply reply;
    if (!Transact(req, reply)) {
        NoteFailure(reply.header.nStatus);
        return false;
    }
    const _FLASH_INFO* pInfo = FindFlashInfo(pTable, reply.header.val0);
    if (!pInfo)
        return false;
    const FlashConfig cfg = FlashConfigOf(*pInfo);
    uint8_t payload[kFlashConfigSize];
    EncodeFlashConfig(payload, cfg);
    Request config;
    config.nCommand = CMD_FLASH_CONFIG;
    config.pInline = payload;
    config.nInline = sizeof payload;
    config.nTimeoutMs = m_timeouts.nShortMs;
    Reply configReply;
    if (!Transact(config, configReply)) {
        NoteFailure(configReply.header.nStatus);
        return false;
    }
    m_bFlashReady = true;
    m_nCapacity = cfg.nCapacityKb * 1024;
    m_nSectorSize = cfg.nSectorSize;
    m_bRedetect = false;
    return true;
}

bool CZelHidDevice::DetectFlash()
{
    std::lock_guard<std::mutex> lock(*m_pLock);
    CLinkGuard guard(m_link, m_bClosed);
    return DetectFlashLocked();
}

bool CZelHidDevice::IsFlashRedetectNeeded()
{
    return m_bRedetect.load();
}

bool CZelHidDevice::EnsureFlashReady()
{
    if (m_bFlashReady)
        return true;
    // With a flash table the chip is always set up from its record.
    if (g_pFlashInfo)
        return DetectFlashLocked();
    Request req;
    req.nCommand = CMD_FLASH_ID;
    req.nTimeoutMs = m_timeouts.nShortMs;
    Reply reply;
    if (!Transact(req, reply)) {
        NoteFailure(reply.header.nStatus);
        return false;
    }
    // Without a table the device uses its standard setup: the capacity its ID code names, 4 KB sectors.
    const uint32_t code = reply.header.val0 & 0xFF;
    m_nCapacity = code >= 0x10 && code <= 0x1A ? 1u << code : 0;
    m_nSectorSize = 4096;
    m_bFlashReady = true;
    return true;
}

bool CZelHidDevice::Write(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify, bool bProgramOnly)
{
    m_bRedetect = false;
    if (m_bClosed || (nLength && !pData) || static_cast<uint64_t>(nOffset) + nLength > 0x100000000ull)
        return false;
    if (nLength == 0)
        return true;
    std::lock_guard<std::mutex> lock(*m_pLock);
    CLinkGuard guard(m_link, m_bClosed);
    if (!Usable() || !EnsureFlashReady())
        return false;
    if (m_nCapacity && static_cast<uint64_t>(nOffset) + nLength > m_nCapacity)
        return false;
    const uint64_t sector = m_nSectorSize ? m_nSectorSize : 4096;
    const uint64_t end = static_cast<uint64_t>(nOffset) + nLength;
    for (uint64_t pos = nOffset; pos < end;) {
        // One transfer stays inside one erase sector and carries at most 4 KB.
        const uint64_t next = std::min({end, (pos / sector + 1) * sector, pos + kMaxWriteTransfer});
        const uint32_t n = static_cast<uint32_t>(next - pos);
        const uint8_t* piece = pData + (pos - nOffset);
        Request req;
        req.nCommand = CMD_FLASH_WRITE;
        req.arg0 = static_cast<uint32_t>(pos);
        req.arg1 = n;
        req.arg3 = (bVerify ? kWriteVerify : 0) | (bProgramOnly ? kWriteProgramOnly : 0);
        req.pOut = piece;
        req.nOut = n;
        req.nTimeoutMs = m_timeouts.nWriteMs;
        Reply reply;
        if (!Transact(req, reply)) {
            NoteFailure(reply.header.nStatus);
            return false;
        }
        // The device read the range back: its checksum must be that of what was sent.
        if (bVerify && reply.header.val1 != Crc32(piece, n)) {
            m_bRedetect = true;
            return false;
        }
        pos = next;
    }
    return true;
}

bool CZelHidDevice::WriteFlash(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify)
{
    return Write(nOffset, nLength, pData, bVerify, false);
}

bool CZelHidDevice::WriteFlashFlag(uint32_t nOffset, uint32_t nLength, const uint8_t* pData, bool bVerify)
{
    return Write(nOffset, nLength, pData, bVerify, true);
}

bool CZelHidDevice::ReadFlash(uint32_t nOffset, uint32_t& nLength, uint8_t* pBuffer)
{
    const uint32_t capacity = nLength;
    nLength = 0;
    m_bRedetect = false;
    if (m_bClosed || (capacity && !pBuffer))
        return false;
    std::lock_guard<std::mutex> lock(*m_pLock);
    CLinkGuard guard(m_link, m_bClosed);
    if (!Usable() || !EnsureFlashReady())
        return false;
    uint32_t delivered = 0;
    while (delivered < capacity) {
        const uint64_t pos = static_cast<uint64_t>(nOffset) + delivered;
        if (pos > 0xFFFFFFFFull)
            break;
        const uint32_t ask = std::min(capacity - delivered, kMaxReadTransfer);
        Request req;
        req.nCommand = CMD_FLASH_READ;
        req.arg0 = static_cast<uint32_t>(pos);
        req.arg1 = ask;
        req.pIn = pBuffer + delivered;
        req.nInCapacity = ask;
        req.nTimeoutMs = m_timeouts.nReadMs;
        Reply reply;
        if (!Transact(req, reply)) {
            NoteFailure(reply.header.nStatus);
            return false;
        }
        delivered += reply.header.val0;
        if (reply.header.val0 < ask)
            break;  // the device has no more: the end of its flash
    }
    nLength = delivered;
    return true;
}
