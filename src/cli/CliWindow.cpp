#include "cli/CliWindow.h"

#include "app/QuillonApp.h"
#include "app/QuillonDlg.h"
#include "app/Resource.h"
#include "cli/CliOutput.h"
#include "cli/Interrupts.h"
#include "cli/OverridePreferenceStore.h"
#include "compose/ProgramServices.h"
#include "device/ZelHidApi.h"
#include "emulator/SimFolder.h"
#include "emulator/hid/EmulatorBackend.h"
#include "platform/NativePath.h"
#include "platform/PreferenceStore.h"
#include "platform/console/ConsoleHost.h"

#include <chrono>

namespace {

// Both programs share one preference store: the window's application title names it.
const char kAppTitle[] = "Quillon";

QString Utf16(const char16_t* psz)
{
    return psz != nullptr ? QString::fromUtf16(psz) : QString();
}

bool IsIndex(const std::string& text)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// Passes the flows' progress on and counts the blocks the current attempt has written.
class CBlockCounter final : public IProgressObserver {
public:
    explicit CBlockCounter(IProgressObserver& next) : m_next(next) {}
    void OnProgress(uint64_t nDone, uint64_t nTotal) override
    {
        if (nDone == 0)
            m_nBlocks = 0;
        else if (nDone > m_nLastDone)
            ++m_nBlocks;
        m_nLastDone = nDone;
        m_next.OnProgress(nDone, nTotal);
    }
    std::atomic<int> m_nBlocks{0};

private:
    IProgressObserver& m_next;
    uint64_t m_nLastDone = 0;
};

}  // namespace

std::string EffectiveSimDir(const CliOptions& options)
{
    return options.strSimDir.empty() ? SimDirFromEnvironment() : options.strSimDir;
}

int CCliWindow::DeviceCount()
{
    return m_host.ComboGetCount(IDC_DEVICE_COMBO);
}

CZelUsbDevice* CCliWindow::DeviceAt(int nIndex)
{
    return static_cast<CZelUsbDevice*>(m_host.ComboGetItemData(IDC_DEVICE_COMBO, nIndex));
}

QString CCliWindow::DevicePath(int nIndex)
{
    CZelUsbDevice* pDevice = DeviceAt(nIndex);
    return pDevice != nullptr ? Utf16(pDevice->GetDevicePath()) : QString();
}

