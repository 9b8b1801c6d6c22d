// config check and doctor: the configuration loaded by the program's own loaders, then looked at the
// way a maker or an operator needs it looked at.
#include "base/HeapBlock.h"
#include "cli/CliCommands.h"
#include "cli/CliOutput.h"
#include "cli/Installation.h"
#include "cli/SystemChecks.h"
#include "config/ChipsetNaming.h"
#include "config/Configuration.h"
#include "config/FlashTable.h"
#include "platform/FileIo.h"
#include "platform/NativePath.h"
#include "platform/ProfileReader.h"

#include <QRegularExpression>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads values long enough to tell whether the program's 255 characters cut them.
constexpr int kWideCapacity = 8192;
constexpr int kProgramCapacity = 256;

struct Finding {
    std::string strWhere;  // "[KnownIDs] ID3", "zel.dat line 4", ...
    std::string strText;
    std::string strFix;  // doctor only: the command that fixes it
};

struct TableState {
    std::string strName;
    bool bLoaded = false;
    int nEntries = 0;
};

struct ConfigReport {
    std::string strIniPath;
    std::string strZelPath;
    bool bIniExists = false;
    std::vector<TableState> tables;
    std::vector<Finding> findings;
};

struct EntrySection {
    const char* pszSection;
    const char* pszKeyFormat;  // with %1 for the index
    int nFields;
};

bool IsCleanNumber(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("^\\s*[+-]?(0[xX][0-9a-fA-F]+|[0-9]+)\\s*$"));
    return number.match(text).hasMatch();
}

QString ReadWide(IProfileReader& profile, const QString& section, const QString& key, const QString& ini)
{
    return profile.GetPrivateProfileString(section, key, QString(), kWideCapacity, ini);
}

// "Num" (or a name list's count) as the program reads it, with a finding when its text is no plain number.
int32_t ReadCount(IProfileReader& profile, const QString& section, const QString& key, const QString& ini,
                  ConfigReport& report)
{
    const QString text = ReadWide(profile, section, key, ini);
    const auto nCount = static_cast<int32_t>(profile.GetPrivateProfileInt(section, key, 0, ini));
    if (!text.isEmpty() && !IsCleanNumber(text))
        report.findings.push_back(
            {"[" + section.toStdString() + "] " + key.toStdString(),
             "\"" + text.toStdString() + "\" is not a plain number; read as " + std::to_string(nCount),
             {}});
    return nCount;
}

void CheckEntries(IProfileReader& profile, const QString& ini, const EntrySection& entries, bool bLoaded,
                  ConfigReport& report)
{
    const QString section = QString::fromLatin1(entries.pszSection);
    const int32_t nCount = ReadCount(profile, section, QStringLiteral("Num"), ini, report);
    report.tables.push_back({entries.pszSection, bLoaded, bLoaded ? nCount : 0});
    if (!bLoaded) {
        report.findings.push_back(
            {"[" + section.toStdString() + "]",
             "table absent: \"Num\" is missing, zero, negative or too large (" + std::to_string(nCount) + ")",
             {}});
        return;
    }
    for (int32_t i = 0; i < nCount; ++i) {
        const QString key = QString::fromLatin1(entries.pszKeyFormat).arg(i);
        const std::string where = "[" + section.toStdString() + "] " + key.toStdString();
        const QString wide = ReadWide(profile, section, key, ini);
        if (wide.isEmpty()) {
            report.findings.push_back({where,
                                       "blank entry: an all-zero record, which ends the table for the "
                                       "device library",
                                       {}});
            continue;
        }
        if (wide.size() >= kProgramCapacity)
            report.findings.push_back(
                {where,
                 "value of " + std::to_string(wide.size()) + " characters, cut at 255 when the program reads it",
                 {}});
        const QString text = wide.left(kProgramCapacity - 1);
        uint32_t values[8] = {};
        const int nRead = ScanHexFields(reinterpret_cast<const char16_t*>(text.utf16()), values, entries.nFields);
        if (nRead < entries.nFields)
            report.findings.push_back({where,
                                       "only " + std::to_string(nRead) + " of " + std::to_string(entries.nFields) +
                                           " numbers could be read from \"" + text.toStdString() +
                                           "\"; the rest are zero",
                                       {}});
    }
}

