#include "device/zelhid/ZelHidDevice.h"

#include "device/zelhid/TableMatch.h"
#include "device/zelhid/Utf.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

using namespace zelproto;

namespace {

uint32_t RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
}

std::string ModeText(uint8_t mode)
{
    return "the device reports mode " + std::to_string(mode) + (mode == MODE_RECOVERY ? " (recovery)" : "");
}

// A bound on reports read in one wait, so that a device that babbles cannot hold a call forever.
constexpr int kMaxReportsPerWait = 200000;

}  // namespace

// At the end of a call: gives up the link when the object was released meanwhile, and the device's
// lock when the call no longer needs it.
class CLinkGuard {
public:
    explicit CLinkGuard(CZelHidDevice& device) : m_device(device) {}
    ~CLinkGuard()
    {
        if (m_device.m_bClosed.load())
            m_device.m_link.reset();
        m_device.EndCall();
    }

private:
    CZelHidDevice& m_device;
};

CZelHidDevice::CZelHidDevice(const HidInterfaceInfo& info, std::unique_ptr<IHidLink> link,
                             std::shared_ptr<std::mutex> pathLock, const ProtocolTimeouts& timeouts,
                             std::shared_ptr<CDeviceLock> fileLock)
    : m_strPath(info.strPath), m_strPath16(Utf8ToUtf16(info.strPath)), m_strProduct(info.strProduct),
      m_bHasProduct(info.bHasProduct && !info.strProduct.empty()), m_strSerial(info.strSerialNumber),
      m_nUsbVendorId(info.nVendorId), m_nUsbProductId(info.nProductId), m_timeouts(timeouts),
      m_pLock(std::move(pathLock)), m_link(std::move(link)),
      m_pHold(fileLock ? std::move(fileLock) : std::make_shared<CDeviceLock>(info.strPath))
{}

CZelHidDevice::~CZelHidDevice()
{
    std::lock_guard<std::mutex> lock(*m_pLock);
    m_pHold->Release(this);
}

void CZelHidDevice::Close()
{
    m_bClosed = true;
    std::unique_lock<std::mutex> lock(*m_pLock, std::try_to_lock);
    if (lock.owns_lock()) {
        m_link.reset();
        m_pHold->Release(this);
    }
}

bool CZelHidDevice::TakeHold(bool bExclusive)
{
    switch (m_pHold->Take(this, bExclusive)) {
    case CDeviceLock::Outcome::Busy: {
        const int nPid = CDeviceLock::HolderPid(m_pHold->File());
        m_nHeldBy = nPid > 0 ? nPid : -1;
        return false;
    }
    case CDeviceLock::Outcome::Taken:
    case CDeviceLock::Outcome::NoFile:
        break;
    }
    m_nHeldBy = 0;
    return true;
}

int CZelHidDevice::ProbeHeldBy()
{
    std::unique_lock<std::mutex> lock(*m_pLock, std::try_to_lock);
    if (!lock.owns_lock() || m_bClosed)
        return 0;
    // Shared: only another program's operation stands in the way, never its identity exchanges.
    const bool bFree = TakeHold(false);
    EndCall();
    return bFree ? 0 : m_nHeldBy.load();
}

