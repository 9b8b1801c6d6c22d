// list, info, download and upload: the main window's own flows, driven through the headless host.
//
// Outcome of an operation: the flows report only through the trace and message boxes, so that is what
// is judged. A download succeeded when it traced "Firmware upgrade succeeded....\r\n" and showed no
// message box (a message after it, "Device switching to normal mode failed!\r\n", leaves the device in
// DFU mode and counts as a failure); an upload, likewise with "Firmware upload succeeded!\r\n".
#include "app/QuillonDlg.h"
#include "base/HexText.h"
#include "cli/CliCommands.h"
#include "cli/CliOutput.h"
#include "cli/CliWindow.h"
#include "cli/Interrupts.h"
#include "cli/ParallelRun.h"
#include "cli/SystemChecks.h"
#include "device/ZelHidApi.h"
#include "dfu/AdmissionCheck.h"
#include "dfu/BlockProgramming.h"
#include "dfu/MatchPolicy.h"
#include "platform/NativePath.h"
#include "platform/OutputFile.h"
#include "platform/console/ConsoleHost.h"

#include <QCryptographicHash>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <span>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kDownloadSucceeded[] = "Firmware upgrade succeeded....\r\n";
// The download flow's first line once it has passed its checks and goes to the device.
const char kDownloadBegun[] = "Waiting until device is switched to DFU mode!\r\n";
// The window's answer to a close request (a signal) while it works; it says nothing about the operation.
const char kExitRefused[] = "Do NOT exit while DFU is running!";
const char kUploadSucceeded[] = "Firmware upload succeeded!\r\n";

std::string HolderText(int nPid)
{
    return nPid > 0 ? "process " + std::to_string(nPid) : std::string("a process whose id cannot be had");
}

std::string DescribeText(const nlohmann::json& device)
{
    std::ostringstream text;
    text << "No." << device["index"].get<int>() << ": " << device["path"].get<std::string>() << "\n"
         << "  Product:     " << device["product"].get<std::string>() << "\n"
         << "  Vendor ID:   " << device["vendor_id"].get<std::string>() << "\n"
         << "  Product ID:  " << device["product_id"].get<std::string>() << "\n"
         << "  Version:     " << device["version"].get<std::string>() << "\n"
         << "  Subversion:  " << device["subversion"].get<std::string>() << "\n"
         << "  Chipset:     " << device["chipset"].get<std::string>() << "\n"
         << "  Boot loader: " << (device["boot_loader"].get<bool>() ? "yes" : "no") << "\n"
         << "  Update All:  " << (device["update_all_optional"].get<bool>() ? "optional" : "always") << "\n"
         << "  Serial:      " << device["serial"].get<std::string>() << "\n";
    if (device.contains("held_by"))
        text << "  In use by:   " << HolderText(device["held_by"].get<int>()) << "\n";
    return text.str();
}

std::string DeviceName(CCliWindow& window, int nIndex)
{
    return "No." + std::to_string(nIndex) + " (" + window.DevicePath(nIndex).toStdString() + ")";
}

int NoSuchDevice(CCliOutput& output, const std::string& selector)
{
    output.Error(selector.empty() ? std::string("no device found") : "no such device: " + selector);
    return EXIT_NOT_FOUND;
}

bool Succeeded(const CCliOutput::Seen& seen, const char* pszSuccess)
{
    for (const QString& message : seen.messages)
        if (message != QLatin1String(kExitRefused))
            return false;
    return seen.trace.contains(QString::fromLatin1(pszSuccess));
}

// The path as typed, made absolute, its bytes kept.
QString AbsolutePath(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return PathFromNative(ec ? path : absolute.lexically_normal().string());
}

// Why the operation failed: what the device library says of the last call that failed during it (also
// printed, after the window's own lines), else the last message the window showed (a refusal before the
// device was touched, which its message already explains), with its line end cut.
std::string FailureReason(CCliWindow& window, CZelUsbDevice* pDevice, const CCliOutput::Seen& seen)
{
    std::string reason = ZelUsbDeviceLastError(pDevice);
    if (!reason.empty())
        window.Output().Reason(reason);
    for (qsizetype i = seen.messages.size(); reason.empty() && i-- > 0;)
        if (seen.messages[i] != QLatin1String(kExitRefused))
            reason = seen.messages[i].trimmed().toStdString();
    return reason;
}

