// The command line's parser, its number rules and the small pure helpers of quillon-cli.
#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "cli/Installation.h"
#include "cli/OverridePreferenceStore.h"
#include "cli/SystemChecks.h"
#include "platform/MemoryPreferenceStore.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

struct Parsed {
    int nResult;
    CliOptions options;
    std::string strOut, strErr;
};

// The command line "quillon-cli <line>", its words split at spaces.
Parsed Parse(const std::string& line)
{
    std::vector<std::string> args = {"quillon-cli"};
    std::istringstream words(line);
    for (std::string word; words >> word;)
        args.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    Parsed parsed;
    std::ostringstream out, err;
    parsed.nResult = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), parsed.options, out, err);
    parsed.strOut = out.str();
    parsed.strErr = err.str();
    return parsed;
}

TEST(CliNumbers, DecimalAndHexadecimalWholeTextOnly)
{
    std::string results;  // each value read, or "-" where the text is refused
    for (const char* pszText : {"0", "271", "0x10F", "0X10f", "0xffffffff", "4294967295", "4294967296", "0x100000000",
                                "", "0x", "12a", "-1", " 1", "1 ", "ff"}) {
        uint32_t value = 12345;
        results += ParseCliNumber(pszText, value) ? std::to_string(value) + " " : "- ";
    }
    EXPECT_EQ(results, "0 271 271 271 4294967295 4294967295 - - - - - - - - - ");
}

TEST(CliNumbers, ChipBytesAreTwoBytes)
{
    std::string results;  // the two bytes read, or "-" where the text is refused
    for (const char* pszText : {"0x00,0x03", "3,255", "3", "3,256", "0x100,1", ",1", "1,", "1,2,3", "a,b"}) {
        uint8_t chip[2] = {9, 9};
        results += ParseChipBytes(pszText, chip) ? std::to_string(chip[0]) + "," + std::to_string(chip[1]) + " " : "- ";
    }
    EXPECT_EQ(results, "0,3 3,255 - - - - - - - ");
}

