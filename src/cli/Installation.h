// How this copy of quillon-cli came onto the machine, and the commands that repair each kind of
// installation: doctor's fixes must work where they are given.
#pragma once

#include <string>

enum class InstallKind {
    ArchivePackage,  // the Debian package, in a version an apt source offers
    LocalPackage,    // the Debian package, installed from a .deb file
    InstallTree,     // `cmake --install` under a prefix (…/lib/quillon/)
    BuildTree,       // the build folder's bin/ (CMakeCache.txt one level up)
    Folder,          // a copy anywhere else
};

struct Installation {
    InstallKind kind = InstallKind::Folder;
    std::string strDataDir;   // ends with '/'
    std::string strDebFile;   // LocalPackage: quillon-cli_<version>_<arch>.deb
    std::string strPrefix;    // InstallTree: the prefix, ending with '/'
    std::string strBuildDir;  // BuildTree: the build folder, no '/' at the end
};

// The installation whose data folder is dataDir (a canonical path ending with '/'). The package
// database and apt's lists are read under QUILLON_SYSROOT when that is set.
Installation DetectInstallation(const std::string& dataDir);

// The command that brings back a data file (Quillon.ini, zel.dat) of this installation.
std::string DataFileFix(const Installation& installation, const std::string& fileName);

// The command that installs the udev rules and applies them to the nodes already present.
std::string UdevRulesFix(const Installation& installation);
