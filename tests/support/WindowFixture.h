// The one main-window fixture: the window on the headless host with scripted devices, an in-memory
// Quillon.ini and preference store, the fake clock and a notifier whose notices the test sends.
// DfuTest opens the window at once, for the reprogramming flows.
#pragma once

#include "app/QuillonDlg.h"
#include "app/Resource.h"
#include "platform/MemoryPreferenceStore.h"
#include "platform/MemoryProfileReader.h"
#include "platform/console/ConsoleHost.h"
#include "support/ExampleDevices.h"
#include "support/FakeClock.h"
#include "support/FakeZelHid.h"
#include "support/ThreadGate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Hands the sink to the test, which delivers notices from whatever thread it likes.
class CTestNotifier : public IDeviceNotifier {
public:
    bool Register(std::function<void(const DeviceNotice&)> sink) override;
    void Unregister() override;
    void Notify(unsigned nEvent, const std::u16string& path, unsigned nDeviceType = DBT_DEVTYP_DEVICEINTERFACE);
    void NotifyWithoutRecord(unsigned nEvent);

    bool bRefuse = false;
    int nRegistrations = 0;
    int nUnregistrations = 0;
    std::vector<std::string>* pLog = nullptr;  // "Register", "Unregister"

private:
    std::mutex m_mutex;
    std::function<void(const DeviceNotice&)> m_sink;
};

// Quillon.ini in memory, on the same reader rules as the file on disk, set whole or key by key.
class CIniProfile : public CMemoryProfileReader {
public:
    explicit CIniProfile(QString path) : m_path(std::move(path)) {}
    void SetText(const QByteArray& text) { SetFile(m_path, text); }
    void Set(const QString& section, const QString& key, const QString& value);
    void SetInt(const QString& section, const QString& key, int64_t value);

private:
    QString m_path;
    std::map<QString, std::map<QString, QString>> m_sections;
};

// A clock whose 500 ms pause (the worker's last one) can be held by a gate.
class CGatedClock : public CFakeClock {
public:
    CGate* pFinishGate = nullptr;
    void Sleep(uint32_t nMs) override
    {
        CFakeClock::Sleep(nMs);
        if (nMs == 500 && pFinishGate != nullptr)
            pFinishGate->Arrive();
    }
};

class MainWindowTest : public ::testing::Test {
protected:
    static constexpr const char* kModuleDir = "/opt/quillon/";

    MainWindowTest();
    ~MainWindowTest() override;

    // Quillon.ini beside the executable: the example file, or the given text.
    void UseExampleIni();
    void SetIni(const std::string& text) { profile.SetText(QByteArray::fromStdString(text)); }

    // Creates the window and runs its initialisation on this thread.
    void Open();
    void Close()
    {
        if (host)
            host->Destroy();
        host.reset();
        dlg.reset();
    }
    CConsoleHost& Host() { return *host; }
    CQuillonDlg& Dlg() { return *dlg; }

    // Delivers a notice as the window would receive it, and the messages it queued.
    void Arrive(const std::u16string& path) { Deliver(DBT_DEVICEARRIVAL, path); }
    void Remove(const std::u16string& path) { Deliver(DBT_DEVICEREMOVECOMPLETE, path); }

    QString Text(int nId) { return host->GetDlgItemText(nId); }
    std::vector<CZelUsbDevice*> Listed();
    std::vector<std::string> ListTexts();
    QString TraceText() { return host->GetDlgItemText(IDC_TRACE); }
    // Trace texts and message boxes since the window was created or the last ForgetRecords.
    std::vector<std::string> Traces() { return From(session.TraceTexts(), m_nTraceBase); }
    std::vector<std::string> Boxes() { return From(session.MessageBoxes(), m_nBoxBase); }
    size_t CountBoxes(const std::string& text) { return static_cast<size_t>(std::ranges::count(Boxes(), text)); }
    void ForgetRecords()
    {
        m_nTraceBase = session.TraceTexts().size();
        m_nBoxBase = session.MessageBoxes().size();
    }
    size_t CountLog(const std::string& entry) { return static_cast<size_t>(std::ranges::count(backend.log, entry)); }

    // A device with an example identity that enumeration lists (or, with bListed false, only an
    // arrival hands out).
    CFakeZelUsbDevice* PlugExample(const ExampleDevice& example, std::u16string path, bool bListed = true);

    CFakeZelHidBackend backend;
    CIniProfile profile{QString::fromUtf8(kModuleDir) + QStringLiteral("Quillon.ini")};
    CMemoryPreferenceStore prefs;
    CGatedClock clock;
    CTestNotifier notifier;
    CConsoleSession session;
    CQuillonEnv env;
    std::unique_ptr<CQuillonDlg> dlg;
    std::unique_ptr<CConsoleHost> host;

private:
    static std::vector<std::string> From(const std::vector<QString>& texts, size_t nBase);
    void Deliver(unsigned nEvent, const std::u16string& path)
    {
        notifier.Notify(nEvent, path);
        host->PumpMessages();
    }
    size_t m_nTraceBase = 0, m_nBoxBase = 0;
};

// Records the progress reports.
struct CRecordingProgress : IProgressObserver {
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    void OnProgress(uint64_t nDone, uint64_t nTotal) override { calls.emplace_back(nDone, nTotal); }
};

// The window open at once with "Download" and "Update All" checked, for the reprogramming flows.
class DfuTest : public MainWindowTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A device that enumeration finds, listed in the window and selected.
    CFakeZelUsbDevice* AddListedDevice(const std::u16string& path = u"/dev/hidraw0");
    void ListDevice(CZelUsbDevice* pDevice, const QString& text);
    // Loads image bytes (a pattern without 0xAA), with 0xAA 0xAA at nFlagAt when it is not negative.
    void LoadImage(int32_t nSize, int32_t nFlagAt = 0x3000);
    std::vector<uint8_t> ImageBytes(uint32_t nOffset, uint32_t nLength) const
    {
        return std::vector<uint8_t>(dlg->m_pImageData + nOffset, dlg->m_pImageData + nOffset + nLength);
    }
    // Controller names in the configuration, loaded into the window.
    void SetControllerNames(const std::vector<QString>& names);
    // Runs the worker's whole procedure on this thread.
    void RunWorker();
    // A gate that TearDown opens before it waits for the worker, so a failed check never hangs a test.
    CGate& NewGate() { return gates.emplace_back(); }

    std::deque<CGate> gates;
};

// The trace lines around every operation, and an empty flash table for the library.
inline constexpr const char* kWaitDfu = "Waiting until device is switched to DFU mode!\r\n";
inline constexpr const char* kInDfu = "Device is switched to DFU mode successfully!\r\n";
inline constexpr const char* kWaitNormal = "Waiting until device is switched to normal mode....\r\n";
inline constexpr const char* kInNormal = "Device is switched to normal mode successfully!\r\n";
inline const _FLASH_INFO kFlashTable[2] = {};

std::vector<uint8_t> Pattern(uint32_t nOffset, uint32_t nLength);
std::string TempPath(const std::string& name);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