void CheckNames(IProfileReader& profile, const QString& ini, const char* pszCategory, const NameList* pList,
                ConfigReport& report)
{
    const QString section = QStringLiteral("ChipsetInfo");
    const QString category = QString::fromLatin1(pszCategory);
    const int32_t nCount = ReadCount(profile, section, category + QStringLiteral("Num"), ini, report);
    report.tables.push_back({std::string(pszCategory) + " names", pList != nullptr, pList ? pList->Count() : 0});
    if (!pList) {
        report.findings.push_back(
            {"[ChipsetInfo] " + category.toStdString() + "Num",
             "name list absent: the count is missing, zero or negative (" + std::to_string(nCount) + ")",
             {}});
        return;
    }
    for (int32_t i = 0; i < pList->Count(); ++i) {
        const QString key = QStringLiteral("%1Name%2").arg(category).arg(i);
        const QString wide = ReadWide(profile, section, key, ini);
        const std::string where = "[ChipsetInfo] " + key.toStdString();
        if (wide.isEmpty())
            report.findings.push_back({where, "blank name", {}});
        else if (wide.size() >= kProgramCapacity)
            report.findings.push_back(
                {where,
                 "name of " + std::to_string(wide.size()) + " characters, cut at 255 when the program reads it",
                 {}});
    }
}

// Each chip line read as the loader reads it, for names cut at 255 characters and missing numbers.
void CheckFlashLines(const std::string& path, ConfigReport& report)
{
    uint8_t* pData = nullptr;
    const int32_t nLength = ReadWholeFile(PathFromNative(path), pData);
    const CHeapBlock<uint8_t> data(pData);
    if (nLength == 0 || !DecryptFlashTable(pData, nLength))
        return;
    const char* pText = reinterpret_cast<const char*>(pData);
    int nLine = 0;
    const char* pLine = NextLine(pText);
    for (const char* pNext = pLine ? NextLine(pLine) : nullptr; pNext != nullptr;
         pLine = pNext, pNext = NextLine(pNext)) {
        ++nLine;
        const char* pComma = std::strchr(pLine, ',');
        const char* pEnd = std::strchr(pLine, '\n');
        const char* pLineEnd = pEnd ? pEnd : pLine + std::strlen(pLine);
        char szName[256];
        const char* pNumbers = TakeFirstField(pLine, szName);
        const std::string where = "zel.dat chip line " + std::to_string(nLine) + " (" + szName + ")";
        if (pComma) {
            size_t nNameLength = static_cast<size_t>(pComma - pLine);
            while (nNameLength > 0 && std::strchr(" \t\r\n", pLine[nNameLength - 1]))
                --nNameLength;
            if (nNameLength > 255)
                report.findings.push_back(
                    {where, "name of " + std::to_string(nNameLength) + " characters, cut at 255", {}});
        }
        if (!pComma || pComma > pLineEnd) {
            report.findings.push_back({where, "no comma on the line: the name runs into the next line", {}});
            continue;
        }
        const char* pNumbersEnd = std::strchr(pNumbers, '\n');
        const QString numbers = QString::fromLatin1(pNumbers, pNumbersEnd ? pNumbersEnd - pNumbers : -1);
        uint32_t values[22] = {};
        const int nRead = ScanHexFields(reinterpret_cast<const char16_t*>(numbers.utf16()), values, 22);
        if (nRead < 22)
            report.findings.push_back(
                {where, "only " + std::to_string(nRead) + " of 22 numbers could be read; the rest are zero", {}});
    }
}

// The chip lines of the file as the loader parses them.
int CountFlashChips(const std::string& path)
{
    uint8_t* pData = nullptr;
    const int32_t nLength = ReadWholeFile(PathFromNative(path), pData);
    const CHeapBlock<uint8_t> data(pData);
    if (nLength == 0 || !DecryptFlashTable(pData, nLength))
        return 0;
    int nParsed = 0;
    const CHeapBlock<_FLASH_INFO> table(ParseFlashTableText(reinterpret_cast<const char*>(pData), nParsed));
    return table ? nParsed : 0;
}

std::string ZelDatAbsentReason(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "file missing";
    uint8_t* pData = nullptr;
    const int32_t nLength = ReadWholeFile(PathFromNative(path), pData);
    const CHeapBlock<uint8_t> data(pData);
    if (nLength == 0)
        return "file empty or unreadable";
    if (!DecryptFlashTable(pData, nLength) || nLength < 4 || std::memcmp(pData, "Chip", 4) != 0)
        return "does not decrypt to a table beginning with \"Chip\"";
    return "no chip lines after the header line";
}

