#include "cli/CliOptions.h"

#include "cli/CommandLine.h"

#include <nlohmann/json.hpp>

#include <algorithm>
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
    pCommand
        ->add_option("--device,-d", options.strDevice,
                     "Device: its index from `list` or its interface path (default: the first)")
        ->option_text("SEL");
    pCommand->add_option("--serial", options.serialList, "Device: its USB serial number")
        ->option_text("S")
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
        ->option_text("SEL")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    pCommand->add_option("--serial", options.serialList, "Device: its USB serial number; repeat or S1,S2 for several")
        ->option_text("S")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->delimiter(',');
    CLI::Option* pAll = pCommand->add_flag("--all", options.bAll, pszAll);
    pAll->excludes(pCommand->get_option("--device"));
    pAll->excludes(pCommand->get_option("--serial"));
    pCommand->add_option("--jobs,-j", options.nJobs, "Devices at once when several run (default: all)")
        ->option_text("N")
        ->check(CLI::PositiveNumber);
    pCommand->add_flag("--job", options.bJob)->group("");
    return pAll;
}

// The help without the "{false}" that CLI11 writes after a negated flag's name.
class CCliFormatter : public CLI::Formatter {
public:
    std::string make_option_name(const CLI::Option* pOption, bool bPositional) const override
    {
        return bPositional ? pOption->get_name(true, false) : OptionNames(*pOption);
    }
};

CLI::App* Subcommand(CLI::App* pCommand, const std::string& name)
{
    for (CLI::App* pSub : pCommand->get_subcommands({})) {
        if (pSub->check_name(name))
            return pSub;
    }
    return nullptr;
}

// Adds to each command's help the global options it uses.
void AddGlobalsFooters(CLI::App& app)
{
    for (const CliCommandGlobals& entry : CommandGlobals()) {
        CLI::App* pCommand = &app;
        std::string word;
        for (const char c : std::string(entry.pszCommand) + ' ') {
            if (c != ' ') {
                word += c;
                continue;
            }
            pCommand = Subcommand(pCommand, word);
            word.clear();
        }
        std::string footer = "Global options this command uses (before or after it):\n";
        for (const char* pszName : entry.globals) {
            const CLI::Option* pOption = app.get_option(pszName);
            std::string names = "  " + OptionNames(*pOption);
            if (pOption->get_items_expected_min() > 0)
                names += " " + pOption->get_option_text();
            names.resize(std::max<size_t>(names.size() + 1, 30), ' ');
            footer += names + pOption->get_description() + "\n";
        }
        pCommand->footer(footer);
    }
}

// Where a usage error lies: the first word that names no command or option, and the nearest name.
struct Misspelling {
    std::string strWord, strNearest;
    bool bOption = false;
};

std::string Nearest(const std::string& word, const std::vector<std::string>& names)
{
    std::string best;
    size_t nBest = std::max<size_t>(2, word.size() / 3) + 1;
    for (const std::string& name : names) {
        const size_t nDistance = EditDistance(word, name);
        if (nDistance < nBest) {
            nBest = nDistance;
            best = name;
        }
    }
    return best;
}

const CLI::Option* FindOption(CLI::App* pCommand, const std::string& name)
{
    for (; pCommand != nullptr; pCommand = pCommand->get_parent()) {
        for (const CLI::Option* pOption : pCommand->get_options()) {
            if (pOption->check_name(name))
                return pOption;
        }
    }
    return nullptr;
}

bool FindMisspelling(CLI::App& app, int argc, const char* const* argv, Misspelling& found, CLI::App*& pCommand)
{
    pCommand = &app;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--")
            return false;
        if (word.size() > 1 && word[0] == '-') {
            std::string name = word.substr(0, word.find('='));
            if (name[1] != '-')
                name = name.substr(0, 2);
            const CLI::Option* pOption = FindOption(pCommand, name);
            if (pOption == nullptr) {
                std::vector<std::string> names;
                for (CLI::App* pApp = pCommand; pApp != nullptr; pApp = pApp->get_parent()) {
                    for (const CLI::Option* pOther : pApp->get_options()) {
                        for (const std::string& lname : pOther->get_lnames())
                            names.push_back("--" + lname);
                    }
                }
                found = {word, Nearest(name, names), true};
                return true;
            }
            if (pOption->get_items_expected_min() > 0 && word.find('=') == std::string::npos &&
                name.size() == word.size())
                ++i;
            continue;
        }
        if (pCommand->get_subcommands({}).empty())
            continue;
        CLI::App* pNext = Subcommand(pCommand, word);
        if (pNext == nullptr) {
            std::vector<std::string> names;
            for (const CLI::App* pSub : pCommand->get_subcommands({}))
                names.push_back(pSub->get_name());
            found = {word, Nearest(word, names), false};
            return true;
        }
        pCommand = pNext;
    }
    return false;
}

