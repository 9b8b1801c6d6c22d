// quillon-udev-rules: writes the udev rules for the devices a Quillon.ini serves, read by the program's
// own loaders. The build runs it on the shipped configuration, so the package grants access to exactly
// the product IDs it knows.
#include "base/HeapBlock.h"
#include "config/Configuration.h"
#include "platform/NativePath.h"
#include "platform/OutputFile.h"
#include "platform/ProfileReader.h"

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <utility>

namespace {

const char kHeader[] =
    "# Quillon: access to the hidraw nodes of the devices Quillon serves, in normal mode, DFU mode and\n"
    "# recovery (a device keeps its vendor and product ID in each). Made by the build from the [KnownIDs]\n"
    "# and [DfuPatchInfos] tables of the Quillon.ini installed with the programs.\n"
    "#\n"
    "# TAG+=\"uaccess\": the user logged in at the machine's seat gets access; this file sorts before\n"
    "# 73-seat-late.rules, which turns the tag into an access control entry.\n"
    "# GROUP=\"plugdev\", MODE=\"0660\": on a station without a seat (ssh, a service), the members of the\n"
    "# group plugdev get access: sudo usermod -aG plugdev USER, then log in again.\n"
    "#\n"
    "# To serve other devices or to take the group's access away, copy this file under the same name to\n"
    "# /etc/udev/rules.d/ (the copy overrides it), edit the copy, then apply it:\n"
    "#   sudo udevadm control --reload-rules && sudo udevadm trigger --subsystem-match=hidraw --action=change\n"
    "\n";

// The IDs as the kernel names a USB HID device: 0003:VVVV:PPPP.NNNN, upper-case hex. Matching that name
// rather than the USB device's attributes also serves devices without a USB parent (uhid).
std::string UpperHex(uint16_t nValue)
{
    char sz[8];
    std::snprintf(sz, sizeof sz, "%04X", nValue);
    return sz;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: quillon-udev-rules QUILLON_INI RULES_FILE\n");
        return 2;
    }
    std::unique_ptr<IProfileReader> pProfile = CreateFileProfileReader();
    const ProfileSource profile{pProfile.get(), PathFromNative(std::string(argv[1]))};
    CHeapBlock<_ZEL_USB_DEV_ID_INFO> knownIds;
    CHeapBlock<_ZEL_USB_DEV_INFO> patchInfos;
    std::set<std::pair<uint16_t, uint16_t>> ids;
    if (LoadKnownIdTable(profile, knownIds))
        for (const _ZEL_USB_DEV_ID_INFO* p = knownIds.get(); p->wVendorId; ++p)
            ids.emplace(p->wVendorId, p->wProductId);
    if (LoadDfuPatchTable(profile, patchInfos))
        for (const _ZEL_USB_DEV_INFO* p = patchInfos.get(); p->wVendorId; ++p)
            ids.emplace(p->wVendorId, p->wProductId);
    if (ids.empty()) {
        std::fprintf(stderr, "quillon-udev-rules: %s names no device in [KnownIDs] or [DfuPatchInfos]\n", argv[1]);
        return 1;
    }
    std::string text = kHeader;
    for (const auto& [nVendor, nProduct] : ids)
        text += "SUBSYSTEM==\"hidraw\", KERNELS==\"0003:" + UpperHex(nVendor) + ":" + UpperHex(nProduct) +
                ".*\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\"\n";
    std::string reason;
    if (!WriteWholeFile(PathFromNative(std::string(argv[2])), text.data(), text.size(), true, reason)) {
        std::fprintf(stderr, "quillon-udev-rules: cannot write %s: %s\n", argv[2], reason.c_str());
        return 1;
    }
    return 0;
}
