// A main window on the headless host, scripted devices, an in-memory Quillon.ini and preference store,
// the fake clock and a notifier whose notices the test sends.
#pragma once

#include "app/QuillonDlg.h"
#include "platform/MemoryPreferenceStore.h"
#include "platform/MemoryProfileReader.h"
#include "platform/console/ConsoleHost.h"
#include "support/FakeClock.h"
#include "support/FakeZelHid.h"

#include <gtest/gtest.h>

#include <functional>
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
    std::vector<std::string>* pLog = nullptr;   // "Register", "Unregister"

private:
    std::mutex m_mutex;
    std::function<void(const DeviceNotice&)> m_sink;
};

class MainWindowTest : public ::testing::Test {
protected:
    static constexpr const char* kModuleDir = "/opt/quillon/";

    MainWindowTest();
    ~MainWindowTest() override;

    // Quillon.ini beside the executable: the example file, or the given text.
    void UseExampleIni();
    void SetIni(const std::string& text);

    // Creates the window and runs its initialisation on this thread.
    void Open();
    void Close();
    CConsoleHost& Host() { return *m_pHost; }
    CQuillonDlg& Dlg() { return *m_pDlg; }

    // Delivers a notice as the window would receive it, and the messages it queued.
    void Arrive(const std::u16string& path);
    void Remove(const std::u16string& path);

    QString Text(int nId) { return m_pHost->GetDlgItemText(nId); }
    std::vector<CZelUsbDevice*> Listed();
    std::vector<QString> ListedTexts();
    QString TraceText();
    std::vector<QString> Boxes() { return session.MessageBoxes(); }

    CFakeZelHidBackend backend;
    CMemoryProfileReader profile;
    CMemoryPreferenceStore prefs;
    CFakeClock clock;
    CTestNotifier notifier;
    CConsoleSession session;
    CQuillonEnv env;

private:
    std::unique_ptr<CQuillonDlg> m_pDlg;
    std::unique_ptr<CConsoleHost> m_pHost;
};

// A device with one of the example identities of Quillon.ini.
CFakeZelUsbDevice* PlugZa1200(CFakeZelHidBackend& backend, std::u16string path, bool bListOnly = true);