// One program per device: a device another program holds is refused before anything is sent to it.
bool RefuseHeld(CCliWindow& window, int nIndex, ParallelDevice& device)
{
    device.nHolder = window.HeldBy(nIndex);
    if (device.nHolder == 0)
        return false;
    // One device of a parallel run sees its device alone, so its own index would mislead.
    const std::string name = window.DeviceCount() == 1 && nIndex == 0 ? device.strPath : DeviceName(window, nIndex);
    window.Output().Error("device " + name + " is in use by another program (" + HolderText(device.nHolder) +
                          "); nothing was done");
    device.outcome = DeviceOutcome::Busy;
    device.strReason = "in use by another program (" + HolderText(device.nHolder) + ")";
    return true;
}

ParallelDevice Target(CCliWindow& window, int nIndex)
{
    ParallelDevice device;
    device.nIndex = nIndex;
    device.strPath = window.DevicePath(nIndex).toStdString();
    device.strSerial = window.DeviceSerial(nIndex);
    return device;
}

// The window's messages ("Open file failed!", "Write file failed!") are followed by why.
void UploadOne(CCliWindow& window, ParallelDevice& device, const std::string& file)
{
    const auto start = std::chrono::steady_clock::now();
    window.Select(device.nIndex);
    if (RefuseHeld(window, device.nIndex, device))
        return;
    CZelUsbDevice* pDevice = window.DeviceAt(device.nIndex);
    ZelUsbDeviceClearLastError(pDevice);
    window.Session().QueueSaveFileAnswer(AbsolutePath(file));
    window.StartOperation(true, std::nullopt);
    const CCliOutput::Seen seen = window.Output().TakeSeen();
    for (const char* pszFileMessage : {"Open file failed!", "Write file failed!"})
        if (seen.messages.contains(QLatin1String(pszFileMessage)))
            window.Output().Error(PrintablePath(file) + ": " + LastOutputFileError());
    device.outcome = Succeeded(seen, kUploadSucceeded) ? DeviceOutcome::Succeeded : DeviceOutcome::Failed;
    if (device.outcome != DeviceOutcome::Succeeded)
        device.strReason = FailureReason(window, pDevice, seen);
    device.nDurationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// Refused: the flow ended before it went to the device (the match policy, no block to write).
void DownloadOne(CCliWindow& window, ParallelDevice& device, const std::string& image, std::optional<bool> bUpdateAll)
{
    const auto start = std::chrono::steady_clock::now();
    device.outcome = DeviceOutcome::Failed;
    window.Select(device.nIndex);
    if (RefuseHeld(window, device.nIndex, device))
        return;
    if (!window.OpenImage(AbsolutePath(image))) {
        device.strReason = FailureReason(window, nullptr, window.Output().TakeSeen());
        return;
    }
    CZelUsbDevice* pDevice = window.DeviceAt(device.nIndex);
    ZelUsbDeviceClearLastError(pDevice);
    window.StartOperation(false, bUpdateAll);
    const CCliOutput::Seen seen = window.Output().TakeSeen();
    device.outcome = Succeeded(seen, kDownloadSucceeded)                  ? DeviceOutcome::Succeeded
                     : seen.trace.contains(QLatin1String(kDownloadBegun)) ? DeviceOutcome::Failed
                                                                          : DeviceOutcome::Refused;
    if (device.outcome != DeviceOutcome::Succeeded)
        device.strReason = FailureReason(window, pDevice, seen);
    device.nBlocks = window.BlocksWritten();
    device.nDurationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

nlohmann::json BlocksJson(const std::vector<PlannedBlock>& plan)
{
    nlohmann::json blocks = nlohmann::json::array();
    for (const PlannedBlock& block : plan)
        blocks.push_back({{"block", block.nBlock}, {"offset", block.nOffset}, {"length", block.nLength}});
    return blocks;
}

// "1-3, 5-15 (14 blocks, 57344 bytes)", or "none".
std::string BlockRanges(const std::vector<PlannedBlock>& blocks)
{
    if (blocks.empty())
        return "none";
    std::string text;
    int64_t nBytes = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        nBytes += blocks[i].nLength;
        const int nFirst = blocks[i].nBlock;
        size_t j = i;
        while (j + 1 < blocks.size() && blocks[j + 1].nBlock == blocks[j].nBlock + 1)
            nBytes += blocks[++j].nLength;
        const int nLast = blocks[j].nBlock;
        text +=
            (text.empty() ? "" : ", ") + std::to_string(nFirst) + (nLast != nFirst ? "-" + std::to_string(nLast) : "");
        i = j;
    }
    return text + " (" + std::to_string(blocks.size()) + " blocks, " + std::to_string(nBytes) + " bytes)";
}

// The admission check row by row (each row alone, its message only reported here), then the check and
// the block selection as the download runs them, with their messages. Nothing is sent to the device but
// the identity queries.
bool DryRunOne(CCliWindow& window, int nIndex, const CliOptions& options)
{
    CCliOutput& output = window.Output();
    CQuillonDlg& dlg = window.Dlg();
    window.Select(nIndex);
    if (!window.OpenImage(AbsolutePath(options.strImage)))
        return false;
    window.StoreControls(false, options.bUpdateAll);
    auto* pDevice = window.DeviceAt(nIndex);

    std::ostringstream text;
    text << "Device " << DeviceName(window, nIndex) << "\n";
    nlohmann::json checks = nlohmann::json::array();
    const uint32_t nPolicy = dlg.m_nMatchPolicy;
    const std::vector<MatchVerdict> verdicts =
        MatchVerdicts(nPolicy, dlg.m_ImageInfo, [&](uint32_t nBit) { return DeviceMatchValue(&dlg, pDevice, nBit); });
    const std::span<const MatchPolicyRow> rows = MatchRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        const MatchPolicyRow& row = rows[i];
        const char* pszVerdict = verdicts[i] == MatchVerdict::NotChecked ? "not checked"
                                 : verdicts[i] == MatchVerdict::Pass     ? "pass"
                                                                         : "fail";
        nlohmann::json check = {{"check", row.pszName}, {"bit", HexText(row.nBit, 4)}, {"verdict", pszVerdict}};
        text << "  " << row.pszName << ": " << std::string(13 - std::strlen(row.pszName), ' ') << pszVerdict;
        if (verdicts[i] == MatchVerdict::Fail) {
            check["message"] = row.pszMessage;
            text << " (" << row.pszMessage << ")";
        }
        text << "\n";
        checks.push_back(check);
    }

    const bool bAdmitted = CheckImageMatch(&dlg, pDevice);
    uint32_t nBlockMask = 0;
    int32_t nFlagOffset = 0;
    const bool bSelected = SelectBlocks(&dlg, pDevice, nBlockMask, nFlagOffset);
    const std::vector<PlannedBlock> blocks = PlanBlocks(nBlockMask, dlg.m_nImageSize);
    const bool bFlagWord = FlagProtocolApplies(&dlg, nFlagOffset);
    const bool bOk = bAdmitted && bSelected;

    text << "  Update All:    " << (dlg.m_bUpdateAll ? "yes" : "no") << "\n"
         << "  Block mask:    " << HexText(nBlockMask, 8) << "\n"
         << "  Blocks:        " << BlockRanges(blocks) << "\n";
    text << "  Flag offset:   " << HexText(static_cast<uint32_t>(nFlagOffset), 4)
         << (bFlagWord ? " (flag word 0xAA 0xAA: cleared first, set last)" : " (no flag word written)") << "\n"
         << "  Verdict:       " << (bOk ? "the download would be admitted" : "the download would be refused") << "\n";

    output.Event({{"event", "dry-run"},
                  {"index", nIndex},
                  {"path", window.DevicePath(nIndex).toStdString()},
                  {"match_policy", HexText(nPolicy, 8)},
                  {"checks", checks},
                  {"admitted", bAdmitted},
                  {"update_all", dlg.m_bUpdateAll != 0},
                  {"block_mask", HexText(nBlockMask, 8)},
                  {"blocks", BlocksJson(blocks)},
                  {"bytes", SelectedByteCount(nBlockMask, dlg.m_nImageSize)},
                  {"flag_offset", nFlagOffset},
                  {"flag_word", bFlagWord},
                  {"ok", bOk}},
                 text.str());
    return bOk;
}