// With --json a usage error also ends with a result line, so that a script reading stdout sees it.
void UsageResult(int argc, const char* const* argv, const std::string& command, const std::string& text,
                 std::ostream& out)
{
    if (std::find_if(argv + 1, argv + argc, [](const char* psz) { return std::string(psz) == "--json"; }) ==
        argv + argc)
        return;
    out << nlohmann::json{{"schema", kJsonSchema}, {"event", "result"},    {"command", command},
                          {"ok", false},           {"status", EXIT_USAGE}, {"error", text}}
               .dump()
        << '\n'
        << std::flush;
}

std::string CommandWords(const CLI::App* pCommand)
{
    std::string words;
    for (; pCommand != nullptr && pCommand->get_parent() != nullptr; pCommand = pCommand->get_parent())
        words.insert(0, words.empty() ? pCommand->get_name() : pCommand->get_name() + " ");
    return words;
}

// `help [COMMAND]`: the help of quillon-cli or of the command the words name.
int PrintHelp(CLI::App& app, const std::vector<std::string>& words, int argc, const char* const* argv,
              std::ostream& out, std::ostream& err)
{
    CLI::App* pCommand = &app;
    for (const std::string& word : words) {
        CLI::App* pNext = Subcommand(pCommand, word);
        if (pNext == nullptr) {
            std::vector<std::string> names;
            for (const CLI::App* pSub : pCommand->get_subcommands({}))
                names.push_back(pSub->get_name());
            const std::string nearest = Nearest(word, names);
            const std::string text =
                "unknown command " + word + (nearest.empty() ? "" : "; did you mean " + nearest + "?");
            err << "quillon-cli: " << text << '\n';
            UsageResult(argc, argv, "help", text, out);
            return EXIT_USAGE;
        }
        pCommand = pNext;
    }
    // Not App::help(), which shows the parsed `help` command's own help instead.
    const std::string name = pCommand == &app ? "quillon-cli" : "quillon-cli " + CommandWords(pCommand);
    out << pCommand->get_formatter()->make_help(pCommand, name, CLI::AppFormatMode::Normal);
    return EXIT_OK;
}

}  // namespace

const std::vector<CliCommandGlobals>& CommandGlobals()
{
    static const std::vector<CliCommandGlobals> table = {
        {"list", {"--sim", "--json", "--log", "--quiet"}},
        {"watch", {"--sim", "--json", "--log", "--quiet"}},
        {"info", {"--sim", "--json", "--log", "--quiet"}},
        {"download", {"--sim", "--json", "--match-policy", "--verify", "--log", "--quiet"}},
        {"upload", {"--sim", "--json", "--log", "--quiet"}},
        {"image info", {"--json", "--log"}},
        {"image stamp", {"--json", "--log"}},
        {"flash-table encrypt", {"--json", "--log"}},
        {"flash-table decrypt", {"--json", "--log"}},
        {"flash-table show", {"--json", "--log"}},
        {"config check", {"--json", "--log"}},
        {"doctor", {"--json", "--log"}},
    };
    return table;
}

std::string OptionNames(const CLI::Option& option)
{
    std::string names;
    for (const std::string& sname : option.get_snames())
        names += (names.empty() ? "-" : ", -") + sname;
    for (const std::string& lname : option.get_lnames())
        names += (names.empty() ? "--" : ", --") + lname;
    return names;
}

size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

std::vector<std::pair<std::string, CLI::App*>> LeafCommands(CLI::App& app)
{
    std::vector<std::pair<std::string, CLI::App*>> leaves;
    for (CLI::App* pCommand : app.get_subcommands({})) {
        if (pCommand->get_subcommands({}).empty()) {
            leaves.emplace_back(CommandWords(pCommand), pCommand);
            continue;
        }
        for (const auto& leaf : LeafCommands(*pCommand))
            leaves.push_back(leaf);
    }
    return leaves;
}

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