TEST(CliParse, CommandsAndTheirArguments)
{
    // Options not given leave the stored preferences alone. (What each option sets shows end to end:
    // --sim, --json, --device, --no-update-all and --dry-run in CliE2e.)
    Parsed p = Parse("download img.bin");
    ASSERT_EQ(p.nResult, -1) << p.strErr;
    EXPECT_EQ(p.options.command, CliCommand::Download);
    EXPECT_FALSE(p.options.nMatchPolicy.has_value());
    EXPECT_FALSE(p.options.bVerify.has_value());

    // Several devices, each option taking one value, so that IMAGE after them stays IMAGE.
    p = Parse("download --device 0 --device /p img.bin --serial A,B --serial C -j 3");
    ASSERT_EQ(p.nResult, -1) << p.strErr;
    EXPECT_EQ(p.options.strImage, "img.bin");
    EXPECT_EQ(p.options.deviceList, (std::vector<std::string>{"0", "/p"}));
    EXPECT_EQ(p.options.serialList, (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(p.options.nJobs, 3u);

    // Global options may follow the command.
    p = Parse("upload out.bin --force --match-policy 0x10f --no-verify --quiet");
    ASSERT_EQ(p.nResult, -1) << p.strErr;
    EXPECT_EQ(p.options.command, CliCommand::Upload);
    EXPECT_TRUE(p.options.bForce);
    EXPECT_EQ(p.options.nMatchPolicy.value_or(0), 0x10Fu);
    EXPECT_EQ(p.options.bVerify, std::optional<bool>(false));
    EXPECT_TRUE(p.options.bQuiet);
}

TEST(CliParse, UsageErrorsEndWithStatusTwo)
{
    for (const char* pszLine :
         {"", "frobnicate", "download", "download a.bin --all --device 0", "download a.bin --all --serial S",
          "download a.bin --all --jobs 0", "download a.bin --dry-run --backup b.bin",
          "download a.bin --update-all --no-update-all --bogus", "--match-policy 0x1g list", "image",
          "image stamp in out --vid 0x10000 --pid 1 --version 1 --subversion 1 --chip 0,1",
          "image stamp in out --vid 1 --pid 1 --version 1 --subversion 1", "flash-table encrypt in", "upload"}) {
        const Parsed p = Parse(pszLine);
        EXPECT_EQ(p.nResult, EXIT_USAGE) << pszLine;
        EXPECT_FALSE(p.strErr.empty()) << pszLine;
    }
}

// Every command's --help ends with status 0 in cli_manual, which reads them all.
TEST(CliParse, HelpAndVersionEndWithStatusZero)
{
    Parsed p = Parse("--version");
    EXPECT_EQ(p.nResult, 0);
    EXPECT_NE(p.strOut.find("quillon-cli 2.1.0.1"), std::string::npos);
    p = Parse("image stamp --help");
    EXPECT_EQ(p.nResult, 0);
    EXPECT_NE(p.strOut.find("Usage"), std::string::npos);
}

TEST(CliParse, TyposAreAnsweredWithTheNearestName)
{
    const std::pair<const char*, const char*> cases[] = {
        {"lsit", "unknown command lsit; did you mean list?"},
        {"--versoin list", "unknown option --versoin; did you mean --version?"},
        {"--sim lsit lsit", "unknown command lsit; did you mean list?"},
        {"image stmap a b", "unknown command stmap; did you mean stamp?"},
        {"download a.bin --dry-rn", "unknown option --dry-rn; did you mean --dry-run?"},
        {"xyzzy", "unknown command xyzzy\n"},
        {"help flash-table shwo", "unknown command shwo; did you mean show?"},
    };
    for (const auto& [pszLine, pszExpected] : cases) {
        const Parsed p = Parse(pszLine);
        EXPECT_EQ(p.nResult, EXIT_USAGE) << pszLine;
        EXPECT_NE(p.strErr.find(pszExpected), std::string::npos) << p.strErr;
    }
    // With --json a usage error still ends with a result line.
    const nlohmann::json result = nlohmann::json::parse(Parse("--json lsit").strOut);
    EXPECT_EQ(result["status"], EXIT_USAGE);
    EXPECT_EQ(result["schema"], kJsonSchema);
    EXPECT_EQ(result["error"], "unknown command lsit; did you mean list?");
}

TEST(CliParse, EachCommandsHelpShowsTheGlobalOptionsItUses)
{
    Parsed p = Parse("");
    EXPECT_EQ(p.nResult, EXIT_USAGE);
    EXPECT_NE(p.strErr.find("Subcommands:"), std::string::npos);
    p = Parse("-q help download");
    EXPECT_EQ(p.nResult, EXIT_OK);
    EXPECT_NE(p.strOut.find("  --match-policy BITS"), std::string::npos) << p.strOut;
    EXPECT_NE(p.strOut.find("  --verify, --no-verify"), std::string::npos) << p.strOut;
    EXPECT_EQ(p.strOut.find("{false}"), std::string::npos) << p.strOut;
    p = Parse("flash-table encrypt --help");
    EXPECT_NE(p.strOut.find("  --log FILE"), std::string::npos) << p.strOut;
    EXPECT_EQ(p.strOut.find("--sim"), std::string::npos) << p.strOut;
    p = Parse("help");
    EXPECT_EQ(p.nResult, EXIT_OK);
    EXPECT_NE(p.strOut.find("Exit status: 0 success"), std::string::npos);
}

TEST(CliOutputLines, OnlyTheTrailingLineEndChanges)
{
    EXPECT_EQ(TerminalLine(QStringLiteral("Firmware upgrade started....\r\n")), "Firmware upgrade started....\n");
    EXPECT_EQ(TerminalLine(QStringLiteral("Firmware upgrade failed")), "Firmware upgrade failed\n");
    EXPECT_EQ(TerminalLine(QStringLiteral("a\r\nb\r\n")), "a\r\nb\n");
    EXPECT_EQ(TerminalLine(QStringLiteral("ends in cr\r")), "ends in cr\r\n");
}

TEST(CliOutputLines, TraceToStdoutMessagesToStderrAndJsonKeepsTheExactText)
{
    std::ostringstream out, err;
    CCliOutput text(out, err, false, false, false);
    text.Trace(QStringLiteral("Device is switched to DFU mode successfully!\r\n"));
    text.Message(QStringLiteral("Device switching to normal mode failed!\r\n"));
    EXPECT_EQ(out.str(), "Device is switched to DFU mode successfully!\n");
    EXPECT_EQ(err.str(), "Device switching to normal mode failed!\n");
    const CCliOutput::Seen seen = text.TakeSeen();
    EXPECT_EQ(seen.trace.size(), 1);
    EXPECT_EQ(seen.messages.size(), 1);
    EXPECT_TRUE(text.TakeSeen().trace.isEmpty());

    std::ostringstream jout, jerr;
    CCliOutput json(jout, jerr, true, false, true);
    json.Trace(QStringLiteral("Firmware upgrade started....\r\n"));
    json.OnProgress(10, 100);
    json.Message(QStringLiteral("Firmware upgrade failed"));
    json.Result({{"command", "upload"}, {"ok", false}}, "");
    json.Finish("upload", EXIT_FAILED);
    json.Finish("list", EXIT_NOT_FOUND);  // a command that gave no result still ends with one
    EXPECT_EQ(jout.str(), "{\"event\":\"trace\",\"schema\":2,\"text\":\"Firmware upgrade started....\\r\\n\"}\n"
                          "{\"done\":10,\"event\":\"progress\",\"schema\":2,\"total\":100}\n"
                          "{\"event\":\"message\",\"schema\":2,\"text\":\"Firmware upgrade failed\"}\n"
                          "{\"command\":\"upload\",\"event\":\"result\",\"ok\":false,\"schema\":2,\"status\":1}\n"
                          "{\"command\":\"list\",\"event\":\"result\",\"ok\":false,\"schema\":2,\"status\":3}\n");
    EXPECT_EQ(jerr.str(), "");
}

TEST(CliOutputLines, QuietHidesTraceButNotMessages)
{
    std::ostringstream out, err;
    CCliOutput quiet(out, err, false, true, true);
    quiet.Trace(QStringLiteral("Firmware upgrade started....\r\n"));
    quiet.OnProgress(50, 100);
    quiet.Message(QStringLiteral("Firmware upgrade failed"));
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "Firmware upgrade failed\n");
}

TEST(CliOutputLines, ProgressBarOnlyOnChangeAndErasedBeforeALine)
{
    std::ostringstream out, err;
    CCliOutput bar(out, err, false, false, true);
    bar.OnProgress(0, 0);  // nothing known yet: no bar
    EXPECT_EQ(err.str(), "");
    bar.OnProgress(4096, 8192);
    const std::string once = err.str();
    EXPECT_NE(once.find("50% 4096/8192 bytes"), std::string::npos);
    bar.OnProgress(4097, 8192);  // same percentage: not redrawn
    EXPECT_EQ(err.str(), once);
    bar.Trace(QStringLiteral("Firmware upgrade succeeded....\r\n"));
    EXPECT_EQ(err.str().substr(once.size()), "\r\033[K");
    EXPECT_EQ(out.str(), "Firmware upgrade succeeded....\n");
    bar.OnProgress(8192, 8192);
    bar.Trace(QStringLiteral("Firmware upgrade succeeded....\r\n"));  // the summary stays after it
    bar.EndProgress();
    EXPECT_TRUE(
        QString::fromStdString(err.str()).contains(QRegularExpression("\\r\\033\\[K8192 bytes in \\d+\\.\\d s\\n$")))
        << err.str();
}

TEST(CliOutputLines, ProgressFitsTheWidthAndShowsRateAndTimeLeft)
{
    const std::tuple<int, double, std::string> cases[] = {
        {80, 2.0, "[#########                           ] 25% 4096/16384 bytes 2.0 KiB/s 0:06 left"},
        {50, 2.0, "25% 4096/16384 bytes 2.0 KiB/s 0:06 left"},
        {50, 0.0, "[######                    ] 25% 4096/16384 bytes"},
        {20, 2.0, "[###          ] 25%"},
        {8, 2.0, "25%"},
    };
    for (const auto& [nColumns, dSeconds, expected] : cases) {
        const std::string line = ProgressText(4096, 16384, dSeconds, nColumns);
        EXPECT_LT(line.size(), static_cast<size_t>(nColumns));
        EXPECT_EQ(line, expected) << nColumns;
    }
}

TEST(CliOutputLines, LogStampCarriesTheOffsetFromUtc)
{
    const QDateTime time(QDate(2026, 12, 7), QTime(12, 0, 5, 42), QTimeZone(3600));
    EXPECT_EQ(LogStamp(time), "2026-12-07 12:00:05.042 +0100");
    EXPECT_EQ(LogStamp(time.toOffsetFromUtc(-(5 * 3600 + 30 * 60))), "2026-12-07 05:30:05.042 -0530");
}

TEST(CliPreferences, OverridesOnlyTheGivenValues)
{
    CMemoryPreferenceStore store;
    store.WriteProfileInt(QStringLiteral("Options"), QStringLiteral("MatchPolicy"), 0x3);
    store.WriteProfileInt(QStringLiteral("Options"), QStringLiteral("AutoVerify"), 1);
    COverridePreferenceStore policyOnly(store, 0x10Fu, std::nullopt);
    EXPECT_EQ(policyOnly.GetProfileInt(QStringLiteral("Options"), QStringLiteral("MatchPolicy"), 0), 0x10Fu);
    EXPECT_EQ(policyOnly.GetProfileInt(QStringLiteral("Options"), QStringLiteral("AutoVerify"), 0), 1u);
    COverridePreferenceStore verifyOff(store, std::nullopt, false);
    EXPECT_EQ(verifyOff.GetProfileInt(QStringLiteral("Options"), QStringLiteral("MatchPolicy"), 0), 0x3u);
    EXPECT_EQ(verifyOff.GetProfileInt(QStringLiteral("Options"), QStringLiteral("AutoVerify"), 0), 0u);
    EXPECT_EQ(verifyOff.GetProfileInt(QStringLiteral("Other"), QStringLiteral("AutoVerify"), 7), 7u);
}

TEST(CliDoctor, HidIdOfTheUeventText)
{
    uint16_t nVendor = 0, nProduct = 0;
    EXPECT_TRUE(ParseHidId("DRIVER=hid-generic\nHID_ID=0003:00002FE3:00001200\nHID_NAME=ZEL\n", nVendor, nProduct));
    EXPECT_EQ(nVendor, 0x2fe3);
    EXPECT_EQ(nProduct, 0x1200);
    EXPECT_FALSE(ParseHidId("HID_NAME=x\n", nVendor, nProduct));
    EXPECT_FALSE(ParseHidId("HID_ID=0003:00012FE3:00001200\n", nVendor, nProduct));
    EXPECT_FALSE(ParseHidId("HID_ID=garbage\n", nVendor, nProduct));
}

void WriteText(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

// Each kind of installation, told apart by the files around the data folder, and its fixes (a build
// tree's: CliE2e.DoctorNamesEachProblemWithItsFix).
TEST(CliDoctor, FixesFitHowTheProgramWasInstalled)
{
    QTemporaryDir tmp;
    const std::string t = tmp.path().toStdString(), root = t + "/root";
    WriteText(root + "/var/lib/dpkg/info/quillon-cli.list", "/usr/lib/quillon\n/usr/lib/quillon/quillon-cli\n");
    WriteText(root + "/var/lib/dpkg/status", "Package: quillon\nVersion: 9\n\nPackage: quillon-cli\nStatus: install ok "
                                             "installed\nArchitecture: arm64\nVersion: 1:2.1.0.1-1\n\n");
    const std::string apply = " && sudo udevadm control --reload-rules && sudo udevadm trigger";
    struct Case {
        std::string strDir, strArchive, strDataFix, strRulesFix;
    } cases[] = {
        {root + "/usr/lib/quillon/", "", "sudo apt-get install --reinstall ./quillon-cli_2.1.0.1-1_arm64.deb",
         "sudo apt-get install --reinstall ./quillon-cli_2.1.0.1-1_arm64.deb" + apply},
        {root + "/usr/lib/quillon/", "Package: quillon-cli\nVersion: 1:2.1.0.1-1\n",
         "sudo apt-get install --reinstall quillon-cli", "sudo apt-get install --reinstall quillon-cli" + apply},
        {root + "/usr/lib/quillon/",
         "Package: quillon-cli-extra\nVersion: 1:2.1.0.1-1\n\nPackage: quillon-cli\nVersion: 2\n",
         "sudo apt-get install --reinstall ./quillon-cli_2.1.0.1-1_arm64.deb", ""},
        {"/nonexistent/opt/lib/quillon/", "", "sudo cmake --install <build folder> --prefix /nonexistent/opt",
         "sudo cmake --install <build folder> --prefix /nonexistent/opt && sudo install -m 644 "
         "/nonexistent/opt/lib/udev/rules.d/70-quillon.rules /etc/udev/rules.d/" +
             apply},
        {t + "/copy/", "", "cp <the zel.dat of a Quillon build or package> " + t + "/copy/",
         "sudo install -m 644 <the 70-quillon.rules of a Quillon build or package> /etc/udev/rules.d/" + apply},
    };
    qputenv("QUILLON_SYSROOT", QByteArray::fromStdString(root));
    for (const Case& c : cases) {
        std::filesystem::remove_all(root + "/var/lib/apt");
        if (!c.strArchive.empty())
            WriteText(root + "/var/lib/apt/lists/deb.example_dists_main_binary-arm64_Packages", c.strArchive);
        const Installation installation = DetectInstallation(c.strDir);
        EXPECT_EQ(DataFileFix(installation, "zel.dat"), c.strDataFix) << c.strDir;
        EXPECT_EQ(UdevRulesFix(installation).substr(0, c.strRulesFix.size()), c.strRulesFix) << c.strDir;
    }
    qunsetenv("QUILLON_SYSROOT");
}

}  // namespace
