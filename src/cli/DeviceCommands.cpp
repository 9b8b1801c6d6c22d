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
#include "device/ZelHidApi.h"
#include "dfu/AdmissionCheck.h"
#include "dfu/BlockProgramming.h"
#include "platform/NativePath.h"
#include "platform/OutputFile.h"
#include "platform/console/ConsoleHost.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <span>
#include <sstream>
#include <sys/stat.h>

namespace {

const char kDownloadSucceeded[] = "Firmware upgrade succeeded....\r\n";
// The window's answer to a close request (a signal) while it works; it says nothing about the operation.
const char kExitRefused[] = "Do NOT exit while DFU is running!";
const char kUploadSucceeded[] = "Firmware upload succeeded!\r\n";

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
         << "  Update All:  " << (device["update_all_optional"].get<bool>() ? "optional" : "always") << "\n";
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

struct Outcome {
    bool bOk = false;
    std::string strReason;  // why it failed; empty when it succeeded
};

// Why the operation failed: what the device library says of the last call that failed during it (also
// printed, after the window's own lines), else the last message the window showed (a refusal before the
// device was touched, which its message already explains), with its line end cut.
Outcome Judge(CCliWindow& window, CZelUsbDevice* pDevice, const CCliOutput::Seen& seen, const char* pszSuccess)
{
    Outcome outcome{Succeeded(seen, pszSuccess), {}};
    if (outcome.bOk)
        return outcome;
    outcome.strReason = ZelUsbDeviceLastError(pDevice);
    if (!outcome.strReason.empty())
        window.Output().Reason(outcome.strReason);
    for (qsizetype i = seen.messages.size(); outcome.strReason.empty() && i-- > 0;)
        if (seen.messages[i] != QLatin1String(kExitRefused))
            outcome.strReason = seen.messages[i].trimmed().toStdString();
    return outcome;
}

// The window's messages ("Open file failed!", "Write file failed!") are followed by why.
Outcome UploadOne(CCliWindow& window, int nIndex, const std::string& file)
{
    window.Select(nIndex);
    CZelUsbDevice* pDevice = window.DeviceAt(nIndex);
    ZelUsbDeviceClearLastError(pDevice);
    window.Session().QueueSaveFileAnswer(AbsolutePath(file));
    window.StartOperation(true, std::nullopt);
    const CCliOutput::Seen seen = window.Output().TakeSeen();
    for (const char* pszFileMessage : {"Open file failed!", "Write file failed!"})
        if (seen.messages.contains(QLatin1String(pszFileMessage)))
            window.Output().Error(PrintablePath(file) + ": " + LastOutputFileError());
    return Judge(window, pDevice, seen, kUploadSucceeded);
}

Outcome DownloadOne(CCliWindow& window, int nIndex, const std::string& image, std::optional<bool> bUpdateAll)
{
    window.Select(nIndex);
    CZelUsbDevice* pDevice = window.DeviceAt(nIndex);
    if (!window.OpenImage(AbsolutePath(image)))
        return Judge(window, nullptr, window.Output().TakeSeen(), kDownloadSucceeded);
    ZelUsbDeviceClearLastError(pDevice);
    window.StartOperation(false, bUpdateAll);
    return Judge(window, pDevice, window.Output().TakeSeen(), kDownloadSucceeded);
}

// The result's fields, with the reason when it failed.
nlohmann::json WithReason(nlohmann::json result, const Outcome& outcome)
{
    if (!outcome.bOk)
        result["reason"] = outcome.strReason;
    return result;
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
        nlohmann::json check = {{"check", row.pszName}, {"bit", row.nBit}, {"verdict", pszVerdict}};
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
                  {"match_policy", nPolicy},
                  {"checks", checks},
                  {"admitted", bAdmitted},
                  {"update_all", dlg.m_bUpdateAll != 0},
                  {"block_mask", nBlockMask},
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
        return EXIT_OK;
    });
}