// "Update All" may only be asked for where the window lets the operator change it.
bool CheckUpdateAll(CCliWindow& window, const std::vector<int>& indexes, const CliOptions& options)
{
    if (!options.bUpdateAll)
        return true;
    for (int nIndex : indexes) {
        if (!window.IsUpdateAllOptional(nIndex)) {
            window.Output().Error(std::string(*options.bUpdateAll ? "--update-all" : "--no-update-all") +
                                  ": \"Update All\" is not optional for device " + DeviceName(window, nIndex) +
                                  "; the window keeps it checked and disabled, so its boot-loader blocks are "
                                  "always written");
            return false;
        }
    }
    return true;
}

// Early, before the device is touched; the upload flow itself never replaces a file that appears later.
// A link counts as existing, even one that leads nowhere.
bool RefuseExisting(CCliOutput& output, const std::string& path, const char* pszHow)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    output.Error(PrintablePath(path) + " exists; " + pszHow);
    return true;
}

// Real devices are reached through hidraw nodes that the udev rules open to the user.
bool AccessMayBeMissing()
{
    if (FindInstalledUdevRules().empty())
        return true;
    const std::vector<HidrawNode> nodes = ListHidrawNodes("/sys/class/hidraw", "/dev");
    return std::any_of(nodes.begin(), nodes.end(), [](const HidrawNode& node) { return node.bPermissionDenied; });
}

}  // namespace