// The configuration of dir, loaded by the program's own loaders.
ConfigReport CheckConfiguration(const std::string& dir, std::vector<uint16_t>* pVendors = nullptr,
                                std::vector<std::string>* pPatchFiles = nullptr)
{
    std::unique_ptr<IProfileReader> pProfile = CreateFileProfileReader();
    const ProfileSource profile{pProfile.get(), PathFromNative(dir) + QStringLiteral("Quillon.ini")};
    CHeapBlock<_ZEL_USB_DEV_ID_INFO> knownIds;
    CHeapBlock<_ZEL_USB_DEV_INFO> patchInfos;
    LoadKnownIdTable(profile, knownIds);
    LoadDfuPatchTable(profile, patchInfos);
    const std::unique_ptr<NameList> pControllers = LoadNameList(profile, NAME_CONTROLLER);
    const std::unique_ptr<NameList> pHdCodecs = LoadNameList(profile, NAME_HDCODEC);
    const std::unique_ptr<NameList> pIisCodecs = LoadNameList(profile, NAME_IISCODEC);
    CHeapBlock<_FLASH_INFO> flashInfo;
    LoadFlashTableFile(PathFromNative(dir) + QStringLiteral("zel.dat"), flashInfo);

    ConfigReport report;
    report.strIniPath = PathToNative(profile.strPath).toStdString();
    report.strZelPath = dir + "zel.dat";
    report.bIniExists = IsRegularFile(report.strIniPath);
    if (!report.bIniExists)
        report.findings.push_back({"Quillon.ini", "file missing: " + report.strIniPath, {}});

    CheckEntries(*pProfile, profile.strPath, {"KnownIDs", "ID%1", 3}, knownIds != nullptr, report);
    CheckEntries(*pProfile, profile.strPath, {"DfuPatchInfos", "Info%1", 6}, patchInfos != nullptr, report);
    CheckNames(*pProfile, profile.strPath, "Controller", pControllers.get(), report);
    CheckNames(*pProfile, profile.strPath, "HDCodec", pHdCodecs.get(), report);
    CheckNames(*pProfile, profile.strPath, "IISCodec", pIisCodecs.get(), report);

    const int nChips = flashInfo != nullptr ? CountFlashChips(report.strZelPath) : 0;
    const bool bFlashLoaded = nChips > 0;
    report.tables.push_back({"zel.dat", bFlashLoaded, nChips});
    if (!bFlashLoaded)
        report.findings.push_back({"zel.dat", "flash chip table absent: " + ZelDatAbsentReason(report.strZelPath), {}});
    else
        CheckFlashLines(report.strZelPath, report);

    if (pVendors) {
        for (const _ZEL_USB_DEV_ID_INFO* p = knownIds.get(); p && p->wVendorId; ++p)
            pVendors->push_back(p->wVendorId);
        for (const _ZEL_USB_DEV_INFO* p = patchInfos.get(); p && p->wVendorId; ++p)
            pVendors->push_back(p->wVendorId);
    }
    if (pPatchFiles) {
        // Devices without a boot loader enter DFU mode through the patch of their controller, named
        // after the controller's name; the DFU patch table names the controller in its first chip byte.
        for (const _ZEL_USB_DEV_INFO* p = patchInfos.get(); p && p->wVendorId; ++p) {
            const std::string path =
                dir +
                ControllerName({pControllers.get(), pHdCodecs.get(), pIisCodecs.get()}, p->byChip[0]).toStdString() +
                ".bin";
            if (std::find(pPatchFiles->begin(), pPatchFiles->end(), path) == pPatchFiles->end())
                pPatchFiles->push_back(path);
        }
    }
    return report;
}

nlohmann::json FindingsJson(const std::vector<Finding>& findings)
{
    nlohmann::json array = nlohmann::json::array();
    for (const Finding& f : findings) {
        nlohmann::json item = {{"where", f.strWhere}, {"text", f.strText}};
        if (!f.strFix.empty())
            item["fix"] = f.strFix;
        array.push_back(item);
    }
    return array;
}

std::string FindingsText(const std::vector<Finding>& findings)
{
    if (findings.empty())
        return "No findings.\n";
    std::string text = "Findings:\n";
    for (const Finding& f : findings) {
        text += "  " + f.strWhere + ": " + f.strText + "\n";
        if (!f.strFix.empty())
            text += "    fix: " + f.strFix + "\n";
    }
    return text;
}

// The login name of whoever runs the program, for a command they copy.
std::string UserName()
{
    const struct passwd* pUser = ::getpwuid(::getuid());
    return pUser != nullptr ? pUser->pw_name : std::to_string(::getuid());
}