int CCliWindow::FindDeviceByPath(const QString& path)
{
    const int nCount = DeviceCount();
    for (int i = 0; i < nCount; ++i)
        if (DevicePath(i) == path)
            return i;
    for (int i = 0; i < nCount; ++i)
        if (DevicePath(i).compare(path, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int CCliWindow::FindDevice(const std::string& selector)
{
    const int nCount = DeviceCount();
    if (selector.empty())
        return nCount > 0 ? 0 : -1;
    if (IsIndex(selector)) {
        const int nIndex = std::stoi(selector);
        return nIndex < nCount ? nIndex : -1;
    }
    return FindDeviceByPath(PathFromNative(selector));
}

std::string CCliWindow::DeviceSerial(int nIndex)
{
    CZelUsbDevice* pDevice = DeviceAt(nIndex);
    return pDevice != nullptr ? Utf16(ZelUsbDeviceSerialNumber(pDevice)).toStdString() : std::string();
}

std::vector<int> CCliWindow::FindDevicesBySerial(const std::string& serial)
{
    const QString wanted = QString::fromStdString(serial);
    std::vector<int> exact, folded;
    for (int i = 0; i < DeviceCount(); ++i) {
        const QString own = QString::fromStdString(DeviceSerial(i));
        if (own.isEmpty())
            continue;
        if (own == wanted)
            exact.push_back(i);
        else if (own.compare(wanted, Qt::CaseInsensitive) == 0)
            folded.push_back(i);
    }
    return exact.empty() ? folded : exact;
}

int CCliWindow::HeldBy(int nIndex)
{
    CZelUsbDevice* pDevice = DeviceAt(nIndex);
    return pDevice != nullptr ? ZelUsbDeviceHeldBy(pDevice) : 0;
}

int CCliWindow::BlocksWritten() const
{
    return m_blocks.load();
}

bool CCliWindow::Select(int nIndex)
{
    return m_host.SelectComboItem(IDC_DEVICE_COMBO, nIndex);
}

bool CCliWindow::IsUpdateAllOptional(int nIndex)
{
    Select(nIndex);
    return m_host.IsDlgItemEnabled(IDC_UPDATE_ALL);
}

nlohmann::json CCliWindow::Describe(int nIndex)
{
    Select(nIndex);
    CZelUsbDevice* pDevice = DeviceAt(nIndex);
    auto text = [this](int nId) { return m_host.GetDlgItemText(nId).toStdString(); };
    nlohmann::json device = {
        {"index", nIndex},
        {"path", DevicePath(nIndex).toStdString()},
        {"product", m_host.ComboGetText(IDC_DEVICE_COMBO, nIndex).toStdString()},
        {"serial", DeviceSerial(nIndex)},
        {"vendor_id", text(IDC_DEV_VID)},
        {"product_id", text(IDC_DEV_PID)},
        {"version", text(IDC_DEV_VERSION)},
        {"subversion", text(IDC_DEV_SUBVERSION)},
        {"chipset", text(IDC_DEV_CHIPSET)},
        {"boot_loader", pDevice != nullptr && pDevice->IsHidDfuBootLoaderSupported()},
        {"update_all_optional", m_host.IsDlgItemEnabled(IDC_UPDATE_ALL)},
    };
    // A device another program holds shows only what its USB descriptors say.
    if (const int nHolder = HeldBy(nIndex); nHolder != 0)
        device["held_by"] = nHolder;
    return device;
}

bool CCliWindow::OpenImage(const QString& path)
{
    m_output.TakeSeen();
    m_session.QueueOpenFileAnswer(path);
    m_host.ChooseMenuItem(ID_FILE_OPEN_IMAGE);
    const CCliOutput::Seen seen = m_output.TakeSeen();
    return seen.messages.isEmpty() && m_dlg.m_pImageData != nullptr;
}

void CCliWindow::SetControls(bool bUpload, std::optional<bool> bUpdateAll)
{
    m_host.Click(bUpload ? IDC_UPLOAD : IDC_DOWNLOAD);
    if (bUpdateAll && (m_host.GetCheck(IDC_UPDATE_ALL) != 0) != *bUpdateAll)
        m_host.Click(IDC_UPDATE_ALL);
}

void CCliWindow::StoreControls(bool bUpload, std::optional<bool> bUpdateAll)
{
    SetControls(bUpload, bUpdateAll);
    m_dlg.UpdateData(true);
}

void CCliWindow::StartOperation(bool bUpload, std::optional<bool> bUpdateAll)
{
    SetControls(bUpload, bUpdateAll);
    m_output.TakeSeen();
    CInterruptScope interrupts;
    m_host.Click(IDC_START);
    WaitForWorker();
    m_output.EndProgress();
}

// Device notices and whatever the worker posts are delivered here, on the window's thread, as the
// window's message loop would deliver them. A signal is the operator's close request.
void CCliWindow::WaitForWorker()
{
    while (m_dlg.IsWorkerRunning()) {
        if (TakeInterrupt())
            m_host.RequestClose();
        m_host.DeliverNext(std::chrono::milliseconds(20));
    }
    m_host.PumpMessages();
}

void CCliWindow::Watch(unsigned nSeconds)
{
    CInterruptScope interrupts;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
    while (!TakeInterrupt() && (nSeconds == 0 || std::chrono::steady_clock::now() < end))
        m_host.DeliverNext(std::chrono::milliseconds(100));
    m_host.PumpMessages();
}

int RunWithWindow(const CliOptions& options, CCliOutput& output, bool bShowCensus,
                  const std::function<int(CCliWindow&)>& body)
{
    const std::string simDir = EffectiveSimDir(options);
    if (const std::string problem = simDir.empty() ? std::string() : CheckSimFolder(simDir, !options.strSimDir.empty());
        !problem.empty()) {
        output.Error(problem);
        return kSimFolderExitStatus;
    }
    if (const QString problem = SettingsStoreProblem(QString::fromLatin1(kAppTitle)); !problem.isEmpty())
        output.Error(PrintableText(problem) + "; the stored preferences are not used");
    // One device of a parallel run sees its own device alone (named by its interface path).
    CProgramServices services(simDir, QString::fromLatin1(kAppTitle),
                              options.bJob && !options.deviceList.empty() ? options.deviceList.front() : std::string());
    COverridePreferenceStore prefs(services.Preferences(), options.nMatchPolicy, options.bVerify);
    CQuillonEnv env = services.Env(ReadExecutablePath());
    env.pPrefs = &prefs;
    CBlockCounter blocks(output);
    env.pProgress = &blocks;
    // Without --force an existing file is never replaced, even one that appears while the device is read.
    env.bReplaceConfirmed = options.command == CliCommand::Upload && options.bForce;

    CConsoleSession session;
    session.SetCaption(env.strAppTitle);
    session.SetMessageBoxSink([&output](const QString& text) { output.Message(text); });
    session.SetTraceSink([&output](const QString& text) { output.Trace(text); });
    // Never a question on the terminal: a file dialog that the command did not answer is cancelled.
    session.SetFileAnswerer([](bool, const FileDialogRequest&, QString&) { return false; });

    output.SetTraceShown(bShowCensus && !options.bJob);
    int nExit = EXIT_FAILED;
    CConsoleHostFactory factory(session);
    factory.onCreated = [&](CConsoleHost& host) {
        output.SetTraceShown(true);
        CCliWindow window(host, session, static_cast<CQuillonDlg&>(host.Dialog()), output, blocks.m_nBlocks);
        nExit = body(window);
        host.PressEscape();
    };
    CQuillonApp app;
    app.InitInstance(factory, env);
    return nExit;
}
