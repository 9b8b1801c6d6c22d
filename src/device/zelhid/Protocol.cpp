#include "device/zelhid/Protocol.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace zelproto {

namespace {
void PutInline(uint8_t* pReport, const uint8_t* pInline, size_t nInline)
{
    nInline = std::min(nInline, kInlineSize);
    if (pInline && nInline)
        std::memcpy(pReport + kHeaderSize, pInline, nInline);
}
}  // namespace

namespace {

constexpr size_t kCommandCheckAt = 18;
constexpr size_t kResponseCheckAt = 6;

// CRC-16/CCITT-FALSE of a report with its two check bytes (at nAt) taken as 0. Unlike the transfers'
// CRC32, it covers the header too: one flipped bit must never turn an error status into OK, nor move a
// write to another offset.
uint16_t ReportCheck(const uint8_t* r, size_t nAt)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < kReportSize; ++i) {
        const uint8_t byte = i == nAt || i == nAt + 1 ? 0 : r[i];
        crc ^= static_cast<uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

}  // namespace

void SealCommand(uint8_t* r)
{
    PutLe16(r + kCommandCheckAt, ReportCheck(r, kCommandCheckAt));
}

void EncodeCommand(uint8_t* r, const CommandHeader& h, const uint8_t* pInline, size_t nInline)
{
    std::memset(r, 0, kReportSize);
    r[0] = kReportIdCommand;
    r[1] = h.nVersion;
    r[2] = h.nSeq;
    r[3] = h.nCommand;
    PutLe32(r + 4, h.arg0);
    PutLe32(r + 8, h.arg1);
    PutLe32(r + 12, h.arg2);
    PutLe16(r + 16, h.arg3);
    PutInline(r, pInline, nInline);
    SealCommand(r);
}

void EncodeResponse(uint8_t* r, const ResponseHeader& h, const uint8_t* pInline, size_t nInline)
{
    std::memset(r, 0, kReportSize);
    r[0] = kReportIdCommand;
    r[1] = h.nVersion;
    r[2] = h.nSeq;
    r[3] = h.nCommand;
    r[4] = h.nStatus;
    r[5] = h.nMode;
    PutLe32(r + 8, h.val0);
    PutLe32(r + 12, h.val1);
    PutLe32(r + 16, h.val2);
    PutInline(r, pInline, nInline);
    PutLe16(r + kResponseCheckAt, ReportCheck(r, kResponseCheckAt));
}

void EncodeData(uint8_t* r, uint8_t nSeq, const uint8_t* pPayload, size_t nPayload)
{
    r[0] = kReportIdData;
    r[1] = nSeq;
    nPayload = std::min(nPayload, kDataPayload);
    std::memcpy(r + kDataHeaderSize, pPayload, nPayload);
    if (nPayload < kDataPayload)
        std::memset(r + kDataHeaderSize + nPayload, 0, kDataPayload - nPayload);
}

bool DecodeCommand(const uint8_t* r, CommandHeader& h)
{
    if (r[0] != kReportIdCommand ||
        (r[1] == kProtocolVersion && GetLe16(r + kCommandCheckAt) != ReportCheck(r, kCommandCheckAt)))
        return false;
    h.nVersion = r[1];
    h.nSeq = r[2];
    h.nCommand = r[3];
    h.arg0 = GetLe32(r + 4);
    h.arg1 = GetLe32(r + 8);
    h.arg2 = GetLe32(r + 12);
    h.arg3 = GetLe16(r + 16);
    return true;
}

bool DecodeResponse(const uint8_t* r, ResponseHeader& h)
{
    if (r[0] != kReportIdCommand || r[1] != kProtocolVersion ||
        GetLe16(r + kResponseCheckAt) != ReportCheck(r, kResponseCheckAt))
        return false;
    h.nVersion = r[1];
    h.nSeq = r[2];
    h.nCommand = r[3];
    h.nStatus = r[4];
    h.nMode = r[5];
    h.val0 = GetLe32(r + 8);
    h.val1 = GetLe32(r + 12);
    h.val2 = GetLe32(r + 16);
    return true;
}