int RunList(const CliOptions& options, CCliOutput& output)
{
    return RunWithWindow(options, output, false, [&](CCliWindow& window) {
        nlohmann::json devices = nlohmann::json::array();
        std::string text;
        for (int i = 0; i < window.DeviceCount(); ++i) {
            devices.push_back(window.Describe(i));
            text += DescribeText(devices.back());
        }
        if (devices.empty())
            text = "No device found.\n";
        output.Result({{"command", "list"}, {"devices", devices}}, text);
        if (devices.empty() && EffectiveSimDir(options).empty() && AccessMayBeMissing())
            output.Warning("a device may be connected but out of reach (permissions, udev rules): "
                           "`quillon-cli doctor` says what is missing and how to fix it");
        return EXIT_OK;
    });
}

int RunWatch(const CliOptions& options, CCliOutput& output)
{
    return RunWithWindow(options, output, true, [&](CCliWindow& window) {
        window.Watch(options.nWatchSeconds);
        output.Result({{"command", "watch"}}, "");
        return EXIT_OK;
    });
}

namespace {

// The devices a download or upload names (--all, every --device and --serial, each device once), else
// the only one connected: with several and none named nothing is guessed. -1, or the exit status.
int SelectDevices(CCliWindow& window, const CliOptions& options, std::vector<int>& indexes)
{
    CCliOutput& output = window.Output();
    auto add = [&](int nIndex) {
        const QString path = window.DevicePath(nIndex);
        for (int nHave : indexes)
            if (window.DevicePath(nHave).compare(path, Qt::CaseInsensitive) == 0)
                return;
        indexes.push_back(nIndex);
    };
    if (options.bAll)
        for (int i = 0; i < window.DeviceCount(); ++i)
            add(i);
    for (const std::string& selector : options.deviceList) {
        const int nIndex = selector.empty() ? -1 : window.FindDevice(selector);
        if (nIndex < 0)
            return NoSuchDevice(output, selector.empty() ? std::string("\"\"") : selector);
        add(nIndex);
    }
    for (const std::string& serial : options.serialList) {
        const std::vector<int> found = window.FindDevicesBySerial(serial);
        if (found.empty())
            return NoSuchDevice(output, "serial number " + serial);
        if (found.size() > 1) {
            output.Error("serial number " + serial + " is not unique: devices " + DeviceName(window, found[0]) +
                         " and " + DeviceName(window, found[1]) + " carry it; name one with --device");
            return EXIT_USAGE;
        }
        add(found.front());
    }
    if (!indexes.empty())
        return -1;
    if (options.bAll || window.DeviceCount() == 0)
        return NoSuchDevice(output, {});
    if (window.DeviceCount() == 1) {
        indexes.push_back(0);
        return -1;
    }
    std::string text = std::to_string(window.DeviceCount()) +
                       " devices are connected; name one with --device or --serial, or use --all:";
    for (int i = 0; i < window.DeviceCount(); ++i) {
        const std::string serial = window.DeviceSerial(i);
        text +=
            "\n  No." + std::to_string(i) + " " + window.DevicePath(i).toStdString() +
            (serial.empty() ? "" : " serial " + serial) + " (" +
            QString::fromUtf16(window.DeviceAt(i)->GetProductString() ? window.DeviceAt(i)->GetProductString() : u"")
                .toStdString() +
            ")";
    }
    output.Error(text);
    return EXIT_USAGE;
}

// Only a regular file is read (a pipe there would hold the program for ever).
std::string FileDigest(const QString& path)
{
    const QByteArray native = PathToNative(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return "absent";
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return "unreadable";
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        hash.addData(QByteArrayView(buffer, n));
    ::close(fd);
    return "sha256 " + hash.result().toHex().toStdString();
}

// The --log file's header of a download or upload: what ran, where, with which data and policy.
void LogRunHeader(CCliWindow& window, const CliOptions& options, const char* pszCommand)
{
    if (options.strLogFile.empty())
        return;
    char szHost[256] = {};
    ::gethostname(szHost, sizeof szHost - 1);
    CQuillonDlg& dlg = window.Dlg();
    std::string text = std::string(CliVersionText()) + " on " + szHost + ": " + pszCommand;
    text += "; Quillon.ini " + FileDigest(dlg.m_strIniPath);
    text += "; zel.dat " + FileDigest(dlg.m_strModuleDir + QStringLiteral("zel.dat"));
    if (!options.strImage.empty())
        text += "; image " + PrintablePath(options.strImage) + " " + FileDigest(AbsolutePath(options.strImage));
    text += "; match policy " + HexText(dlg.m_nMatchPolicy, 8) + "; verify " + (dlg.m_bAutoVerify ? "on" : "off");
    window.Output().LogLine("run", text);
}

// Said once, before anything is written, when the match policy compares no identity field at all.
void WarnUnchecked(CCliWindow& window)
{
    uint32_t nRowBits = 0;
    for (const MatchPolicyRow& row : MatchRows())
        nRowBits |= row.nBit;
    const uint32_t nPolicy = window.Dlg().m_nMatchPolicy;
    if ((nPolicy & nRowBits) != 0)
        return;
    window.Output().Warning("the match policy " + HexText(nPolicy, 8) +
                            " checks nothing: the image is written into any device, whatever it was made for "
                            "(--match-policy 0x10f checks every identity field)");
}

std::string OutcomeText(const ParallelDevice& device)
{
    switch (device.outcome) {
    case DeviceOutcome::Succeeded:
        return "succeeded";
    case DeviceOutcome::Failed:
        return "failed";
    case DeviceOutcome::Refused:
        return "refused, nothing written";
    case DeviceOutcome::Busy:
        return "not run, in use by " + HolderText(device.nHolder);
    case DeviceOutcome::Gone:
        return "not run, the device has gone";
    case DeviceOutcome::Interrupted:
        return "not run, interrupted";
    }
    return "failed";
}

// With the reason when it did not succeed.
nlohmann::json DeviceJson(const ParallelDevice& device)
{
    nlohmann::json json = {{"index", device.nIndex},
                           {"path", device.strPath},
                           {"serial", device.strSerial},
                           {"ok", device.outcome == DeviceOutcome::Succeeded},
                           {"outcome", OutcomeName(device.outcome)},
                           {"duration_ms", device.nDurationMs},
                           {"blocks", device.nBlocks}};
    if (device.outcome != DeviceOutcome::Succeeded)
        json["reason"] = device.strReason.empty() ? OutcomeText(device) : device.strReason;
    return json;
}

// Each device's outcome and the count; the status: 0 when all succeeded, 1 when one failed (or was not
// run), else 6 when one was held by another program, else 5 (some were refused untouched).
int ReportDevices(CCliOutput& output, const std::vector<ParallelDevice>& devices, const char* pszCommand,
                  const char* pszWhat)
{
    nlohmann::json outcomes = nlohmann::json::array();
    int nSucceeded = 0;
    bool bFailed = false, bBusy = false, bRefused = false;
    for (const ParallelDevice& device : devices) {
        nlohmann::json outcome = DeviceJson(device);
        if (!device.strFile.empty())
            outcome["file"] = PrintablePath(device.strFile);
        outcome["event"] = "device-result";
        output.Event(outcome, "No." + std::to_string(device.nIndex) + " " + device.strPath + ": " + pszWhat + " " +
                                  OutcomeText(device) + "\n");
        output.LogLine("result", DeviceResultLogLine(device));
        outcome.erase("event");
        outcomes.push_back(outcome);
        nSucceeded += device.outcome == DeviceOutcome::Succeeded ? 1 : 0;
        bBusy = bBusy || device.outcome == DeviceOutcome::Busy;
        bRefused = bRefused || device.outcome == DeviceOutcome::Refused;
        bFailed = bFailed || (device.outcome != DeviceOutcome::Succeeded && device.outcome != DeviceOutcome::Busy &&
                              device.outcome != DeviceOutcome::Refused);
    }
    const bool bAllOk = nSucceeded == static_cast<int>(devices.size());
    output.Result({{"command", pszCommand}, {"ok", bAllOk}, {"devices", outcomes}},
                  std::to_string(nSucceeded) + " of " + std::to_string(devices.size()) + " " + pszWhat +
                      "s succeeded\n");
    return bAllOk ? EXIT_OK : bFailed ? EXIT_FAILED : bBusy ? EXIT_BUSY : EXIT_REFUSED;
}

// The result of a run on one device; the status as before (a refusal is a failure), 6 when it was held.
int ReportOne(CCliOutput& output, const ParallelDevice& device, nlohmann::json result)
{
    result.update(DeviceJson(device));
    if (device.outcome == DeviceOutcome::Busy)
        result["held_by"] = device.nHolder;
    output.Result(result, "");
    output.LogLine("result", DeviceResultLogLine(device));
    return device.outcome == DeviceOutcome::Succeeded ? EXIT_OK
           : device.outcome == DeviceOutcome::Busy    ? EXIT_BUSY
                                                      : EXIT_FAILED;
}

// upload FILE with several devices: FILE-SERIAL.EXT (FILE-NoN.EXT for a device without a serial number).
std::string FileFor(const std::string& file, const ParallelDevice& device)
{
    const std::string name = device.strSerial.empty() ? "No" + std::to_string(device.nIndex) : device.strSerial;
    const size_t nSlash = file.rfind('/');
    const size_t nDot = file.rfind('.');
    if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash) || nDot == nSlash + 1)
        return file + "-" + name;
    return file.substr(0, nDot) + "-" + name + file.substr(nDot);
}

}  // namespace

