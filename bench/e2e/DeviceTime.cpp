#include "DeviceTime.h"

#include "app/QuillonDlg.h"
#include "app/Resource.h"
#include "device/zelhid/HidBackend.h"
#include "emulator/hid/EmulatorTransport.h"
#include "platform/Clock.h"
#include "platform/MemoryPreferenceStore.h"
#include "platform/ProfileReader.h"
#include "platform/console/ConsoleHost.h"

#include <atomic>
#include <chrono>

namespace e2e {

namespace {

// Pauses cost nothing here: the device's clock is what is measured.
class CNoWaitClock final : public IClock {
public:
    uint64_t NowMs() override { return m_now.load(); }
    void Sleep(uint32_t nMs) override { m_now += nMs; }

private:
    std::atomic<uint64_t> m_now{0};
};

}  // namespace

double DownloadDeviceTimeMs(const std::string& strSimDir, const std::string& strImage)
{
    CHidBackend backend(std::make_unique<CEmulatorTransport>(strSimDir));
    IZelHidBackend* pPrevious = SetZelHidBackend(&backend);
    std::unique_ptr<IProfileReader> pProfile = CreateFileProfileReader();
    CMemoryPreferenceStore prefs;
    CNoWaitClock clock;
    CQuillonEnv env;
    env.strExecutablePath = QStringLiteral(QUILLON_BINARY_DIR "/bin/quillon-cli");
    env.strAppTitle = QStringLiteral("Quillon");
    env.pProfile = pProfile.get();
    env.pPrefs = &prefs;
    env.pClock = &clock;

    CConsoleSession session;
    CQuillonDlg dlg(env);
    CConsoleHost host(session, dlg);
    host.Create();
    session.QueueOpenFileAnswer(QString::fromStdString(strImage));
    host.ChooseMenuItem(ID_FILE_OPEN_IMAGE);
    host.SelectComboItem(IDC_DEVICE_COMBO, 0);
    if (host.GetCheck(IDC_UPDATE_ALL) == 0)
        host.Click(IDC_UPDATE_ALL);

    auto& transport = static_cast<CEmulatorTransport&>(backend.Transport());
    std::shared_ptr<CEmulatedDevice> device = transport.Folder().Find(strSimDir + "/bench.json");
    double result = -1;
    if (device) {
        const int64_t start = device->NowUs();
        host.Click(IDC_START);
        while (dlg.IsWorkerRunning())
            host.DeliverNext(std::chrono::milliseconds(1));
        bool bSucceeded = false;
        for (const QString& line : session.TraceTexts())
            bSucceeded = bSucceeded || line == QLatin1String("Firmware upgrade succeeded....\r\n");
        if (bSucceeded && session.MessageBoxes().empty())
            result = static_cast<double>(device->NowUs() - start) / 1000.0;
    }
    host.Destroy();
    SetZelHidBackend(pPrevious);
    g_pFlashInfo = nullptr;
    g_pKnownIDs_NormalMode = nullptr;
    g_pKnownDfuPatchInfos = nullptr;
    return result;
}

}  // namespace e2e
