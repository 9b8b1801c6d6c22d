// What the reprogramming tests share: an in-memory profile, a gate that holds the worker at a chosen
// point, and a fixture with a main window on the headless host, scripted devices and the fake clock.
#pragma once

#include "app/QuillonDlg.h"
#include "platform/console/ConsoleHost.h"
#include "platform/MemoryProfileReader.h"
#include "support/FakeClock.h"
#include "support/FakeZelHid.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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

// A main window on the headless host, with scripted devices, the in-memory profile and the fake clock.
class DfuTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A device that enumeration finds, listed in the window and selected.
    CFakeZelUsbDevice* AddListedDevice(const std::u16string& path = u"/dev/hidraw0");
    void ListDevice(CZelUsbDevice* pDevice, const QString& text);
    std::vector<std::string> ListTexts();
    // Trace texts and message boxes since the window was created or the last ForgetRecords.
    std::vector<std::string> Traces();
    std::vector<std::string> Boxes();
    size_t CountBoxes(const std::string& text);
    void ForgetRecords();
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
    CConsoleSession session;
    std::unique_ptr<CConsoleHost> host;
    std::deque<CGate> gates;
    std::unique_ptr<CQuillonDlg> dlg;

private:
    size_t m_nTraceBase = 0, m_nBoxBase = 0;
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