int RunInfo(const CliOptions& options, CCliOutput& output)
{
    return RunWithWindow(options, output, false, [&](CCliWindow& window) {
        int nIndex = window.FindDevice(options.strDevice);
        if (!options.serialList.empty()) {
            const std::vector<int> found = window.FindDevicesBySerial(options.serialList.front());
            nIndex = found.empty() ? -1 : found.front();
        }
        if (nIndex < 0)
            return NoSuchDevice(output, options.serialList.empty() ? options.strDevice
                                                                   : "serial number " + options.serialList.front());
        const nlohmann::json device = window.Describe(nIndex);
        output.Result({{"command", "info"}, {"device", device}}, DescribeText(device));
        return EXIT_OK;
    });
}

int RunDownload(const CliOptions& options, CCliOutput& output)
{
    if (!IsRegularFile(options.strImage)) {
        output.Error("no such file: " + PrintablePath(options.strImage));
        return EXIT_NOT_FOUND;
    }
    if (!options.strBackup.empty() && RefuseExisting(output, options.strBackup, "a backup never replaces a file"))
        return EXIT_FAILED;

    return RunWithWindow(options, output, true, [&](CCliWindow& window) {
        std::vector<int> indexes;
        if (const int nStatus = SelectDevices(window, options, indexes); nStatus >= 0)
            return nStatus;
        if (!CheckUpdateAll(window, indexes, options))
            return EXIT_USAGE;

        if (options.bDryRun) {
            bool bAllOk = true;
            for (int nIndex : indexes)
                bAllOk = DryRunOne(window, nIndex, options) && bAllOk;
            output.Result({{"command", "download"}, {"dry_run", true}, {"ok", bAllOk}}, "");
            return bAllOk ? EXIT_OK : EXIT_FAILED;
        }
        if (!options.bJob) {
            LogRunHeader(window, options, "download");
            // A device held by another program is refused before this would be said.
            if (options.bAll || indexes.size() > 1 || window.HeldBy(indexes.front()) == 0)
                WarnUnchecked(window);
        }

        if (!options.strBackup.empty()) {
            ParallelDevice backup = Target(window, indexes.front());
            UploadOne(window, backup, options.strBackup);
            const bool bSaved = backup.outcome == DeviceOutcome::Succeeded;
            output.Event(
                {{"event", "backup"}, {"path", PrintablePath(options.strBackup)}, {"ok", bSaved}},
                bSaved ? "" : "Backup into " + PrintablePath(options.strBackup) + " failed; nothing was downloaded.\n");
            if (!bSaved || WasInterrupted()) {
                output.Result({{"command", "download"}, {"ok", false}, {"backup", bSaved}}, "");
                return backup.outcome == DeviceOutcome::Busy ? EXIT_BUSY : EXIT_FAILED;
            }
        }

        if (!options.bAll && indexes.size() == 1) {
            ParallelDevice device = Target(window, indexes.front());
            DownloadOne(window, device, options.strImage, options.bUpdateAll);
            return ReportOne(output, device, {{"command", "download"}});
        }

        std::vector<ParallelDevice> devices;
        for (int nIndex : indexes)
            devices.push_back(Target(window, nIndex));
        if (options.strBackup.empty()) {
            RunParallel(options, output, false, window.Dlg().m_nMatchPolicy, window.Dlg().m_bAutoVerify, devices);
            return ReportDevices(output, devices, "download", "download");
        }
        // After a backup the devices run one after another, each found again by its path (the list
        // changes under a download: an entry is re-inserted, a device may go).
        for (ParallelDevice& device : devices) {
            device.nIndex = WasInterrupted() ? -1 : window.FindDeviceByPath(QString::fromStdString(device.strPath));
            if (WasInterrupted())
                device.outcome = DeviceOutcome::Interrupted;
            else if (device.nIndex < 0)
                device.outcome = DeviceOutcome::Gone;
            else
                DownloadOne(window, device, options.strImage, options.bUpdateAll);
        }
        return ReportDevices(output, devices, "download", "download");
    });
}

