// What the reprogramming tests share: a window host that records every operation in one timeline, an
// in-memory profile, a gate that holds the worker at a chosen point, and a fixture with a main window
// on scripted devices and the fake clock.
#pragma once

#include "app/QuillonDlg.h"
#include "platform/DialogHost.h"
#include "platform/MemoryProfileReader.h"
#include "support/FakeClock.h"
#include "support/FakeZelHid.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Keeps the controls in memory (one drop-down list) and records, from either thread, one line per
// operation: "trace:<text>", "box:<text>", "enable:<id>=<0|1>", "settimer:<id>,<ms>", "killtimer:<id>",
// "combo-delete:<i>", "combo-insert:<i>:<text>", "combo-add:<text>", "combo-sel:<i>", "combo-reset",
// "open-dialog", "save-dialog", "end:<result>".
class CRecordingHost : public IDialogHost {
public:
    CRecordingHost() : m_uiThread(std::this_thread::get_id()) {}

    // Answers of the file dialogs, taken in order; none left: cancelled.
    std::deque<std::pair<bool, QString>> openAnswers, saveAnswers;
    std::vector<FileDialogRequest> saveRequests;
    // Called (outside the host's lock) when a message box is shown, on the thread that shows it.
    std::function<void(const QString&)> onMessageBox;
    bool bTimerRunning = false;

    std::vector<std::string> Events();
    std::vector<std::string> EventsWith(const std::string& prefix);   // the lines after the prefix
    size_t Count(const std::string& event);
    size_t IndexOf(const std::string& event);
    std::vector<std::string> Traces() { return EventsWith("trace:"); }
    std::vector<std::string> Boxes() { return EventsWith("box:"); }
    void ClearEvents();
    // Lists the device as the list's last entry and selects it.
    void AddDevice(CZelUsbDevice* pDevice, const QString& text);

    void SetDlgItemText(int nId, const QString& text) override;
    QString GetDlgItemText(int nId) override;
    void EnableDlgItem(int nId, bool bEnable) override;
    bool IsDlgItemEnabled(int nId) override;
    int GetCheck(int nId) override;
    void SetCheck(int nId, int nCheck) override;
    int ComboGetCount(int) override;
    int ComboAddString(int, const QString& text) override;
    int ComboInsertString(int, int nIndex, const QString& text) override;
    void ComboDeleteString(int, int nIndex) override;
    void ComboResetContent(int) override;
    void ComboSetItemData(int, int nIndex, void* pData) override;
    void* ComboGetItemData(int, int nIndex) override;
    QString ComboGetText(int, int nIndex) override;
    int ComboGetCurSel(int) override;
    void ComboSetCurSel(int, int nIndex) override;
    void EditAppendText(int, const QString& text) override;
    void ProgressSetRange(int, int, int) override {}
    void ProgressSetPos(int, int nPos) override;
    int ProgressGetPos(int) override;
    void EnableMenuItem(int nCommand, bool bEnable) override;
    bool IsMenuItemEnabled(int nCommand) override;
    uint32_t SetTimer(uint32_t nIdEvent, uint32_t nElapseMs) override;
    void KillTimer(uint32_t nIdEvent) override;
    void SetIcon(int, bool) override {}
    void MessageBox(const QString& text) override;
    bool GetOpenFileName(const FileDialogRequest& request, QString& path) override;
    bool GetSaveFileName(const FileDialogRequest& request, QString& path) override;
    int RunModalChild(CDialog&) override { return IDCANCEL; }
    void EndDialog(int nResult) override { Log("end:" + std::to_string(nResult)); }
    void PostMessage(const Message&) override {}
    bool IsUiThread() override { return std::this_thread::get_id() == m_uiThread; }

private:
    struct Entry {
        QString text;
        void* pData = nullptr;
    };
    void Log(const std::string& line);
    bool Answer(std::deque<std::pair<bool, QString>>& answers, QString& path);
    bool Valid(int nIndex) const { return nIndex >= 0 && nIndex < static_cast<int>(m_entries.size()); }

    std::recursive_mutex m_mutex;
    std::thread::id m_uiThread;
    std::vector<std::string> m_events;
    std::map<int, QString> m_texts;
    std::map<int, bool> m_enabled, m_menu;
    std::map<int, int> m_checks;
    std::vector<Entry> m_entries;
    int m_nCurSel = -1;
    int m_nProgressPos = 0;
};

// Quillon.ini in memory, on the same reader rules as the file on disk.
class CIniProfile : public CMemoryProfileReader {
public:
    explicit CIniProfile(QString path) : m_path(std::move(path)) {}
    const QString& Path() const { return m_path; }
    void Set(const QString& section, const QString& key, const QString& value);
    void SetInt(const QString& section, const QString& key, int64_t value);

private:
    QString m_path;
    std::map<QString, std::map<QString, QString>> m_sections;
};

// Holds a thread at a point until the test lets it go; Arrive blocks the arriving thread.
class CGate {
public:
    void Arrive();
    void WaitArrived();
    void Open();

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bArrived = false;
    bool m_bOpen = false;
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

// Records the progress reports.
struct CRecordingProgress : IProgressObserver {
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    void OnProgress(uint64_t nDone, uint64_t nTotal) override { calls.emplace_back(nDone, nTotal); }
};

// A main window on the recording host, with scripted devices, the in-memory profile and the fake clock.
class DfuTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A device that enumeration finds, listed in the window and selected.
    CFakeZelUsbDevice* AddListedDevice(const std::u16string& path = u"/dev/hidraw0");
    // Loads image bytes (a pattern without 0xAA), with 0xAA 0xAA at nFlagAt when it is not negative.
    void LoadImage(int32_t nSize, int32_t nFlagAt = 0x3000);
    std::vector<uint8_t> ImageBytes(uint32_t nOffset, uint32_t nLength) const;
    // Controller names in the configuration, loaded into the window.
    void SetControllerNames(const std::vector<QString>& names);
    // Runs the worker's whole procedure on this thread.
    void RunWorker();
    // A gate that TearDown opens before it waits for the worker, so a failed check never hangs a test.
    CGate& NewGate() { return gates.emplace_back(); }
    size_t CountLog(const std::string& entry);

    CFakeZelHidBackend backend;
    CGatedClock clock;
    CIniProfile profile{QStringLiteral("/nonexistent/Quillon.ini")};
    CQuillonEnv env;
    CRecordingHost host;
    std::deque<CGate> gates;
    std::unique_ptr<CQuillonDlg> dlg;
};

std::vector<uint8_t> Pattern(uint32_t nOffset, uint32_t nLength);
std::string TempPath(const std::string& name);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