uint32_t Crc32Update(uint32_t crc, const uint8_t* pData, size_t nLength)
{
    // zlib takes a 32-bit length; feed larger buffers in pieces.
    while (nLength > 0) {
        const uInt n = static_cast<uInt>(std::min<size_t>(nLength, 1u << 30));
        crc = static_cast<uint32_t>(crc32(crc, pData, n));
        pData += n;
        nLength -= n;
    }
    return crc;
}

uint32_t Crc32(const uint8_t* pData, size_t nLength)
{
    return Crc32Update(static_cast<uint32_t>(crc32(0L, Z_NULL, 0)), pData, nLength);
}

void EncodeIdentity(uint8_t* p, const Identity& id)
{
    PutLe16(p + 0, id.nVendorId);
    PutLe16(p + 2, id.nProductId);
    PutLe32(p + 4, id.nVersion);
    PutLe32(p + 8, id.nSubVersion);
    PutLe16(p + 12, id.nChipsetType);
    PutLe16(p + 14, id.nDefaultSerialAddr);
    PutLe32(p + 16, id.nCapabilities);
    p[20] = id.nMode;
}

Identity DecodeIdentity(const uint8_t* p)
{
    Identity id;
    id.nVendorId = GetLe16(p + 0);
    id.nProductId = GetLe16(p + 2);
    id.nVersion = GetLe32(p + 4);
    id.nSubVersion = GetLe32(p + 8);
    id.nChipsetType = GetLe16(p + 12);
    id.nDefaultSerialAddr = GetLe16(p + 14);
    id.nCapabilities = GetLe32(p + 16);
    id.nMode = p[20];
    return id;
}

void EncodeFlashConfig(uint8_t* p, const FlashConfig& c)
{
    PutLe32(p + 0, c.nJedecId);
    PutLe32(p + 4, c.nCapacityKb);
    PutLe32(p + 8, c.nSectorSize);
    p[12] = c.nAddressBytes;
    std::memcpy(p + 13, c.opcodes, sizeof c.opcodes);
}

FlashConfig DecodeFlashConfig(const uint8_t* p)
{
    FlashConfig c;
    c.nJedecId = GetLe32(p + 0);
    c.nCapacityKb = GetLe32(p + 4);
    c.nSectorSize = GetLe32(p + 8);
    c.nAddressBytes = p[12];
    std::memcpy(c.opcodes, p + 13, sizeof c.opcodes);
    return c;
}

const char* StatusName(uint8_t status)
{
    switch (status) {
    case ST_OK:
        return "ok";
    case ST_UNKNOWN_COMMAND:
        return "unknown command";
    case ST_BAD_PARAMETER:
        return "bad parameter";
    case ST_WRONG_MODE:
        return "wrong mode";
    case ST_CRC_MISMATCH:
        return "CRC mismatch";
    case ST_REFUSED:
        return "refused";
    case ST_NOT_SUPPORTED:
        return "not supported";
    case ST_PATCH_REJECTED:
        return "patch rejected";
    case ST_PATCH_DAMAGED:
        return "patch damaged";
    case ST_FLASH_ID_FAILED:
        return "flash identification failed";
    case ST_FLASH_MISMATCH:
        return "flash mismatch";
    case ST_OUT_OF_RANGE:
        return "out of range";
    case ST_VERIFY_FAILED:
        return "verify failed";
    case ST_NOT_ERASED:
        return "not erased";
    case ST_FLASH_ERROR:
        return "flash error";
    case ST_SEQUENCE_ERROR:
        return "sequence error";
    case ST_VERSION_UNSUPPORTED:
        return "protocol version unsupported";
    default:
        return "unknown status";
    }
}

}  // namespace zelproto
