// The HID report protocol between the device library and a device (docs/protocol.md): 64-byte reports,
// a command header with a sequence number, a CRC-16 over every command and response report, status
// codes, CRC32 per transfer.
#pragma once

#include "base/ByteOrder.h"

#include <cstddef>
#include <cstdint>

namespace zelproto {

constexpr uint8_t kProtocolVersion = 2;  // 2: commands carry a check
constexpr size_t kReportSize = 64;       // report ID included

constexpr uint8_t kReportIdCommand = 0x01;  // command (host to device) and response (device to host)
constexpr uint8_t kReportIdData = 0x02;     // bulk data, both directions

constexpr size_t kHeaderSize = 20;                              // command and response header
constexpr size_t kInlineSize = kReportSize - kHeaderSize;       // 44 payload bytes in the command/response report
constexpr size_t kDataHeaderSize = 2;                           // report ID, sequence number
constexpr size_t kDataPayload = kReportSize - kDataHeaderSize;  // 62 payload bytes per bulk report

constexpr uint32_t kMaxWriteTransfer = 4096;   // one flash write transfer: within one erase sector
constexpr uint32_t kMaxReadTransfer = 65536;   // one flash read transfer
constexpr uint32_t kMaxPatchTransfer = 65536;  // one DFU patch

enum Command : uint8_t {
    CMD_IDENTIFY = 0x01,
    CMD_STATUS = 0x02,
    CMD_ENTER_DFU = 0x10,
    CMD_LOAD_PATCH = 0x11,
    CMD_LEAVE_DFU = 0x12,
    CMD_FLASH_ID = 0x20,
    CMD_FLASH_CONFIG = 0x21,
    CMD_FLASH_WRITE = 0x22,
    CMD_FLASH_READ = 0x23,
    CMD_FLASH_CRC = 0x24,  // only to a device that reports kCapFlashCrc
};

enum Status : uint8_t {
    ST_OK = 0x00,
    ST_UNKNOWN_COMMAND = 0x01,
    ST_BAD_PARAMETER = 0x02,
    ST_WRONG_MODE = 0x03,
    ST_CRC_MISMATCH = 0x04,
    ST_REFUSED = 0x05,
    ST_NOT_SUPPORTED = 0x06,
    ST_PATCH_REJECTED = 0x07,
    ST_PATCH_DAMAGED = 0x08,
    ST_FLASH_ID_FAILED = 0x09,
    ST_FLASH_MISMATCH = 0x0A,
    ST_OUT_OF_RANGE = 0x0B,
    ST_VERIFY_FAILED = 0x0C,
    ST_NOT_ERASED = 0x0D,
    ST_FLASH_ERROR = 0x0E,
    ST_SEQUENCE_ERROR = 0x0F,
    ST_VERSION_UNSUPPORTED = 0x10,
};

enum Mode : uint8_t {
    MODE_NORMAL = 0,
    MODE_DFU_BOOTLOADER = 1,
    MODE_DFU_PATCH = 2,
    MODE_RECOVERY = 3,
};

inline bool IsDfuMode(uint8_t mode)
{
    return mode == MODE_DFU_BOOTLOADER || mode == MODE_DFU_PATCH;
}

// Flags of FLASH_WRITE (command arg3).
constexpr uint32_t kWriteVerify = 0x1;
constexpr uint32_t kWriteProgramOnly = 0x2;  // the flag word: program, never erase

// Capability bits of the identity (IDENTIFY response val2).
constexpr uint32_t kCapHidDfu = 0x1;
constexpr uint32_t kCapBootLoader = 0x2;
constexpr uint32_t kCapFlashCrc = 0x4;  // answers FLASH_CRC

// FLASH_CRC: the CRC32 of each piece of a range (arg3 the piece size, 0: the whole range as one piece),
// at most kMaxCrcPieces pieces of at least kMinCrcPiece bytes.
constexpr uint32_t kMaxCrcPieces = 1024;
constexpr uint32_t kMinCrcPiece = 256;

// Command report (ID 1, host to device).
struct CommandHeader {
    uint8_t nVersion = kProtocolVersion;
    uint8_t nSeq = 0;
    uint8_t nCommand = 0;
    uint32_t arg0 = 0;  // offset
    uint32_t arg1 = 0;  // length
    uint32_t arg2 = 0;  // CRC32 of the transfer's OUT bytes
    uint16_t arg3 = 0;  // flags
};

// Response report (ID 1, device to host).
struct ResponseHeader {
    uint8_t nVersion = kProtocolVersion;
    uint8_t nSeq = 0;
    uint8_t nCommand = 0;
    uint8_t nStatus = ST_OK;
    uint8_t nMode = MODE_NORMAL;
    uint32_t val0 = 0;
    uint32_t val1 = 0;
    uint32_t val2 = 0;
};

// Encoders fill all 64 bytes; pInline (up to kInlineSize bytes) goes after the header, the rest is zero.
void EncodeCommand(uint8_t* pReport, const CommandHeader& hdr, const uint8_t* pInline, size_t nInline);
void EncodeResponse(uint8_t* pReport, const ResponseHeader& hdr, const uint8_t* pInline, size_t nInline);
void EncodeData(uint8_t* pReport, uint8_t nSeq, const uint8_t* pPayload, size_t nPayload);
// Decoders check the report ID and the report's check (a CRC-16 over the whole report: bytes 18 and 19
// of a command, 6 and 7 of a response); false for anything else. A response must be of this protocol
// version; a command of another version decodes (its check unknown) so that the device can refuse it.
bool DecodeCommand(const uint8_t* pReport, CommandHeader& hdr);
bool DecodeResponse(const uint8_t* pReport, ResponseHeader& hdr);
// Sets a command report's check over its bytes as they are (EncodeCommand does it).
void SealCommand(uint8_t* pReport);
inline const uint8_t* InlinePayload(const uint8_t* pReport)
{
    return pReport + kHeaderSize;
}
inline uint8_t* InlinePayload(uint8_t* pReport)
{
    return pReport + kHeaderSize;
}
inline bool IsDataReport(const uint8_t* pReport)
{
    return pReport[0] == kReportIdData;
}
inline uint8_t DataSeq(const uint8_t* pReport)
{
    return pReport[1];
}
inline const uint8_t* DataPayload(const uint8_t* pReport)
{
    return pReport + kDataHeaderSize;
}

// Number of bulk data reports that follow the command (or response) report for a transfer of n bytes.
inline uint32_t DataReportCount(uint32_t nBytes)
{
    return nBytes <= kInlineSize ? 0 : static_cast<uint32_t>((nBytes - kInlineSize + kDataPayload - 1) / kDataPayload);
}

uint32_t Crc32(const uint8_t* pData, size_t nLength);
uint32_t Crc32Update(uint32_t crc, const uint8_t* pData, size_t nLength);

using ::GetLe16;
using ::GetLe32;
using ::PutLe16;
using ::PutLe32;

// IDENTIFY response payload (inline bytes of the response).
struct Identity {
    uint16_t nVendorId = 0;
    uint16_t nProductId = 0;
    uint32_t nVersion = 0;
    uint32_t nSubVersion = 0;
    uint16_t nChipsetType = 0;
    uint16_t nDefaultSerialAddr = 0;
    uint32_t nCapabilities = 0;
    uint8_t nMode = MODE_NORMAL;
};
constexpr size_t kIdentitySize = 21;
void EncodeIdentity(uint8_t* p, const Identity& id);
Identity DecodeIdentity(const uint8_t* p);

// FLASH_CONFIG payload: the chip's parameters from the flash table (numbers 1 to 22).
struct FlashConfig {
    uint32_t nJedecId = 0;
    uint32_t nCapacityKb = 0;
    uint32_t nSectorSize = 0;
    uint8_t nAddressBytes = 0;
    uint8_t opcodes[18] = {};
};
constexpr size_t kFlashConfigSize = 4 + 4 + 4 + 1 + 18;
void EncodeFlashConfig(uint8_t* p, const FlashConfig& cfg);
FlashConfig DecodeFlashConfig(const uint8_t* p);

// Positions of the opcodes in FlashConfig::opcodes (flash table numbers 5 to 22).
enum Opcode {
    OP_WREN,
    OP_WRDI,
    OP_RDSR,
    OP_WRSR,
    OP_READ,
    OP_FAST_READ,
    OP_PP,
    OP_SE,
    OP_BE32,
    OP_BE64,
    OP_CE,
    OP_RDID,
    OP_DP,
    OP_RES,
    OP_REMS,
    OP_RDSR2,
    OP_EWSR,
    OP_AAI,
    OP_COUNT
};
static_assert(OP_COUNT == 18, "numbers 5 to 22");

const char* StatusName(uint8_t status);

}  // namespace zelproto
