// The device side of the protocol, spoken to report by report.
#include "emulator/EmulatedDevice.h"

#include "emulator/SimTestSupport.h"

#include <gtest/gtest.h>

using namespace zelproto;

namespace {

// A device with the defaults of a device file, in memory only (no flash file), on the chip whose timing
// the tests assume.
DeviceDescription Description()
{
    DeviceDescription s;
    s.pChip = FindFlashChipByName("W25Q80DV");
    return s;
}

// A host that speaks the protocol by hand.
class CRawHost {
public:
    explicit CRawHost(CEmulatedDevice& device) : m_device(device), m_link(device.OpenLink()) {}

    int Send(uint8_t command, uint32_t a0 = 0, uint32_t a1 = 0, uint32_t a2 = 0, uint32_t a3 = 0,
             const uint8_t* pInline = nullptr, size_t nInline = 0, uint8_t version = kProtocolVersion)
    {
        const CommandHeader h{version, ++m_seq, command, a0, a1, a2, static_cast<uint16_t>(a3)};
        uint8_t report[kReportSize];
        EncodeCommand(report, h, pInline, nInline);
        return m_device.Write(m_link, report);
    }
    // Sends data reports until one is not taken; returns the device's last answer.
    int SendData(const uint8_t* p, size_t n, uint8_t seq)
    {
        int result = 1;
        for (size_t off = 0; off < n && result == 1; off += kDataPayload) {
            uint8_t report[kReportSize];
            EncodeData(report, seq, p + off, std::min(kDataPayload, n - off));
            result = m_device.Write(m_link, report);
        }
        return result;
    }
    bool Response(ResponseHeader& h, uint32_t timeoutMs = 10000)
    {
        uint8_t report[kReportSize];
        while (m_device.Read(m_link, report, timeoutMs) == 1)
            if (DecodeResponse(report, h) && h.nSeq == m_seq)
                return true;
        return false;
    }
    uint8_t Status(uint32_t timeoutMs = 10000)
    {
        ResponseHeader h;
        return Response(h, timeoutMs) ? h.nStatus : 0xFF;
    }
    uint8_t Seq() const { return m_seq; }
    // Switches to DFU mode and identifies the flash chip, as every write needs.
    void EnterDfu()
    {
        Send(CMD_ENTER_DFU);
        ASSERT_EQ(Status(), ST_OK);
        Send(CMD_FLASH_ID);
        ASSERT_EQ(Status(), ST_OK);
    }

private:
    CEmulatedDevice& m_device;
    uint64_t m_link;
    uint8_t m_seq = 0;
};

// What is not an exchange of its protocol: another version and an unknown command are refused, data
// of another exchange ignored.
TEST(EmulatedDevice, RefusesOtherVersionsAndCommandsAndIgnoresStrayData)
{
    CEmulatedDevice device(Description(), "");
    CRawHost host(device);
    host.Send(CMD_IDENTIFY, 0, 0, 0, 0, nullptr, 0, 1);
    EXPECT_EQ(host.Status(), ST_VERSION_UNSUPPORTED) << "version 1: commands without a check";
    host.Send(0x7E);
    EXPECT_EQ(host.Status(), ST_UNKNOWN_COMMAND);

    // Data with another sequence number is ignored.
    ASSERT_NO_FATAL_FAILURE(host.EnterDfu());
    const std::vector<uint8_t> data = simtest::Pattern(200, 1);
    ASSERT_EQ(host.Send(CMD_FLASH_WRITE, 0x20000, 200, Crc32(data.data(), 200), 0, data.data(), kInlineSize), 1);
    const uint8_t seq = host.Seq();
    ASSERT_EQ(host.SendData(data.data() + kInlineSize, 62, static_cast<uint8_t>(seq + 7)), 1);  // a stray report
    ResponseHeader h;
    EXPECT_FALSE(host.Response(h, 0)) << "no answer while data is missing";
    ASSERT_EQ(host.SendData(data.data() + kInlineSize, 200 - kInlineSize, seq), 1);
    ASSERT_TRUE(host.Response(h));
    EXPECT_EQ(h.nStatus, ST_OK);
    const std::vector<uint8_t> flash = device.FlashContents();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin() + 0x20000));
}

// A whole-sector write erases while its data is still arriving: its time is that of the link plus
// one page, not link plus erase plus program.
TEST(EmulatedDevice, SectorWriteOverlapsEraseWithTheTransfer)
{
    CEmulatedDevice device(Description(), "");
    CRawHost host(device);
    ASSERT_NO_FATAL_FAILURE(host.EnterDfu());
    const int64_t start = device.NowUs();
    const std::vector<uint8_t> data = simtest::Pattern(4096, 3);
    host.Send(CMD_FLASH_WRITE, 0x1000, 4096, Crc32(data.data(), 4096), kWriteVerify, data.data(), kInlineSize);
    ASSERT_EQ(host.SendData(data.data() + kInlineSize, 4096 - kInlineSize, host.Seq()), 1);
    ASSERT_EQ(host.Status(), ST_OK);
    const int64_t elapsed = device.NowUs() - start;
    const int64_t reports = 1 + DataReportCount(4096);
    EXPECT_GE(elapsed, reports * 1000);
    EXPECT_LT(elapsed, reports * 1000 + 4000) << "erase and programming hide behind the transfer";
}

}  // namespace