void CZelHidDevice::EndCall()
{
    if (m_bClosed || !IsDfuMode(m_mode) || !m_pHold->IsExclusive())
        m_pHold->Release(this);
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

void CZelHidDevice::NewDfuSession()
{
    m_bFlashReady = false;
    m_pieces.bValid = false;
    m_bCrcQueriesOff = false;
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

std::string CZelHidDevice::LastError() const
{
    std::lock_guard<std::mutex> lock(m_errMutex);
    return m_strLastError;
}

void CZelHidDevice::ClearLastError()
{
    std::lock_guard<std::mutex> lock(m_errMutex);
    m_strLastError.clear();
}

bool CZelHidDevice::Fail(const std::string& strWhy)
{
    std::lock_guard<std::mutex> lock(m_errMutex);
    m_strLastError = strWhy;
    return false;
}

bool CZelHidDevice::FailExchange(const Request& req, const std::string& strCause)
{
    if (m_bClosed || !m_link || !m_link->IsConnected())
        return FailUnplugged();
    std::string name = req.pszExchange;
    if (req.bAt) {
        char at[24];
        std::snprintf(at, sizeof at, " at 0x%x", req.arg0);
        name += at;
    }
    return Fail(name + ": " + strCause);
}

bool CZelHidDevice::FailUnplugged()
{
    return Fail("device unplugged");
}

bool CZelHidDevice::Transact(const Request& req, Reply& reply)
{
    if (Exchange(req, reply))
        return true;
    // A device that switched modes on a real bus comes back as a new node: the questions that change
    // nothing on the device are asked again there, never a command that acts.
    const bool bRepeatable = req.nCommand == CMD_IDENTIFY || req.nCommand == CMD_STATUS ||
                             req.nCommand == CMD_FLASH_ID || req.nCommand == CMD_FLASH_CONFIG ||
                             req.nCommand == CMD_FLASH_READ || req.nCommand == CMD_FLASH_CRC;
    if (bRepeatable && Reopened() && Exchange(req, reply))
        return true;
    // What the device holds may have changed in a failed exchange: ask again before skipping anything.
    m_pieces.bValid = false;
    return false;
}

bool CZelHidDevice::Reopened()
{
    if (m_bClosed || !m_link || m_link->IsConnected() || !m_reopen)
        return false;
    std::unique_ptr<IHidLink> link = m_reopen();
    if (!link)
        return false;
    m_link = std::move(link);
    return true;
}

bool CZelHidDevice::Exchange(const Request& req, Reply& reply)
{
    if (!Usable())
        return FailUnplugged();
    // IDENTIFY and STATUS are one report each way with the same answer for anyone: shared.
    const bool bExclusive = req.nCommand != CMD_IDENTIFY && req.nCommand != CMD_STATUS;
    if (!TakeHold(bExclusive))
        return Fail("device in use by another program");
    if (!m_link->IsConnected())
        return FailUnplugged();
    uint8_t report[kReportSize];
    // Whatever is still waiting belongs to an exchange that was given up: drop it.
    for (int i = 0; i < kMaxReportsPerWait; ++i) {
        const int r = m_link->Read(report, 0);
        if (r < 0)
            return FailUnplugged();
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
    auto notSent = [&] {
        return FailExchange(req, "report not sent within " + std::to_string(m_timeouts.nReportWriteMs) + " ms");
    };
    if (!WriteReport(report))
        return notSent();
    for (uint32_t offset = kInlineSize; req.pOut && offset < req.nOut; offset += kDataPayload) {
        EncodeData(report, h.nSeq, req.pOut + offset, std::min<size_t>(kDataPayload, req.nOut - offset));
        if (!WriteReport(report))
            return notSent();
    }
    if (!AwaitResponse(req, h.nSeq, reply))
        return false;
    m_mode = reply.header.nMode;
    m_nLastStatus = reply.header.nStatus;
    if (reply.header.nStatus != ST_OK)
        return FailExchange(req, StatusName(reply.header.nStatus));
    if (!req.pIn)
        return true;
    if (reply.header.val0 > req.nInCapacity)
        return FailExchange(req, "answer longer than asked for");  // not an answer to this request
    return ReceiveData(req, h.nSeq, reply);
}

bool CZelHidDevice::AwaitResponse(const Request& req, uint8_t nSeq, Reply& reply)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(req.nTimeoutMs);
    uint8_t report[kReportSize];
    for (int i = 0; i < kMaxReportsPerWait; ++i) {
        const int r = m_link->Read(report, RemainingMs(deadline));
        if (r < 0 || m_bClosed)
            return FailUnplugged();
        if (r == 0)
            return FailExchange(req, "no answer within " + std::to_string(req.nTimeoutMs) + " ms");
        ResponseHeader h;
        if (DecodeResponse(report, h) && h.nSeq == nSeq && h.nCommand == req.nCommand) {
            reply.header = h;
            std::memcpy(reply.inlineData, InlinePayload(report), kInlineSize);
            return true;
        }
        // A response or data of an earlier, abandoned exchange: never taken for this one's answer.
    }
    return FailExchange(req, "no answer among " + std::to_string(kMaxReportsPerWait) + " reports");
}

bool CZelHidDevice::ReceiveData(const Request& req, uint8_t nSeq, Reply& reply)
{
    const uint32_t nCount = reply.header.val0;
    uint8_t* pIn = req.pIn;
    uint32_t received = std::min<uint32_t>(nCount, kInlineSize);
    std::memcpy(pIn, reply.inlineData, received);
    uint8_t report[kReportSize];
    int spare = kMaxReportsPerWait;
    while (received < nCount) {
        const int r = m_link->Read(report, m_timeouts.nDataMs);
        if (r < 0 || m_bClosed)
            return FailUnplugged();
        if (r == 0 || --spare == 0)
            return FailExchange(req, "data stopped after " + std::to_string(received) + " of " +
                                         std::to_string(nCount) + " bytes");
        if (!IsDataReport(report) || DataSeq(report) != nSeq)
            continue;
        const uint32_t n = std::min<uint32_t>(kDataPayload, nCount - received);
        std::memcpy(pIn + received, DataPayload(report), n);
        received += n;
        if (m_nReadTotal != 0)
            CReadProgressScope::Report(m_nReadBase + received, m_nReadTotal);
    }
    reply.nInReceived = received;
    return Crc32(pIn, nCount) == reply.header.val1 || FailExchange(req, "the data received fails its CRC32");
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
    req.pszExchange = "identify";
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
    CLinkGuard guard(*this);
    if (IdentifyLocked())
        return true;
    if (m_nHeldBy == 0)
        return false;
    // Another program holds the device: listed by what the USB descriptors say, re-read when it is free.
    Identity id;
    id.nVendorId = m_nUsbVendorId;
    id.nProductId = m_nUsbProductId;
    id.nCapabilities = kCapHidDfu | kCapBootLoader;
    std::lock_guard<std::mutex> idLock(m_idMutex);
    m_identity = id;
    return true;
}

void CZelHidDevice::RefreshIfIdle()
{
    std::unique_lock<std::mutex> lock(*m_pLock, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    CLinkGuard guard(*this);
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
        return FailUnplugged();
    std::unique_lock<std::mutex> lock(*m_pLock, std::try_to_lock);
    if (!lock.owns_lock())
        return true;  // another thread is in an operation with it
    CLinkGuard guard(*this);
    Request req;
    req.pszExchange = "status";
    req.nCommand = CMD_STATUS;
    req.nTimeoutMs = m_timeouts.nAvailableMs;
    Reply reply;
    return Transact(req, reply);
}

// ---- Modes ----------------------------------------------------------------------------------------

bool CZelHidDevice::SwitchToDfuMode()
{
    std::lock_guard<std::mutex> lock(*m_pLock);
    CLinkGuard guard(*this);
    Request req;
    req.pszExchange = "enter DFU";
    req.nCommand = CMD_ENTER_DFU;
    req.nTimeoutMs = m_timeouts.nModeSwitchMs;
    Reply reply;
    const bool ok = Transact(req, reply) && (IsDfuMode(m_mode) || FailExchange(req, ModeText(m_mode)));
    NewDfuSession();
    return ok;
}

bool CZelHidDevice::LoadDfuPatch(const uint8_t* pData, uint32_t nLength)
{
    if (!pData || nLength == 0 || nLength > kMaxPatchTransfer)
        return Fail("load patch: " + std::to_string(nLength) + " bytes, not 1 to " + std::to_string(kMaxPatchTransfer));
    std::lock_guard<std::mutex> lock(*m_pLock);
    CLinkGuard guard(*this);
    Request req;
    req.pszExchange = "load patch";
    req.nCommand = CMD_LOAD_PATCH;
    req.arg1 = nLength;
    req.pOut = pData;
    req.nOut = nLength;
    req.nTimeoutMs = m_timeouts.nModeSwitchMs;
    Reply reply;
    const bool ok = Transact(req, reply) && (IsDfuMode(m_mode) || FailExchange(req, ModeText(m_mode)));
    NewDfuSession();
    return ok;
}

bool CZelHidDevice::SwitchToNormalMode()
{
    std::lock_guard<std::mutex> lock(*m_pLock);
    CLinkGuard guard(*this);
    Request req;
    req.pszExchange = "leave DFU";
    req.nCommand = CMD_LEAVE_DFU;
    req.nTimeoutMs = m_timeouts.nModeSwitchMs;
    Reply reply;
    const bool ok = Transact(req, reply);
    NewDfuSession();
    if (!ok)
        return false;
    // The device has booted again: what it reports (version, mode) may have changed.
    IdentifyLocked();
    return m_mode == MODE_NORMAL || FailExchange(req, ModeText(m_mode));
}

// ---- Flash ----------------------------------------------------------------------------------------

bool CZelHidDevice::DetectFlashLocked()
{
    const _FLASH_INFO* pTable = g_pFlashInfo;
    if (!m_bClosed && !pTable)
        return Fail("flash ID: no flash table");
    if (!Usable())
        return FailUnplugged();
    m_pieces.bValid = false;
    Request req;
    req.pszExchange = "flash ID";
    req.nCommand = CMD_FLASH_ID;
    req.nTimeoutMs = m_timeouts.nShortMs;
    Reply reply;
    if (!Transact(req, reply)) {
        NoteFailure(reply.header.nStatus);
        return false;
    }
    const _FLASH_INFO* pInfo = FindFlashInfo(pTable, reply.header.val0);
    if (!pInfo) {
        char why[64];
        std::snprintf(why, sizeof why, "flash ID: 0x%06x is not in the flash table", reply.header.val0);
        return Fail(why);
    }
    const FlashConfig cfg = FlashConfigOf(*pInfo);
    uint8_t payload[kFlashConfigSize];
    EncodeFlashConfig(payload, cfg);
    Request config;
    config.pszExchange = "flash setup";
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
    CLinkGuard guard(*this);
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
    m_pieces.bValid = false;
    Request req;
    req.pszExchange = "flash ID";
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
    if (m_bClosed)
        return FailUnplugged();
    if ((nLength && !pData) || static_cast<uint64_t>(nOffset) + nLength > 0x100000000ull)
        return Fail("write: no data, or a range past 4 GB");
    if (nLength == 0)
        return true;
    std::lock_guard<std::mutex> lock(*m_pLock);
    CLinkGuard guard(*this);
    if (!Usable())
        return FailUnplugged();
    if (!EnsureFlashReady())
        return false;
    if (m_nCapacity && static_cast<uint64_t>(nOffset) + nLength > m_nCapacity) {
        char why[96];
        std::snprintf(why, sizeof why, "write at 0x%x: %u bytes pass the flash's end (%u KB)", nOffset, nLength,
                      m_nCapacity / 1024);
        return Fail(why);
    }
    const uint64_t sector = m_nSectorSize ? m_nSectorSize : 4096;
    const uint64_t end = static_cast<uint64_t>(nOffset) + nLength;
    for (uint64_t pos = nOffset; pos < end;) {
        // One transfer stays inside one erase sector and carries at most 4 KB.
        const uint64_t next = std::min({end, (pos / sector + 1) * sector, pos + kMaxWriteTransfer});
        const uint32_t n = static_cast<uint32_t>(next - pos);
        const uint8_t* piece = pData + (pos - nOffset);
        // A whole piece may already be there; the flag word (program only) is always written.
        const bool bWholePiece = !bProgramOnly && n == kCrcPiece && pos % kCrcPiece == 0;
        if (bWholePiece && PieceUnchanged(static_cast<uint32_t>(pos), piece)) {
            ++m_nSkipped;
            pos = next;
            continue;
        }
        Request req;
        req.pszExchange = "write";
        req.bAt = true;
        req.nCommand = CMD_FLASH_WRITE;
        req.arg0 = static_cast<uint32_t>(pos);
        req.arg1 = n;
        req.arg3 = (bVerify ? kWriteVerify : 0) | (bProgramOnly ? kWriteProgramOnly : 0);
        req.pOut = piece;
        req.nOut = n;
        req.nTimeoutMs = m_timeouts.nWriteMs;
        ForgetPieces(pos, next);
        Reply reply;
        if (!Transact(req, reply)) {
            NoteFailure(reply.header.nStatus);
            return false;
        }
        // The device read the range back: its checksum must be that of what was sent.
        if (bVerify && reply.header.val1 != Crc32(piece, n)) {
            m_bRedetect = true;
            m_pieces.bValid = false;
            return FailExchange(req, "verify: the range read back differs");
        }
        // Only a piece the device read back is known to hold the data now.
        if (bWholePiece && bVerify && m_pieces.bValid && pos >= m_pieces.nBase &&
            pos < m_pieces.nBase + static_cast<uint64_t>(kCrcWindowPieces) * kCrcPiece) {
            const uint32_t i = static_cast<uint32_t>((pos - m_pieces.nBase) / kCrcPiece);
            m_pieces.crc[i] = Crc32(piece, n);
            m_pieces.nKnown |= 1u << i;
        }
        pos = next;
    }
    return true;
}

void CZelHidDevice::ForgetPieces(uint64_t nBegin, uint64_t nEnd)
{
    if (!m_pieces.bValid)
        return;
    for (uint32_t i = 0; i < kCrcWindowPieces; ++i) {
        const uint64_t begin = m_pieces.nBase + static_cast<uint64_t>(i) * kCrcPiece;
        if (begin < nEnd && nBegin < begin + kCrcPiece)
            m_pieces.nKnown &= ~(1u << i);
    }
}

bool CZelHidDevice::PieceUnchanged(uint32_t nOffset, const uint8_t* pPiece)
{
    {
        std::lock_guard<std::mutex> lock(m_idMutex);
        if (!(m_identity.nCapabilities & kCapFlashCrc))
            return false;
    }
    if (m_bCrcQueriesOff)
        return false;
    constexpr uint32_t kWindow = kCrcWindowPieces * kCrcPiece;
    const uint32_t base = nOffset / kWindow * kWindow;
    const uint32_t i = (nOffset - base) / kCrcPiece;
    if (!m_pieces.bValid || m_pieces.nBase != base) {
        // The whole window at once: one exchange instead of one per piece.
        uint32_t count = kCrcWindowPieces;
        if (m_nCapacity && m_nCapacity > base)
            count = std::min<uint32_t>(count, (m_nCapacity - base) / kCrcPiece);
        if (!QueryPieceCrcs(base, count))
            return false;
    } else if (!(m_pieces.nKnown >> i & 1)) {
        if (!QueryPieceCrcs(nOffset, 1))
            return false;
    }
    return (m_pieces.nKnown >> i & 1) && m_pieces.crc[i] == Crc32(pPiece, kCrcPiece);
}

// FLASH_CRC for nCount pieces from nOffset. A failure is no failure of the write: it falls back to
// writing, keeps the last error as it was and asks no more in this DFU session.
bool CZelHidDevice::QueryPieceCrcs(uint32_t nOffset, uint32_t nCount)
{
    uint8_t answer[kCrcWindowPieces * 4];
    Request req;
    req.pszExchange = "CRC query";
    req.bAt = true;
    req.nCommand = CMD_FLASH_CRC;
    req.arg0 = nOffset;
    req.arg1 = nCount * kCrcPiece;
    req.arg3 = static_cast<uint16_t>(kCrcPiece);
    req.nTimeoutMs = m_timeouts.nReadMs;
    req.pIn = answer;
    req.nInCapacity = nCount * 4;
    const std::string before = LastError();
    Reply reply;
    if (nCount == 0 || !Transact(req, reply) || reply.nInReceived != nCount * 4) {
        Fail(before);
        m_bCrcQueriesOff = true;
        m_pieces.bValid = false;
        return false;
    }
    constexpr uint32_t kWindow = kCrcWindowPieces * kCrcPiece;
    const uint32_t base = nOffset / kWindow * kWindow;
    if (!m_pieces.bValid || m_pieces.nBase != base) {
        m_pieces = PieceCrcs{};
        m_pieces.bValid = true;
        m_pieces.nBase = base;
    }
    for (uint32_t k = 0; k < nCount; ++k) {
        const uint32_t i = (nOffset - base) / kCrcPiece + k;
        m_pieces.crc[i] = GetLe32(answer + 4 * k);
        m_pieces.nKnown |= 1u << i;
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
    if (m_bClosed)
        return FailUnplugged();
    if (capacity && !pBuffer)
        return Fail("read: no buffer");
    std::lock_guard<std::mutex> lock(*m_pLock);
    CLinkGuard guard(*this);
    if (!Usable())
        return FailUnplugged();
    if (!EnsureFlashReady())
        return false;
    uint32_t delivered = 0;
    while (delivered < capacity) {
        const uint64_t pos = static_cast<uint64_t>(nOffset) + delivered;
        if (pos > 0xFFFFFFFFull)
            break;
        const uint32_t ask = std::min(capacity - delivered, kMaxReadTransfer);
        Request req;
        req.pszExchange = "read";
        req.bAt = true;
        req.nCommand = CMD_FLASH_READ;
        req.arg0 = static_cast<uint32_t>(pos);
        req.arg1 = ask;
        req.pIn = pBuffer + delivered;
        req.nInCapacity = ask;
        req.nTimeoutMs = m_timeouts.nReadMs;
        Reply reply;
        m_nReadBase = delivered;
        m_nReadTotal = capacity;
        const bool bRead = Transact(req, reply);
        m_nReadTotal = 0;
        if (!bRead) {
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