int RunInfo(const CliOptions& options, CCliOutput& output)
{
    return RunWithWindow(options, output, false, [&](CCliWindow& window) {
        const int nIndex = window.FindDevice(options.strDevice);
        if (nIndex < 0)
            return NoSuchDevice(output, options.strDevice);
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
        if (options.bAll) {
            for (int i = 0; i < window.DeviceCount(); ++i)
                indexes.push_back(i);
            if (indexes.empty())
                return NoSuchDevice(output, {});
        } else {
            const int nIndex = window.FindDevice(options.strDevice);
            if (nIndex < 0)
                return NoSuchDevice(output, options.strDevice);
            indexes.push_back(nIndex);
        }
        if (!CheckUpdateAll(window, indexes, options))
            return EXIT_USAGE;

        if (options.bDryRun) {
            bool bAllOk = true;
            for (int nIndex : indexes)
                bAllOk = DryRunOne(window, nIndex, options) && bAllOk;
            output.Result({{"command", "download"}, {"dry_run", true}, {"ok", bAllOk}}, "");
            return bAllOk ? EXIT_OK : EXIT_FAILED;
        }

        if (!options.strBackup.empty()) {
            const bool bSaved = UploadOne(window, indexes.front(), options.strBackup).bOk;
            output.Event(
                {{"event", "backup"}, {"path", PrintablePath(options.strBackup)}, {"ok", bSaved}},
                bSaved ? "" : "Backup into " + PrintablePath(options.strBackup) + " failed; nothing was downloaded.\n");
            if (!bSaved || WasInterrupted()) {
                output.Result({{"command", "download"}, {"ok", false}, {"backup", bSaved}}, "");
                return EXIT_FAILED;
            }
        }

        if (!options.bAll) {
            const Outcome outcome = DownloadOne(window, indexes.front(), options.strImage, options.bUpdateAll);
            output.Result(WithReason({{"command", "download"},
                                      {"ok", outcome.bOk},
                                      {"index", indexes.front()},
                                      {"path", window.DevicePath(indexes.front()).toStdString()}},
                                     outcome),
                          "");
            return outcome.bOk ? EXIT_OK : EXIT_FAILED;
        }

        // The list may change under the downloads (an entry is re-inserted, a device may go), so each
        // device is found again by its path.
        std::vector<QString> paths;
        for (int nIndex : indexes)
            paths.push_back(window.DevicePath(nIndex));
        nlohmann::json outcomes = nlohmann::json::array();
        int nSucceeded = 0;
        for (size_t i = 0; i < paths.size(); ++i) {
            // After a signal the current download ends as the window lets it; the rest are not begun.
            const bool bStopped = WasInterrupted();
            const int nIndex = bStopped ? -1 : window.FindDeviceByPath(paths[i]);
            const Outcome result =
                nIndex >= 0 ? DownloadOne(window, nIndex, options.strImage, options.bUpdateAll) : Outcome{};
            const bool bOk = result.bOk;
            nSucceeded += bOk ? 1 : 0;
            nlohmann::json outcome = {{"event", "device-result"},
                                      {"index", static_cast<int>(i)},
                                      {"path", paths[i].toStdString()},
                                      {"ok", bOk}};
            if (nIndex >= 0 && !bOk)
                outcome["reason"] = result.strReason;
            outcomes.push_back(outcome);
            output.Event(outcome, "No." + std::to_string(i) + " " + paths[i].toStdString() + ": download " +
                                      (bOk          ? "succeeded"
                                       : bStopped   ? "not run, interrupted"
                                       : nIndex < 0 ? "not run, the device has gone"
                                                    : "failed") +
                                      "\n");
        }
        const bool bAllOk = nSucceeded == static_cast<int>(paths.size());
        output.Result({{"command", "download"}, {"ok", bAllOk}, {"devices", outcomes}},
                      std::to_string(nSucceeded) + " of " + std::to_string(paths.size()) + " downloads succeeded\n");
        return bAllOk ? EXIT_OK : EXIT_FAILED;
    });
}

int RunUpload(const CliOptions& options, CCliOutput& output)
{
    if (!options.bForce && RefuseExisting(output, options.strFile, "add --force to replace it"))
        return EXIT_FAILED;
    return RunWithWindow(options, output, true, [&](CCliWindow& window) {
        const int nIndex = window.FindDevice(options.strDevice);
        if (nIndex < 0)
            return NoSuchDevice(output, options.strDevice);
        const QString path = window.DevicePath(nIndex);
        const Outcome outcome = UploadOne(window, nIndex, options.strFile);
        output.Result(WithReason({{"command", "upload"},
                                  {"ok", outcome.bOk},
                                  {"index", nIndex},
                                  {"path", path.toStdString()},
                                  {"file", PrintablePath(options.strFile)}},
                                 outcome),
                      "");
        return outcome.bOk ? EXIT_OK : EXIT_FAILED;
    });
}
