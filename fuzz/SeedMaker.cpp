// Makes the seed inputs of the two device targets by recording real exchanges: the host's calls
// against emulated devices, through a link that writes down every report in both directions.
//   quillon-fuzz-seeds RESPONSES_DIR COMMANDS_DIR
// writes one input of each target per device choice and host option set.
#include "FuzzDevices.h"

#include "config/FlashTable.h"
#include "emulator/EmulatedDevice.h"
#include "emulator/hid/EmulatorTransport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>

namespace {

// Passes everything to the emulator's link and records it in the two targets' input forms.
class CRecordingLink final : public IHidLink {
public:
    explicit CRecordingLink(std::unique_ptr<IHidLink> inner) : m_inner(std::move(inner)) {}

    bool Write(const uint8_t* pReport, uint32_t nTimeoutMs) override
    {
        m_commands.push_back(fuzzdev::kAfterNothing);
        m_nLastAfter = m_commands.size() - 1;
        m_commands.insert(m_commands.end(), pReport, pReport + zelproto::kReportSize);
        return m_inner->Write(pReport, nTimeoutMs);
    }
    int Read(uint8_t* pReport, uint32_t nTimeoutMs) override
    {
        const int r = m_inner->Read(pReport, nTimeoutMs);
        if (r == 1) {
            m_responses.push_back(nTimeoutMs == 0 ? fuzzdev::kReportWaiting : 0);
            m_responses.insert(m_responses.end(), pReport, pReport + zelproto::kReportSize);
        }
        if (!m_commands.empty()) {
            uint8_t& after = m_commands[m_nLastAfter];
            if (nTimeoutMs > 0)
                after = fuzzdev::kAfterDrain;
            else if (after == fuzzdev::kAfterNothing)
                after = fuzzdev::kAfterPoll;
        }
        return r;
    }
    bool IsConnected() override { return m_inner->IsConnected(); }

    std::vector<uint8_t> m_commands;
    std::vector<uint8_t> m_responses;

private:
    std::unique_ptr<IHidLink> m_inner;
    size_t m_nLastAfter = 0;
};

bool WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: quillon-fuzz-seeds RESPONSES_DIR COMMANDS_DIR\n");
        return 2;
    }
    const std::filesystem::path responsesDir(argv[1]);
    const std::filesystem::path commandsDir(argv[2]);
    std::filesystem::create_directories(responsesDir);
    std::filesystem::create_directories(commandsDir);

    int nTableParsed = 0;
    _FLASH_INFO* pTable = ParseFlashTableText(fuzzdev::kFlashTableText, nTableParsed);
    // Device choices: plain, other chips, patch device, interrupted flash, no DFU, faults, unplug.
    const uint8_t kChoices[] = {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
    const uint8_t kOptions[] = {fuzzdev::kOptionFlashTable | fuzzdev::kOptionVerify, 0, fuzzdev::kOptionFlashTable};
    bool bOk = true;
    for (uint8_t nChoice : kChoices) {
        for (uint8_t nOptions : kOptions) {
            g_pFlashInfo = (nOptions & fuzzdev::kOptionFlashTable) ? pTable : nullptr;
            auto emulated = std::make_shared<CEmulatedDevice>(fuzzdev::DeviceVariant(nChoice), "");
            HidInterfaceInfo info = DescribeEmulatedDevice("/dev/hidraw-fuzz", *emulated);
            auto recording = std::make_unique<CRecordingLink>(OpenEmulatorLink(emulated));
            CRecordingLink* pRecording = recording.get();
            {
                CZelHidDevice device(info, std::move(recording), std::make_shared<std::mutex>());
                fuzzdev::DriveDevice(device, (nOptions & fuzzdev::kOptionVerify) != 0);
                char name[32];
                std::snprintf(name, sizeof name, "seed-%02x-%02x.bin", nChoice, nOptions);
                std::vector<uint8_t> responses{nOptions};
                responses.insert(responses.end(), pRecording->m_responses.begin(), pRecording->m_responses.end());
                std::vector<uint8_t> commands{nChoice};
                commands.insert(commands.end(), pRecording->m_commands.begin(), pRecording->m_commands.end());
                bOk = WriteFile(responsesDir / name, responses) && bOk;
                bOk = WriteFile(commandsDir / name, commands) && bOk;
            }
        }
    }
    g_pFlashInfo = nullptr;
    std::free(pTable);
    return bOk ? 0 : 1;
}
