#include "cli/CliOptions.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <ostream>

const char* CliVersionText()
{
    return "quillon-cli 2.1.0.1";
}

namespace {

std::string NumberCheck(const std::string& text)
{
    uint32_t value = 0;
    return ParseCliNumber(text, value) ? std::string() : "not a number (decimal, or hexadecimal after 0x): " + text;
}

std::string ByteCheck(const std::string& text, uint32_t nMax)
{
    uint32_t value = 0;
    if (!ParseCliNumber(text, value))
        return "not a number (decimal, or hexadecimal after 0x): " + text;
    if (value > nMax)
        return "too large: " + text;
    return {};
}

uint32_t Number(const std::string& text)
{
    uint32_t value = 0;
    ParseCliNumber(text, value);
    return value;
}

void AddDeviceOption(CLI::App* pCommand, CliOptions& options)
{
    pCommand->add_option("--device,-d", options.strDevice,
                         "Device: its index from `list` or its interface path (default: the first)");
    pCommand->add_option("--serial", options.serialList, "Device: its USB serial number")
        ->excludes(pCommand->get_option("--device"))
        ->expected(1);
}

// download and upload: one device or several (run at once); with several connected one must be named.
CLI::Option* AddDeviceListOptions(CLI::App* pCommand, CliOptions& options, const char* pszAll)
{
    // One value per occurrence, so that a positional argument after it is never taken for a device.
    pCommand
        ->add_option("--device,-d", options.deviceList,
                     "Device: its index from `list` or its interface path; repeat for several")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    pCommand->add_option("--serial", options.serialList, "Device: its USB serial number; repeat or S1,S2 for several")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->delimiter(',');
    CLI::Option* pAll = pCommand->add_flag("--all", options.bAll, pszAll);
    pAll->excludes(pCommand->get_option("--device"));
    pAll->excludes(pCommand->get_option("--serial"));
    pCommand->add_option("--jobs,-j", options.nJobs, "Devices at once when several run (default: all)")
        ->check(CLI::PositiveNumber);
    pCommand->add_flag("--job", options.bJob)->group("");
    return pAll;
}

}  // namespace

bool ParseCliNumber(const std::string& text, uint32_t& value)
{
    size_t nPos = 0;
    int nBase = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        nBase = 16;
        nPos = 2;
    }
    if (nPos >= text.size())
        return false;
    uint64_t nResult = 0;
    for (; nPos < text.size(); ++nPos) {
        const unsigned char c = static_cast<unsigned char>(text[nPos]);
        int nDigit;
        if (std::isdigit(c))
            nDigit = c - '0';
        else if (nBase == 16 && std::isxdigit(c))
            nDigit = std::tolower(c) - 'a' + 10;
        else
            return false;
        nResult = nResult * nBase + nDigit;
        if (nResult > 0xFFFFFFFFull)
            return false;
    }
    value = static_cast<uint32_t>(nResult);
    return true;
}

bool ParseChipBytes(const std::string& text, uint8_t abyChip[2])
{
    const size_t nComma = text.find(',');
    if (nComma == std::string::npos)
        return false;
    uint32_t nFirst = 0, nSecond = 0;
    if (!ParseCliNumber(text.substr(0, nComma), nFirst) || !ParseCliNumber(text.substr(nComma + 1), nSecond))
        return false;
    if (nFirst > 0xFF || nSecond > 0xFF)
        return false;
    abyChip[0] = static_cast<uint8_t>(nFirst);
    abyChip[1] = static_cast<uint8_t>(nSecond);
    return true;
}

int ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::ostream& out, std::ostream& err)
{
    CLI::App app{
        "quillon-cli: firmware download and upload for HID DFU audio controllers, without a window.\n"
        "Exit status: 0 success, 1 refused or failed, 2 usage error, 3 no such device or file, 4 output lost,\n"
        "5 a device refused untouched (several devices), 6 a device in use by another program.",
        "quillon-cli"};
    app.set_version_flag("--version", CliVersionText());
    app.require_subcommand(1);
    app.fallthrough();

    std::string strMatchPolicy;
    app.add_option("--sim", options.strSimDir, "Work on the emulated devices described in this folder");
    app.add_flag("--json", options.bJson, "One JSON object per line for every event and result");
    app.add_option("--match-policy", strMatchPolicy,
                   "Identity checks of a download for this run (bits: 0x1 vendor, 0x2 product, 0x4 version, "
                   "0x8 sub-version, 0x100 chipset); default: the stored preference")
        ->check(NumberCheck);
    bool bVerifyFlag = false;
    CLI::Option* pVerify = app.add_flag("--verify,!--no-verify", bVerifyFlag,
                                        "Verify every flash write in this run; default: the stored preference");
    app.add_option("--log", options.strLogFile, "Append every trace line and message, timestamped, to this file");
    app.add_flag("--quiet,-q", options.bQuiet, "No trace lines and no progress bar on the terminal");

    CLI::App* pList = app.add_subcommand("list", "List the devices as the window lists them");
    pList->callback([&] { options.command = CliCommand::List; });

    CLI::App* pInfo = app.add_subcommand("info", "Show one device");
    AddDeviceOption(pInfo, options);
    pInfo->callback([&] { options.command = CliCommand::Info; });

    CLI::App* pDownload = app.add_subcommand("download", "Download a firmware image into a device");
    pDownload->add_option("IMAGE", options.strImage, "Firmware image file (.bin)")->required();
    AddDeviceListOptions(pDownload, options, "Download into every listed device, several at once");
    bool bUpdateAllFlag = false;
    CLI::Option* pUpdateAll =
        pDownload->add_flag("--update-all,!--no-update-all", bUpdateAllFlag,
                            "Write the boot-loader blocks too (or not); only where the device makes it optional");
    pDownload->add_flag("--dry-run", options.bDryRun,
                        "Only check the image against the device and show the blocks that would be written");
    CLI::Option* pBackup = pDownload->add_option(
        "--backup", options.strBackup, "Upload the device's firmware into this file first; stop if that fails");
    pBackup->excludes("--dry-run");
    pDownload->callback([&] { options.command = CliCommand::Download; });

    CLI::App* pUpload = app.add_subcommand("upload", "Read a device's firmware into a file");
    pUpload->add_option("FILE", options.strFile, "Output file")->required();
    AddDeviceListOptions(pUpload, options, "Read every listed device, each into FILE named after it");
    pUpload->add_flag("--force", options.bForce, "Replace FILE if it exists");
    pUpload->callback([&] { options.command = CliCommand::Upload; });

    CLI::App* pImage = app.add_subcommand("image", "Firmware image tools");
    pImage->require_subcommand(1);
    CLI::App* pImageInfo = pImage->add_subcommand("info", "Show the identity record of an image");
    pImageInfo->add_option("FILE", options.strIn, "Firmware image file")->required();
    pImageInfo->callback([&] { options.command = CliCommand::ImageInfo; });
    CLI::App* pStamp = pImage->add_subcommand("stamp", "Write an identity record into a raw image");
    pStamp->add_option("IN", options.strIn, "Raw image")->required();
    pStamp->add_option("OUT", options.strOut, "Stamped image to write")->required();
    std::string strVid, strPid, strVersion, strSubVersion, strChip;
    pStamp->add_option("--vid", strVid, "Vendor ID")->required()->check([](const std::string& t) {
        return ByteCheck(t, 0xFFFF);
    });
    pStamp->add_option("--pid", strPid, "Product ID")->required()->check([](const std::string& t) {
        return ByteCheck(t, 0xFFFF);
    });
    pStamp->add_option("--version", strVersion, "Version (32 bits; the low 16 are shown and compared)")
        ->required()
        ->check(NumberCheck);
    pStamp->add_option("--subversion", strSubVersion, "Sub-version (32 bits)")->required()->check(NumberCheck);
    pStamp->add_option("--chip", strChip, "The two chip bytes, B1,B2")->required()->check([](const std::string& t) {
        uint8_t abyChip[2];
        return ParseChipBytes(t, abyChip) ? std::string() : "expected two bytes B1,B2: " + t;
    });
    pStamp->add_flag("--append", options.bAppend,
                     "Add the record after the image when it has none and its last bytes are not erased");
    pStamp->add_flag("--force", options.bForce, "Replace OUT if it exists");
    pStamp->callback([&] { options.command = CliCommand::ImageStamp; });

    CLI::App* pFlash = app.add_subcommand("flash-table", "Flash chip table (zel.dat) tools");
    pFlash->require_subcommand(1);
    CLI::App* pEncrypt = pFlash->add_subcommand("encrypt", "Encrypt a plain table text into zel.dat form");
    pEncrypt->add_option("IN", options.strIn, "Plain table text")->required();
    pEncrypt->add_option("OUT", options.strOut, "Encrypted table to write")->required();
    pEncrypt->add_flag("--force", options.bForce, "Replace OUT if it exists");
    pEncrypt->callback([&] { options.command = CliCommand::FlashTableEncrypt; });
    CLI::App* pDecrypt = pFlash->add_subcommand("decrypt", "Decrypt zel.dat into its plain table text");
    pDecrypt->add_option("IN", options.strIn, "Encrypted table")->required();
    pDecrypt->add_option("OUT", options.strOut, "Plain table text to write")->required();
    pDecrypt->add_flag("--force", options.bForce, "Replace OUT if it exists");
    pDecrypt->callback([&] { options.command = CliCommand::FlashTableDecrypt; });
    CLI::App* pShow = pFlash->add_subcommand("show", "Show the chips of an encrypted table as the program loads it");
    pShow->add_option("FILE", options.strIn, "Encrypted table (default: the program's zel.dat)");
    pShow->callback([&] { options.command = CliCommand::FlashTableShow; });

    CLI::App* pConfig = app.add_subcommand("config", "Configuration tools");
    pConfig->require_subcommand(1);
    CLI::App* pCheck = pConfig->add_subcommand("check", "Load Quillon.ini and zel.dat as the program does and report");
    pCheck->add_option("DIR", options.strDir, "Folder holding Quillon.ini and zel.dat (default: the program's)");
    pCheck->callback([&] { options.command = CliCommand::ConfigCheck; });

    CLI::App* pDoctor = app.add_subcommand("doctor", "Find what keeps devices or data files from working here");
    pDoctor->callback([&] { options.command = CliCommand::Doctor; });

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        app.exit(e, out, err);
        return EXIT_USAGE;
    }

    if (!strMatchPolicy.empty())
        options.nMatchPolicy = Number(strMatchPolicy);
    if (pVerify->count() > 0)
        options.bVerify = bVerifyFlag;
    if (pUpdateAll->count() > 0)
        options.bUpdateAll = bUpdateAllFlag;
    if (options.command == CliCommand::ImageStamp) {
        options.nVid = static_cast<uint16_t>(Number(strVid));
        options.nPid = static_cast<uint16_t>(Number(strPid));
        options.nVersion = Number(strVersion);
        options.nSubVersion = Number(strSubVersion);
        ParseChipBytes(strChip, options.abyChip);
    }
    return -1;
}
