#include "device/zelhid/Protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace zelproto;

namespace {

// Every bit of the report flipped in turn, and the report tested with it.
template <class Decodes>
void ExpectEveryFlipCaught(const uint8_t* sent, Decodes decodes)
{
    uint8_t report[kReportSize];
    for (size_t bit = 0; bit < 8 * kReportSize; ++bit) {
        std::memcpy(report, sent, kReportSize);
        report[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(decodes(report)) << "bit " << bit;
    }
}

// One bit flipped anywhere in a command on its way to the device must never read as another command
// of this version: a flipped offset would write a block elsewhere. A flipped version byte still decodes,
// for the device to refuse it as another version. No flipped bit of a response passes for a response.
// (Every field's way through encoding and decoding is every exchange's, library to emulator and back.)
TEST(Protocol, NoFlippedBitOfACommandOrResponsePasses)
{
    uint8_t report[kReportSize];
    // Version, sequence number, command, offset, length, CRC32, flags.
    const CommandHeader c{
        kProtocolVersion, 200, CMD_FLASH_WRITE, 0x12345678, 4096, 0xCAFEBABE, kWriteVerify | kWriteProgramOnly};
    const std::vector<uint8_t> payload(kInlineSize + 5, 0x7E);
    EncodeCommand(report, c, payload.data(), payload.size());  // cut to what fits
    EXPECT_EQ(report[0], kReportIdCommand);
    EXPECT_EQ(report[kReportSize - 1], payload[kInlineSize - 1]);
    CommandHeader back;
    ASSERT_TRUE(DecodeCommand(report, back));
    ExpectEveryFlipCaught(report, [](const uint8_t* r) {
        CommandHeader h;
        return DecodeCommand(r, h) && h.nVersion == kProtocolVersion;
    });

    // Version, sequence number, command, status, mode, three values.
    const ResponseHeader r{kProtocolVersion, 7, CMD_FLASH_READ, ST_VERIFY_FAILED, MODE_DFU_PATCH, 1, 0xFFFFFFFF, 3};
    const uint8_t inlined[4] = {9, 8, 7, 6};
    EncodeResponse(report, r, inlined, sizeof inlined);
    ResponseHeader rb;
    ASSERT_TRUE(DecodeResponse(report, rb));
    ExpectEveryFlipCaught(report, [&](const uint8_t* p) { return DecodeResponse(p, rb); });
    report[1] = kProtocolVersion + 1;
    EXPECT_FALSE(DecodeResponse(report, rb)) << "another protocol version";
    report[0] = kReportIdData;
    EXPECT_FALSE(DecodeCommand(report, back));
}

TEST(Protocol, BulkReportsCarrySixtyTwoBytes)
{
    uint8_t report[kReportSize];
    std::vector<uint8_t> data(100, 0x5A);
    EncodeData(report, 9, data.data(), 10);
    EXPECT_EQ(DataPayload(report)[10], 0) << "the rest is zero";
    const std::pair<size_t, size_t> counts[] = {{0, 0}, {44, 0}, {45, 1}, {44 + 62, 1}, {4096, 66}, {65536, 1057}};
    for (const auto& [bytes, reports] : counts)
        EXPECT_EQ(DataReportCount(bytes), reports) << bytes;
}

}  // namespace