std::string WithSlash(std::string dir)
{
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    return dir;
}

}  // namespace

int RunConfigCheck(const CliOptions& options, CCliOutput& output)
{
    std::string dir = options.strDir.empty() ? ProgramDataDir() : WithSlash(options.strDir);
    struct stat st {};
    if (!options.strDir.empty() && (::stat(options.strDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
        output.Error("no such folder: " + PrintablePath(options.strDir));
        return EXIT_NOT_FOUND;
    }
    const ConfigReport report = CheckConfiguration(dir);

    bool bAllLoaded = true;
    nlohmann::json tables = nlohmann::json::object();
    std::ostringstream text;
    text << "Quillon.ini: " << report.strIniPath << (report.bIniExists ? "" : " (missing)") << "\n"
         << "zel.dat:     " << report.strZelPath << "\n";
    for (const TableState& table : report.tables) {
        bAllLoaded = bAllLoaded && table.bLoaded;
        tables[table.strName] = {{"loaded", table.bLoaded}, {"entries", table.nEntries}};
        text << "  " << table.strName << ": "
             << std::string(table.strName.size() < 16 ? 16 - table.strName.size() : 0, ' ')
             << (table.bLoaded
                     ? std::to_string(table.nEntries) + (table.strName == "zel.dat" ? " flash chips" : " entries")
                     : std::string("absent"))
             << "\n";
    }
    text << FindingsText(report.findings);
    output.Result({{"command", "config check"},
                   {"ini", report.strIniPath},
                   {"zel_dat", report.strZelPath},
                   {"tables", tables},
                   {"findings", FindingsJson(report.findings)},
                   {"ok", bAllLoaded}},
                  text.str());
    return bAllLoaded ? EXIT_OK : EXIT_FAILED;
}

int RunDoctor(const CliOptions&, CCliOutput& output)
{
    const std::string dir = ProgramDataDir();
    std::vector<uint16_t> vendors;
    std::vector<std::string> patchFiles;
    const ConfigReport config = CheckConfiguration(dir, &vendors, &patchFiles);
    const Installation installation = DetectInstallation(dir);

    std::vector<Finding> findings;
    for (const TableState& table : config.tables)
        if (!table.bLoaded)
            findings.push_back({table.strName, "table absent (`quillon-cli config check` tells why)",
                                DataFileFix(installation, table.strName == "zel.dat" ? "zel.dat" : "Quillon.ini")});

    for (const std::string& path : patchFiles)
        if (!IsRegularFile(path))
            findings.push_back({path,
                                "DFU patch file missing: devices of this controller without a boot loader "
                                "cannot enter DFU mode",
                                "sudo install -m 644 <the maker's patch file> " + path});

    const std::string rulesFix = UdevRulesFix(installation);
    const std::vector<std::string> rules = FindInstalledUdevRules();
    if (rules.empty())
        findings.push_back({"udev rules", "not installed: only root can open the devices' hidraw nodes", rulesFix});

    for (const HidrawNode& node : ListHidrawNodes("/sys/class/hidraw", "/dev")) {
        if (std::find(vendors.begin(), vendors.end(), node.nVendorId) == vendors.end() || !node.bPermissionDenied)
            continue;
        std::string text = "permission denied for this configured device (" + node.strId + ")";
        std::string fix = rules.empty() ? rulesFix : "sudo udevadm trigger --subsystem-match=hidraw --action=change";
        // The rules gave the node to a group (a station without a seat): membership is what is missing.
        if (!rules.empty() && !node.strGroup.empty()) {
            text += ": members of the group " + node.strGroup + " may open it (log in again after joining)";
            fix = "sudo usermod -aG " + node.strGroup + " " + UserName();
        }
        findings.push_back({node.strDevNode, text, fix});
    }

    nlohmann::json rulesJson = nlohmann::json::array();
    for (const std::string& r : rules)
        rulesJson.push_back(r);
    std::string text = "Data folder: " + dir + "\n";
    text += "udev rules:  " + (rules.empty() ? std::string("not installed") : rules.front()) + "\n";
    text += FindingsText(findings);
    output.Result({{"command", "doctor"},
                   {"data_dir", dir},
                   {"udev_rules", rulesJson},
                   {"findings", FindingsJson(findings)},
                   {"ok", findings.empty()}},
                  text);
    return findings.empty() ? EXIT_OK : EXIT_FAILED;
}
