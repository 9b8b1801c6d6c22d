// The main window on the headless host, driven the way an operator drives it: select a device in the
// combo, answer the file dialogs with the command's arguments, set the radio buttons and "Update All",
// click Start and wait for the worker while the window's messages are delivered.
#pragma once

#include "cli/CliOptions.h"

#include <QString>
#include <atomic>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

class CCliOutput;
class CConsoleHost;
class CConsoleSession;
class CQuillonDlg;
class CZelUsbDevice;

class CCliWindow {
public:
    CCliWindow(CConsoleHost& host, CConsoleSession& session, CQuillonDlg& dlg, CCliOutput& output,
               const std::atomic<int>& blocks)
        : m_host(host), m_session(session), m_dlg(dlg), m_output(output), m_blocks(blocks)
    {}

    int DeviceCount();
    CZelUsbDevice* DeviceAt(int nIndex);
    QString DevicePath(int nIndex);
    // SEL: an index from `list`, or an interface path (exact, else ignoring case); empty: the first.
    // -1 when there is no such device.
    int FindDevice(const std::string& selector);
    int FindDeviceByPath(const QString& path);
    // The device's USB serial number ("" when it has none).
    std::string DeviceSerial(int nIndex);
    // The devices with this serial number (exactly, else ignoring case).
    std::vector<int> FindDevicesBySerial(const std::string& serial);
    // 0 when no other program holds the device, else its process id (-1: unknown).
    int HeldBy(int nIndex);
    // Blocks written by the last attempt of the last download.
    int BlocksWritten() const;

    // Selects the entry as the operator does (selection change included).
    bool Select(int nIndex);
    // The selected device as the window shows it.
    nlohmann::json Describe(int nIndex);
    // Whether the window lets the operator change "Update All" for this device.
    bool IsUpdateAllOptional(int nIndex);

    // File > Open Image answered with the path. True when the image was read without a message.
    bool OpenImage(const QString& path);
    // Radio button, "Update All" (when given), Start, and the wait for the worker's end. The trace lines
    // and messages of the operation are returned through the output's record.
    void StartOperation(bool bUpload, std::optional<bool> bUpdateAll);
    // The controls read into the fields, as Start does before the worker runs.
    void StoreControls(bool bUpload, std::optional<bool> bUpdateAll);
    // Device notices delivered to the idle window, which traces each arrival and removal, until a signal
    // or, with nSeconds, until that time has passed.
    void Watch(unsigned nSeconds);

    CQuillonDlg& Dlg() { return m_dlg; }
    CConsoleSession& Session() { return m_session; }
    CCliOutput& Output() { return m_output; }

private:
    void SetControls(bool bUpload, std::optional<bool> bUpdateAll);
    void WaitForWorker();

    CConsoleHost& m_host;
    CConsoleSession& m_session;
    CQuillonDlg& m_dlg;
    CCliOutput& m_output;
    const std::atomic<int>& m_blocks;
};

// Builds the environment (device backend, notices, preferences with the command line's overrides,
// the profile reader, the clock), runs the main window on the headless host and calls body once the
// window is initialised; the window then ends as Escape ends it. Returns body's exit status.
// bShowCensus: print the start-up trace (it is logged either way).
int RunWithWindow(const CliOptions& options, CCliOutput& output, bool bShowCensus,
                  const std::function<int(CCliWindow&)>& body);

// The emulator folder in force: --sim, else QUILLON_SIM_DIR; empty for real devices.
std::string EffectiveSimDir(const CliOptions& options);
