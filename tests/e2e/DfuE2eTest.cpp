// Downloads through the whole stack: the main window on the headless host, the device
// library, the emulator's example devices on a scratch copy of examples/sim, and the data files
// (Quillon.ini, zel.dat, DFU patches) beside the programs in the build tree.
#include "app/Resource.h"
#include "emulator/hid/EmulatorBackend.h"
#include "platform/ProfileReader.h"
#include "support/CliRunner.h"
#include "support/WindowFixture.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

using ::testing::Contains;
using ::testing::IsEmpty;

namespace {

// A window, run the way the operator would, on the emulator's example devices in a fresh copy of
// examples/sim (their flash files are made when they are plugged in) and the data files in the build.
class DfuE2eTest : public MainWindowTest, public ::testing::WithParamInterface<ExampleDevice> {
protected:
    ~DfuE2eTest() override
    {
        Close();
        SetZelHidBackend(&backend);
    }

    void Open()
    {
        ASSERT_TRUE(std::filesystem::exists(QUILLON_BINARY_DIR "/bin/zel.dat"));
        m_pBackend = CreateEmulatorBackend(m_scratch.SimDir());
        SetZelHidBackend(m_pBackend.get());
        m_pNotifier = CreateSimFolderNotifier(m_scratch.SimDir());
        env.pNotifier = m_pNotifier.get();
        env.pProfile = m_pProfile.get();
        env.strExecutablePath = QStringLiteral(QUILLON_BINARY_DIR "/bin/Quillon");
        prefs.WriteProfileInt("Options", "MatchPolicy", 0x10F);  // every identity check on
        MainWindowTest::Open();
    }

    std::string Flash(const char* pszStem) const { return ReadFileText(m_scratch.SimDir() + "/" + pszStem + ".flash"); }

    bool Select(const ExampleDevice& device)
    {
        const std::vector<std::string> texts = ListTexts();
        const auto it = std::find(texts.begin(), texts.end(), device.Product());
        return it != texts.end() && host->SelectComboItem(IDC_DEVICE_COMBO, static_cast<int>(it - texts.begin()));
    }

    bool OpenImage(const char* pszImage)
    {
        session.QueueOpenFileAnswer(QString::fromStdString(CCliScratch::ExampleImage(pszImage)));
        return host->ChooseMenuItem(ID_FILE_OPEN_IMAGE) && dlg->m_pImageData != nullptr;
    }

    // A download with "Update All" where it is optional, then the window's loop until the worker has ended
    // (notices are delivered meanwhile).
    void Download()
    {
        host->Click(IDC_DOWNLOAD);
        if (host->IsDlgItemEnabled(IDC_UPDATE_ALL) && host->GetCheck(IDC_UPDATE_ALL) == 0)
            host->Click(IDC_UPDATE_ALL);
        ASSERT_TRUE(host->Click(IDC_START));
        while (dlg->IsWorkerRunning())
            host->DeliverNext(std::chrono::milliseconds(20));
        host->PumpMessages();
    }

    CCliScratch m_scratch;
    std::unique_ptr<IZelHidBackend> m_pBackend;
    std::unique_ptr<IDeviceNotifier> m_pNotifier;
    std::unique_ptr<IProfileReader> m_pProfile = CreateFileProfileReader();
};

}  // namespace

TEST_P(DfuE2eTest, DownloadWritesTheSelectedBlocksAndTheDeviceRunsTheNewFirmware)
{
    const ExampleDevice& device = GetParam();
    Open();
    const std::string before = Flash(device.pszStem);
    ASSERT_TRUE(Select(device));
    ASSERT_TRUE(OpenImage(device.pszImage));

    Download();

    EXPECT_THAT(Boxes(), IsEmpty());
    EXPECT_THAT(Traces(), Contains("Firmware upgrade succeeded....\r\n"));
    EXPECT_EQ(Traces().back(), kInNormal);
    // The selected blocks of the image stand in the flash, the flag word set; the others keep what they held.
    const std::string image = ReadFileText(CCliScratch::ExampleImage(device.pszImage));
    const std::string flash = Flash(device.pszStem);
    ASSERT_GE(flash.size(), 131072u);
    for (size_t k = 0; k < 32; ++k) {
        const bool bWritten = (device.nBlockMask >> k & 1) != 0 && k * 4096 < image.size();
        const std::string want = (bWritten ? image : before).substr(k * 4096, 4096);
        EXPECT_EQ(flash.substr(k * 4096, want.size()), want) << "block " << k;
    }
    EXPECT_EQ(flash.substr(device.nFlagOffset, 2), "\xAA\xAA");
    // Back in normal mode the device runs the new firmware; its refreshed entry shows it.
    ASSERT_TRUE(Select(device));
    EXPECT_EQ(host->GetDlgItemText(IDC_DEV_VERSION).toStdString(), device.pszNewVersion);
    EXPECT_FALSE(dlg->m_bBusy.load());
}

INSTANTIATE_TEST_SUITE_P(Examples, DfuE2eTest, ::testing::ValuesIn(kExampleDevices),
                         [](const auto& info) { return std::string(info.param.pszStem); });
