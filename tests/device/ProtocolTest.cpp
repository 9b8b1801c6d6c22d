#include "device/zelhid/Protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace zelproto;

namespace {

TEST(Protocol, CommandAndResponseRoundTrip)
{
    uint8_t report[kReportSize];
    CommandHeader c;
    c.nSeq = 200;
    c.nCommand = CMD_FLASH_WRITE;
    c.arg0 = 0x12345678;
    c.arg1 = 4096;
    c.arg2 = 0xCAFEBABE;
    c.arg3 = kWriteVerify | kWriteProgramOnly;
    const uint8_t payload[kInlineSize + 5] = {1, 2, 3};
    EncodeCommand(report, c, payload, sizeof payload);  // cut to what fits
    EXPECT_EQ(report[0], kReportIdCommand);
    EXPECT_EQ(report[kReportSize - 1], payload[kInlineSize - 1]);
    CommandHeader back;
    ASSERT_TRUE(DecodeCommand(report, back));
    EXPECT_EQ(back.nVersion, kProtocolVersion);
    EXPECT_EQ(back.nSeq, 200);
    EXPECT_EQ(back.arg0, 0x12345678u);
    EXPECT_EQ(back.arg2, 0xCAFEBABEu);
    EXPECT_EQ(back.arg3, kWriteVerify | kWriteProgramOnly);
    EXPECT_EQ(std::memcmp(InlinePayload(report), payload, kInlineSize), 0);

    ResponseHeader r;
    r.nSeq = 7;
    r.nCommand = CMD_FLASH_READ;
    r.nStatus = ST_VERIFY_FAILED;
    r.nMode = MODE_DFU_PATCH;
    r.val0 = 1;
    r.val1 = 0xFFFFFFFF;
    r.val2 = 3;
    EncodeResponse(report, r, nullptr, 0);
    ResponseHeader rb;
    ASSERT_TRUE(DecodeResponse(report, rb));
    EXPECT_EQ(rb.nSeq, 7);
    EXPECT_EQ(rb.nStatus, ST_VERIFY_FAILED);
    EXPECT_EQ(rb.nMode, MODE_DFU_PATCH);
    EXPECT_EQ(rb.val1, 0xFFFFFFFFu);
    report[1] = kProtocolVersion + 1;
    EXPECT_FALSE(DecodeResponse(report, rb)) << "another protocol version";
    report[0] = kReportIdData;
    EXPECT_FALSE(DecodeCommand(report, back));
}

// One bit flipped anywhere in a command on its way to the device must never read as another command
// of this version: a flipped offset would write a block elsewhere. A flipped version byte still decodes,
// for the device to refuse it as another version.
TEST(Protocol, NoSingleBitFlipPassesAsAnotherCommand)
{
    CommandHeader c;
    c.nSeq = 200;
    c.nCommand = CMD_FLASH_WRITE;
    c.arg0 = 0x3000;
    c.arg1 = 4096;
    c.arg2 = 0xCAFEBABE;
    c.arg3 = kWriteVerify;
    const uint8_t payload[kInlineSize] = {0xAA, 0xAA, 0x55};
    uint8_t sent[kReportSize], report[kReportSize];
    EncodeCommand(sent, c, payload, sizeof payload);
    for (size_t bit = 0; bit < 8 * kReportSize; ++bit) {
        std::memcpy(report, sent, kReportSize);
        report[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        CommandHeader back;
        EXPECT_FALSE(DecodeCommand(report, back) && back.nVersion == kProtocolVersion) << "bit " << bit;
    }
}

TEST(Protocol, BulkReportsCarrySixtyTwoBytes)
{
    uint8_t report[kReportSize];
    std::vector<uint8_t> data(100, 0x5A);
    EncodeData(report, 9, data.data(), 10);
    EXPECT_TRUE(IsDataReport(report));
    EXPECT_EQ(DataSeq(report), 9);
    EXPECT_EQ(DataPayload(report)[9], 0x5A);
    EXPECT_EQ(DataPayload(report)[10], 0) << "the rest is zero";
    EXPECT_GE(kDataPayload, 60u);
    EXPECT_EQ(DataReportCount(0), 0u);
    EXPECT_EQ(DataReportCount(44), 0u);
    EXPECT_EQ(DataReportCount(45), 1u);
    EXPECT_EQ(DataReportCount(44 + 62), 1u);
    EXPECT_EQ(DataReportCount(4096), 66u);
    EXPECT_EQ(DataReportCount(65536), 1057u);
}

TEST(Protocol, IdentityAndFlashSetupRoundTrip)
{
    uint8_t buffer[kInlineSize] = {};
    Identity id;
    id.nVendorId = 0x2fe4;
    id.nProductId = 0x4800;
    id.nVersion = 0x00010100;
    id.nSubVersion = 0x48000010;
    id.nChipsetType = 0x0381;
    id.nDefaultSerialAddr = 0x4000;
    id.nCapabilities = kCapHidDfu;
    id.nMode = MODE_RECOVERY;
    EncodeIdentity(buffer, id);
    const Identity back = DecodeIdentity(buffer);
    EXPECT_EQ(back.nVersion, id.nVersion);
    EXPECT_EQ(back.nChipsetType, id.nChipsetType);
    EXPECT_EQ(back.nCapabilities, id.nCapabilities);
    EXPECT_EQ(back.nMode, MODE_RECOVERY);

    FlashConfig cfg;
    cfg.nJedecId = 0xEF4014;
    cfg.nCapacityKb = 1024;
    cfg.nSectorSize = 4096;
    cfg.nAddressBytes = 3;
    for (int i = 0; i < OP_COUNT; ++i)
        cfg.opcodes[i] = static_cast<uint8_t>(i + 1);
    static_assert(kFlashConfigSize <= kInlineSize);
    EncodeFlashConfig(buffer, cfg);
    const FlashConfig c2 = DecodeFlashConfig(buffer);
    EXPECT_EQ(c2.nJedecId, cfg.nJedecId);
    EXPECT_EQ(c2.nSectorSize, cfg.nSectorSize);
    EXPECT_EQ(std::memcmp(c2.opcodes, cfg.opcodes, OP_COUNT), 0);
}

}  // namespace

namespace {

// No single flipped bit anywhere in a response passes for a response.
TEST(Protocol, EveryFlippedBitOfAResponseIsCaught)
{
    uint8_t report[kReportSize];
    ResponseHeader r;
    r.nSeq = 42;
    r.nCommand = CMD_FLASH_WRITE;
    r.nStatus = ST_VERIFY_FAILED;
    r.val0 = 4096;
    const uint8_t payload[4] = {9, 8, 7, 6};
    EncodeResponse(report, r, payload, sizeof payload);
    ResponseHeader back;
    ASSERT_TRUE(DecodeResponse(report, back));
    for (size_t bit = 0; bit < kReportSize * 8; ++bit) {
        report[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(DecodeResponse(report, back)) << "bit " << bit;
        report[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    }
}

}  // namespace
