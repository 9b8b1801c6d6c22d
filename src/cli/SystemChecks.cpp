#include "cli/SystemChecks.h"

#include "base/HexText.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string SystemRoot()
{
    const char* pszRoot = std::getenv("QUILLON_SYSROOT");
    return pszRoot != nullptr ? pszRoot : "";
}

bool ParseHidId(const std::string& ueventText, uint16_t& nVendorId, uint16_t& nProductId)
{
    std::istringstream lines(ueventText);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("HID_ID=", 0) != 0)
            continue;
        unsigned nBus = 0, nVendor = 0, nProduct = 0;
        char chTail = 0;
        if (std::sscanf(line.c_str() + 7, "%x:%x:%x%c", &nBus, &nVendor, &nProduct, &chTail) != 3 || nVendor > 0xFFFF ||
            nProduct > 0xFFFF)
            return false;
        nVendorId = static_cast<uint16_t>(nVendor);
        nProductId = static_cast<uint16_t>(nProduct);
        return true;
    }
    return false;
}

std::vector<HidrawNode> ListHidrawNodes(const std::string& sysClassDir, const std::string& devDir)
{
    const std::string root = SystemRoot();
    std::vector<HidrawNode> nodes;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(root + sysClassDir, ec)) {
        std::ifstream uevent(entry.path() / "device" / "uevent");
        std::stringstream text;
        text << uevent.rdbuf();
        HidrawNode node;
        if (!ParseHidId(text.str(), node.nVendorId, node.nProductId))
            continue;
        node.strDevNode = devDir + "/" + entry.path().filename().string();
        node.strId = HexText(node.nVendorId, 4) + ":" + HexText(node.nProductId, 4);
        struct stat st {};
        if (::stat((root + node.strDevNode).c_str(), &st) == 0 && st.st_gid != 0 && (st.st_mode & 060) == 060) {
            const struct group* pGroup = ::getgrgid(st.st_gid);
            node.strGroup = pGroup != nullptr ? pGroup->gr_name : std::to_string(st.st_gid);
        }
        const int fd = ::open((root + node.strDevNode).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
        else
            node.bPermissionDenied = errno == EACCES || errno == EPERM;
        nodes.push_back(node);
    }
    // In the order of their numbers, hidraw2 before hidraw10.
    std::sort(nodes.begin(), nodes.end(), [](const HidrawNode& a, const HidrawNode& b) {
        return std::make_pair(a.strDevNode.size(), a.strDevNode) < std::make_pair(b.strDevNode.size(), b.strDevNode);
    });
    return nodes;
}

std::vector<std::string> FindInstalledUdevRules()
{
    const std::string root = SystemRoot();
    std::vector<std::string> found;
    for (const char* pszDir : {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/local/lib/udev/rules.d",
                               "/usr/lib/udev/rules.d", "/lib/udev/rules.d"}) {
        std::error_code ec;
        for (const fs::directory_entry& entry : fs::directory_iterator(root + pszDir, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.find("quillon") != std::string::npos && entry.path().extension() == ".rules")
                found.push_back(std::string(pszDir) + "/" + name);
        }
    }
    return found;
}