std::unique_ptr<CLI::App> BuildCommandLine(CliOptions& options, CliRawOptions& raw)
{
    auto pApp = std::make_unique<CLI::App>(
        "quillon-cli: firmware download and upload for HID DFU audio controllers, without a window.\n"
        "Exit status: 0 success, 1 refused or failed, 2 usage error, 3 no such device or file, 4 output lost,\n"
        "5 a device refused untouched (several devices), 6 a device in use by another program.",
        "quillon-cli");
    CLI::App& app = *pApp;
    app.formatter(std::make_shared<CCliFormatter>());
    app.set_version_flag("--version", CliVersionText());
    app.require_subcommand(1);
    app.fallthrough();

    app.add_option("--sim", options.strSimDir, "Work on the emulated devices described in this folder")
        ->option_text("DIR");
    app.add_flag("--json", options.bJson, "One JSON object per line for every event and result");
    app.add_option("--match-policy", raw.strMatchPolicy,
                   "Identity checks of a download for this run (bits: 0x1 vendor, 0x2 product, 0x4 version, "
                   "0x8 sub-version, 0x100 chipset); default: the stored preference")
        ->option_text("BITS")
        ->check(NumberCheck);
    raw.pVerify = app.add_flag("--verify,!--no-verify", raw.bVerifyFlag,
                               "Verify every flash write in this run; default: the stored preference");
    app.add_option("--log", options.strLogFile, "Append every trace line and message, timestamped, to this file")
        ->option_text("FILE");
    app.add_flag("--quiet,-q", options.bQuiet, "No trace lines and no progress bar on the terminal");

    CLI::App* pHelp = app.add_subcommand("help", "Show the help of quillon-cli or of a command");
    pHelp->add_option("COMMAND", raw.helpWords, "The command, in one or two words");
    pHelp->callback([&] { options.command = CliCommand::Help; });

    CLI::App* pList = app.add_subcommand("list", "List the devices as the window lists them");
    pList->callback([&] { options.command = CliCommand::List; });

    CLI::App* pWatch =
        app.add_subcommand("watch", "List the devices, then trace every device that arrives or leaves until Ctrl-C");
    pWatch->add_option("--seconds", options.nWatchSeconds, "Stop after this many seconds")
        ->option_text("N")
        ->check(CLI::Range(1u, 31536000u));
    pWatch->callback([&] { options.command = CliCommand::Watch; });

    CLI::App* pInfo = app.add_subcommand("info", "Show one device");
    AddDeviceOption(pInfo, options);
    pInfo->callback([&] { options.command = CliCommand::Info; });

    CLI::App* pDownload = app.add_subcommand("download", "Download a firmware image into a device");
    pDownload->add_option("IMAGE", options.strImage, "Firmware image file (.bin)")->required();
    AddDeviceListOptions(pDownload, options, "Download into every listed device, several at once");
    raw.pUpdateAll =
        pDownload->add_flag("--update-all,!--no-update-all", raw.bUpdateAllFlag,
                            "Write the boot-loader blocks too (or not); only where the device makes it optional");
    pDownload->add_flag("--dry-run", options.bDryRun,
                        "Only check the image against the device and show the blocks that would be written");
    CLI::Option* pBackup = pDownload
                               ->add_option("--backup", options.strBackup,
                                            "Upload the device's firmware into this file first; stop if that fails")
                               ->option_text("FILE");
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
    pStamp->add_option("--vid", raw.strVid, "Vendor ID")->option_text("V")->required()->check([](const std::string& t) {
        return ByteCheck(t, 0xFFFF);
    });
    pStamp->add_option("--pid", raw.strPid, "Product ID")
        ->option_text("P")
        ->required()
        ->check([](const std::string& t) { return ByteCheck(t, 0xFFFF); });
    pStamp->add_option("--version", raw.strVersion, "Version (32 bits; the low 16 are shown and compared)")
        ->option_text("N")
        ->required()
        ->check(NumberCheck);
    pStamp->add_option("--subversion", raw.strSubVersion, "Sub-version (32 bits)")
        ->option_text("N")
        ->required()
        ->check(NumberCheck);
    pStamp->add_option("--chip", raw.strChip, "The two chip bytes, B1,B2")
        ->option_text("B1,B2")
        ->required()
        ->check([](const std::string& t) {
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

    AddGlobalsFooters(app);
    return pApp;
}

int ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::ostream& out, std::ostream& err)
{
    CliRawOptions raw;
    const std::unique_ptr<CLI::App> pApp = BuildCommandLine(options, raw);
    CLI::App& app = *pApp;

    if (argc <= 1) {
        err << app.help();
        return EXIT_USAGE;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        Misspelling found;
        CLI::App* pCommand = nullptr;
        const bool bFound = FindMisspelling(app, argc, argv, found, pCommand);
        std::string text = e.what();
        if (bFound) {
            text = std::string(found.bOption ? "unknown option " : "unknown command ") + found.strWord +
                   (found.strNearest.empty() ? "" : "; did you mean " + found.strNearest + "?");
            err << "quillon-cli: " << text << "\nRun with --help for more information.\n";
        } else {
            app.exit(e, out, err);
        }
        UsageResult(argc, argv, CommandWords(pCommand), text, out);
        return EXIT_USAGE;
    }
    if (options.command == CliCommand::Help)
        return PrintHelp(app, raw.helpWords, argc, argv, out, err);

    if (!raw.strMatchPolicy.empty())
        options.nMatchPolicy = Number(raw.strMatchPolicy);
    if (raw.pVerify->count() > 0)
        options.bVerify = raw.bVerifyFlag;
    if (raw.pUpdateAll->count() > 0)
        options.bUpdateAll = raw.bUpdateAllFlag;
    if (options.command == CliCommand::ImageStamp) {
        options.nVid = static_cast<uint16_t>(Number(raw.strVid));
        options.nPid = static_cast<uint16_t>(Number(raw.strPid));
        options.nVersion = Number(raw.strVersion);
        options.nSubVersion = Number(raw.strSubVersion);
        ParseChipBytes(raw.strChip, options.abyChip);
    }
    return -1;
}
