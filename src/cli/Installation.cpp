#include "cli/Installation.h"

#include "cli/SystemChecks.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char kPackage[] = "quillon-cli";
const char kRulesName[] = "70-quillon.rules";
const char kApplyRules[] =
    "sudo udevadm control --reload-rules && sudo udevadm trigger --subsystem-match=hidraw --action=change";

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The value of field in the control stanzas of text that name our package (every one, in order,
// separated by '\n').
std::string StanzaFields(const std::string& text, const std::string& field)
{
    const std::string start = std::string("Package: ") + kPackage + "\n";
    std::string values;
    for (size_t pos = text.find(start); pos != std::string::npos; pos = text.find(start, pos + 1)) {
        if (pos != 0 && text[pos - 1] != '\n')
            continue;
        const size_t end = std::min(text.find("\n\n", pos), text.size());
        const std::string key = "\n" + field + ": ";
        const size_t at = text.find(key, pos);
        if (at == std::string::npos || at >= end)
            continue;
        const size_t from = at + key.size();
        values += text.substr(from, text.find('\n', from) - from) + "\n";
    }
    return values;
}

// True when an apt list of the machine offers our package in this version.
bool OfferedByArchive(const std::string& root, const std::string& version)
{
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(root + "/var/lib/apt/lists", ec)) {
        if (!EndsWith(entry.path().filename().string(), "_Packages"))
            continue;
        std::istringstream versions(StanzaFields(ReadText(entry.path().string()), "Version"));
        for (std::string line; std::getline(versions, line);)
            if (line == version)
                return true;
    }
    return false;
}

bool WritableByUs(const std::string& dir)
{
    return ::access(dir.c_str(), W_OK) == 0;
}

}  // namespace

Installation DetectInstallation(const std::string& dataDir)
{
    Installation installation;
    installation.strDataDir = dataDir;
    const std::string root = SystemRoot();
    const std::string dirInRoot =
        !root.empty() && dataDir.rfind(root + "/", 0) == 0 ? dataDir.substr(root.size()) : dataDir;

    std::istringstream owned(ReadText(root + "/var/lib/dpkg/info/" + kPackage + ".list"));
    for (std::string line; std::getline(owned, line);) {
        if (line != dirInRoot + kPackage)
            continue;
        const std::string status = ReadText(root + "/var/lib/dpkg/status");
        std::string version = StanzaFields(status, "Version");
        std::string arch = StanzaFields(status, "Architecture");
        version = version.substr(0, version.find('\n'));
        arch = arch.substr(0, arch.find('\n'));
        if (OfferedByArchive(root, version)) {
            installation.kind = InstallKind::ArchivePackage;
        } else {
            installation.kind = InstallKind::LocalPackage;
            // The file name the package is built under (epochs are left out of it).
            installation.strDebFile =
                std::string(kPackage) + "_" + version.substr(version.find(':') + 1) + "_" + arch + ".deb";
        }
        return installation;
    }
    const fs::path parent = fs::path(dataDir).parent_path().parent_path();
    std::error_code ec;
    if (fs::is_regular_file(parent / "CMakeCache.txt", ec)) {
        installation.kind = InstallKind::BuildTree;
        installation.strBuildDir = parent.string();
    } else if (EndsWith(dataDir, "/lib/quillon/")) {
        installation.kind = InstallKind::InstallTree;
        installation.strPrefix = dataDir.substr(0, dataDir.size() - std::string("lib/quillon/").size());
    }
    return installation;
}

std::string DataFileFix(const Installation& installation, const std::string& fileName)
{
    switch (installation.kind) {
    case InstallKind::ArchivePackage:
        return std::string("sudo apt-get install --reinstall ") + kPackage;
    case InstallKind::LocalPackage:
        return "sudo apt-get install --reinstall ./" + installation.strDebFile;
    case InstallKind::InstallTree:
        return std::string(WritableByUs(installation.strPrefix) ? "" : "sudo ") +
               "cmake --install <build folder> --prefix " +
               installation.strPrefix.substr(0, installation.strPrefix.size() - 1);
    case InstallKind::BuildTree:
        return "cmake --build " + installation.strBuildDir + " --target quillon_data";
    case InstallKind::Folder:
        break;
    }
    return "cp <the " + fileName + " of a Quillon build or package> " + installation.strDataDir;
}

std::string UdevRulesFix(const Installation& installation)
{
    const std::string apply = kApplyRules;
    std::string rules;
    switch (installation.kind) {
    case InstallKind::ArchivePackage:
    case InstallKind::LocalPackage:
        return DataFileFix(installation, kRulesName) + " && " + apply;
    case InstallKind::InstallTree: {
        // udev reads no rules under most prefixes (/opt/…): the tree's copy goes to /etc.
        rules = installation.strPrefix + "lib/udev/rules.d/" + kRulesName;
        std::error_code ec;
        if (!fs::is_regular_file(rules, ec))
            return DataFileFix(installation, kRulesName) + " && sudo install -m 644 " + rules +
                   " /etc/udev/rules.d/ && " + apply;
        break;
    }
    case InstallKind::BuildTree:
        rules = installation.strBuildDir + "/packaging/" + kRulesName;
        break;
    case InstallKind::Folder:
        rules = std::string("<the ") + kRulesName + " of a Quillon build or package>";
        break;
    }
    return "sudo install -m 644 " + rules + " /etc/udev/rules.d/ && " + apply;
}
