// What `doctor` looks at on the machine: hidraw nodes and their permissions, installed udev rules.
// Every path is taken under QUILLON_SYSROOT when that is set (an unpacked root, or a test's tree).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct HidrawNode {
    std::string strDevNode;  // /dev/hidrawN
    std::string strId;       // "0x2fe3:0x1200"
    uint16_t nVendorId = 0;
    uint16_t nProductId = 0;
    bool bPermissionDenied = false;
    std::string strGroup;  // the group that may read and write the node, when it is not root's
};

// The HID_ID line of a hidraw device's uevent text ("HID_ID=0003:00002FE3:00001200").
bool ParseHidId(const std::string& ueventText, uint16_t& nVendorId, uint16_t& nProductId);

// The hidraw nodes listed under sysClassDir (/sys/class/hidraw), each tried for reading and writing in
// devDir.
std::vector<HidrawNode> ListHidrawNodes(const std::string& sysClassDir, const std::string& devDir);

// Rules files whose name holds "quillon" in the folders udev reads.
std::vector<std::string> FindInstalledUdevRules();

// QUILLON_SYSROOT, or empty.
std::string SystemRoot();