int RunUpload(const CliOptions& options, CCliOutput& output)
{
    const bool bOne = !options.bAll && options.deviceList.size() + options.serialList.size() <= 1;
    if (bOne && !options.bForce && RefuseExisting(output, options.strFile, "add --force to replace it"))
        return EXIT_FAILED;
    return RunWithWindow(options, output, true, [&](CCliWindow& window) {
        std::vector<int> indexes;
        if (const int nStatus = SelectDevices(window, options, indexes); nStatus >= 0)
            return nStatus;
        if (!options.bJob)
            LogRunHeader(window, options, "upload");
        if (bOne) {
            ParallelDevice device = Target(window, indexes.front());
            UploadOne(window, device, options.strFile);
            return ReportOne(output, device, {{"command", "upload"}, {"file", PrintablePath(options.strFile)}});
        }
        std::vector<ParallelDevice> devices;
        for (int nIndex : indexes) {
            devices.push_back(Target(window, nIndex));
            devices.back().strFile = FileFor(options.strFile, devices.back());
            if (!options.bForce && RefuseExisting(output, devices.back().strFile, "add --force to replace it"))
                return EXIT_FAILED;
        }
        RunParallel(options, output, true, window.Dlg().m_nMatchPolicy, window.Dlg().m_bAutoVerify, devices);
        return ReportDevices(output, devices, "upload", "upload");
    });
}
