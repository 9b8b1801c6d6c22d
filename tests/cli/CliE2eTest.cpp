// quillon-cli end to end: the built program against the emulator's example devices, its data files
// beside it in the build tree. Exit status, exact stdout and stderr lines, JSON lines.
#include "CliE2e.h"

#include <QProcess>
#include <QRegularExpression>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <grp.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kImage1200 = CCliScratch::ExampleImage("za1200-fw-0106.bin");
const std::string kImage2400 = CCliScratch::ExampleImage("za2400-fw-0211.bin");
const std::string kNoIdentity = CCliScratch::ExampleImage("no-identity.bin");
const std::string kProductMismatch = "Product ID of firmware doesn't match device product ID!";
const std::vector<std::string> kDownloadLines = {"Waiting until device is switched to DFU mode!",
                                                 "Device is switched to DFU mode successfully!",
                                                 "Firmware upgrade started....",
                                                 "Firmware upgrade succeeded....",
                                                 "Waiting until device is switched to normal mode....",
                                                 "Device is switched to normal mode successfully!"};
const std::vector<std::string> kUploadLines = {
    kDownloadLines[0], kDownloadLines[1], "Firmware upload started....", "Firmware upload succeeded!",
    kDownloadLines[4], kDownloadLines[5]};

// The program in the background; Until reads its stdout until it holds the text.
class CBackground {
public:
    explicit CBackground(const std::vector<std::string>& args)
    {
        QStringList arguments;
        for (const std::string& a : args)
            arguments << QString::fromStdString(a);
        m_process.start(QString::fromStdString(CCliScratch::Program()), arguments);
    }
    bool Until(const std::string& text)
    {
        m_out += m_process.readAllStandardOutput();
        while (!m_out.contains(text.c_str()) && m_process.waitForReadyRead(30000))
            m_out += m_process.readAllStandardOutput();
        return m_out.contains(text.c_str());
    }
    std::string Out() { return (m_out += m_process.readAllStandardOutput()).toStdString(); }
    QProcess m_process;
    QByteArray m_out;
};

// The lines as the JSON trace events carry them.
std::vector<std::string> Crlf(std::vector<std::string> lines)
{
    for (std::string& line : lines)
        line += "\r\n";
    return lines;
}

std::string Hex(int nDigits, uint32_t nValue)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%0*x", nDigits, nValue);
    return hex;
}

TEST_F(CliE2e, ListShowsEachDeviceAsTheWindowShowsItAndInfoChoosesOne)
{
    const CliRun list = scratch.RunSim({"--json", "list"});
    ASSERT_EQ(list.nExit, 0) << list;
    ASSERT_EQ(list.JsonLines().size(), 1u) << list;
    const nlohmann::json devices = list.JsonLines()[0]["devices"];
    ASSERT_EQ(devices.size(), 4u) << list;
    for (int i = 0; i < 4; ++i) {
        const ExampleDevice& e = kExampleDevices[i];
        const nlohmann::json expected = {{"index", i},
                                         {"path", DevicePath(i)},
                                         {"product", e.Product()},
                                         {"vendor_id", Hex(4, e.nVendorId)},
                                         {"product_id", Hex(4, e.nProductId)},
                                         {"version", Hex(4, e.nVersion)},
                                         {"subversion", Hex(8, e.nSubVersion)},
                                         {"chipset", e.pszChipset},
                                         {"boot_loader", e.bBootLoader},
                                         {"update_all_optional", e.bUpdateAllOptional}};
        for (const auto& [key, value] : expected.items())
            EXPECT_EQ(devices[i][key], value) << e.pszStem << " " << key;
    }
    // By index, path or serial number, each the same device.
    const std::string serial = devices[1]["serial"];
    EXPECT_EQ(serial, "ZA2400-000207");
    for (const auto& [option, value] : std::vector<std::pair<std::string, std::string>>{
             {"--device", "1"}, {"--device", DevicePath(1)}, {"--serial", serial}}) {
        const CliRun info = scratch.RunSim({"--json", "info", option, value});
        EXPECT_EQ(info.nExit, 0) << info;
        EXPECT_EQ(info.JsonLines().at(0)["device"], devices[1]) << option;
    }
    const CliRun dry = scratch.RunSim({"--json", "download", kImage1200, "--serial", serial, "--dry-run"});
    EXPECT_EQ(dry.Event("dry-run")["index"], 1) << dry;

    // The text form: no census, one block per device in list order; info alone shows No.0.
    const std::string block = Lines({"No.0: " + DevicePath(0), "  Product:     ZEL ZA1200 Audio",
                                     "  Vendor ID:   0x2fe3", "  Product ID:  0x1200", "  Version:     0x0105",
                                     "  Subversion:  0x12000134", "  Chipset:     ZA1200+ZH880", "  Boot loader: yes",
                                     "  Update All:  optional", "  Serial:      ZA1200-000101"});
    Expect({{{"list"}, 0, AllOf(StartsWith(block), Not(HasSubstr("devices found"))), ""},
            {{"info"}, 0, StartsWith("No.0: " + DevicePath(0) + "\n")}});
}

// Errors and refusals: the exact message, the status, and nothing written.
TEST_F(CliE2e, RefusalsSayWhyAndTouchNothing)
{
    const std::string backup = scratch.Path("backup.bin"), up = scratch.Path("up.bin"), empty = scratch.Path("empty");
    const std::string missing = scratch.Path("missing.bin"), noLog = scratch.Path("no/such/folder.log");
    const std::string nothing = scratch.SimDir() + "/nothing.json", nowhere = scratch.Path("nowhere");
    WriteFileText(backup, "keep me");
    fs::create_directory(empty);
    ASSERT_EQ(scratch.RunSim({"list"}).nExit, 0);  // the devices' flash files exist from here
    const auto before = SimFiles();
    // With several devices and none named, download and upload list the candidates.
    const auto candidates = AllOf(HasSubstr("4 devices are connected; name one"),
                                  HasSubstr("  No.1 " + DevicePath(1) + " serial ZA2400-000207"));
    const auto updateAll = [this](const std::string& flag) {
        return "quillon-cli: " + flag + ": \"Update All\" is not optional for device No.2 (" + DevicePath(2) +
               "); the window keeps it checked and disabled, so its boot-loader blocks are always written\n";
    };
    Expect({
        {{"download", kImage1200}, 2, _, candidates},
        {{"upload", up}, 2, _, candidates},
        {{"download", kImage1200, "--serial", "NONE"}, 3, _, "quillon-cli: no such device: serial number NONE\n"},
        {{"info", "--device", "99"}, 3, "", "quillon-cli: no such device: 99\n"},
        {{"download", kImage1200, "--device", "99"}, 3, _, "quillon-cli: no such device: 99\n"},
        {{"info", "--device", nothing}, 3, "", "quillon-cli: no such device: " + nothing + "\n"},
        {{"--sim", empty, "info"}, 3, _, "quillon-cli: no device found\n"},
        {{"--sim", empty, "list"}, 0, "No device found.\n"},
        {{"--sim", nowhere, "list"}, 3, _, "quillon-cli: the emulator folder " + nowhere + " (--sim) does not exist\n"},
        {{"download", missing}, 3, _, "quillon-cli: no such file: " + missing + "\n"},
        // An image without identity is refused on opening under a non-zero policy.
        {{"--match-policy", "1", "download", kNoIdentity, "--device", "0"},
         1,
         _,
         "Incorrect image file, no useful information found!\n"},
        {{"--match-policy", "0x2", "download", kImage2400, "--device", "0"}, 1, _, kProductMismatch + "\n"},
        {{"download", kImage1200, "--device", "2", "--update-all"}, 2, _, updateAll("--update-all")},
        {{"download", kImage1200, "--device", "2", "--no-update-all"}, 2, _, updateAll("--no-update-all")},
        // A dry run of a mismatch shows every failing row; only the check as the download runs it shows its
        // message.
        {{"--match-policy", "0x10f", "download", kImage2400, "--device", "0", "--dry-run"},
         1,
         AllOf(HasSubstr("  Vendor ID:     pass\n"), HasSubstr("  Product ID:    fail (" + kProductMismatch + ")\n"),
               HasSubstr("  Subversion:    fail (Sub-version of firmware doesn't match device sub-version!)\n"),
               HasSubstr("  Verdict:       the download would be refused\n")),
         kProductMismatch + "\n"},
        {{"upload", backup, "--device", "0"}, 1, "", "quillon-cli: " + backup + " exists; add --force to replace it\n"},
        {{"download", kImage1200, "--backup", backup},
         1,
         _,
         "quillon-cli: " + backup + " exists; a backup never replaces a file\n"},
        {{"--log", noLog, "list"},
         3,
         _,
         "quillon-cli: cannot open the log file " + noLog + ": No such file or directory\n"},
        {{"--json", "--log", noLog, "list"}, 3, HasSubstr("\"schema\":2,\"status\":3}\n")},
        {{"image", "info", kNoIdentity}, 1},
        {{"image", "info", "nothing.bin"}, 3},
    });
    EXPECT_EQ(SimFiles(), before);
    EXPECT_EQ(ReadFileText(backup), "keep me");
    EXPECT_FALSE(fs::exists(up));

    // The window's preference store is the command line's: "Quillon" under "ZEL". The options override it
    // for one run and never write it.
    const std::string config = scratch.Path("config"), store = config + "/ZEL/Quillon.conf";
    fs::create_directories(config + "/ZEL");
    WriteFileText(store, "[Options]\nMatchPolicy=2\nAutoVerify=1\n");
    const std::map<std::string, std::string> env = {{"XDG_CONFIG_HOME", config}};
    const CliRun stored =
        scratch.Run({"--sim", scratch.SimDir(), "--quiet", "download", kImage2400, "--device", "0"}, env);
    EXPECT_EQ(stored.nExit, 1);
    EXPECT_EQ(stored.strErr, kProductMismatch + "\n");
    const CliRun overridden = scratch.Run({"--sim", scratch.SimDir(), "--quiet", "--match-policy", "0", "download",
                                           kImage2400, "--device", "0", "--dry-run"},
                                          env);
    EXPECT_EQ(overridden.nExit, 0) << overridden;
    EXPECT_EQ(ReadFileText(store), "[Options]\nMatchPolicy=2\nAutoVerify=1\n");

    // --force replaces the file.
    Expect({{{"upload", backup, "--device", "0", "--force"}, 0, Lines(Concat(Census(), kUploadLines)), ""}});
    EXPECT_EQ(fs::file_size(backup), 65536u);
}

// Why a download failed: the device library's account of the last failed exchange, in the JSON result
// and after the window's own lines on stdout and in the log; a refusal's own message in the result. (An
// unplugged device's account takes the same way; its text: FaultTest.)
TEST_F(CliE2e, FailedDownloadsSayWhy)
{
    struct Case {
        nlohmann::json faults;
        std::string image, policy, reason;
        bool bFromDevice;
    };
    const Case cases[] = {
        {{{"refuseDfu", true}}, kImage1200, "0", "enter DFU: refused", true},
        {{{"flashIdFails", true}}, kImage1200, "0", "flash ID: flash identification failed", true},
        {nlohmann::json::object(), kImage2400, "0x2", kProductMismatch, false},
    };
    int nCase = 0;
    for (const Case& c : cases) {
        for (const bool bJson : {true, false}) {
            SCOPED_TRACE(c.reason + (bJson ? " (json)" : ""));
            const std::string sim = World("why" + std::to_string(nCase++), {{"za1200", {{"faults", c.faults}}}});
            std::vector<std::string> args = {"--sim",          sim,      "--log",    sim + ".log",
                                             "--match-policy", c.policy, "download", c.image};
            if (bJson)
                args.insert(args.begin(), "--json");
            const CliRun run = scratch.Run(args);
            EXPECT_EQ(run.nExit, 1) << run;
            const nlohmann::json result = bJson ? run.JsonLines().back() : nlohmann::json::object();
            if (bJson)
                EXPECT_EQ(std::tie(result["event"], result["ok"], result["reason"]),
                          std::make_tuple("result", false, c.reason))
                    << run;
            else if (c.bFromDevice)
                EXPECT_EQ(run.OutLines().back(), "Reason: " + c.reason);
            else
                EXPECT_THAT(run.strOut, Not(HasSubstr("Reason:"))) << "the message on stderr says why";
            EXPECT_EQ(ReadFileText(sim + ".log").find(" reason " + c.reason + "\n") != std::string::npos,
                      c.bFromDevice);
        }
    }
}

// A download, then an upload that reads back what it wrote: the window's trace, the JSON lines and the
// log of each.
TEST_F(CliE2e, DownloadAndUploadTraceEveryStep)
{
    Expect({{{"--match-policy", "0x10f", "download", kImage1200, "--device", "0"},
             0,
             Lines(Concat(Concat(Census(), {"Open DFU file " + kImage1200 + " succeeded"}), kDownloadLines)),
             ""}});

    const std::string log = scratch.Path("run.log");
    const CliRun run = scratch.RunSim({"--json", "--verify", "--log", log, "download", kImage1200, "--device", "0"});
    ASSERT_EQ(run.nExit, 0) << run;
    EXPECT_EQ(run.strErr, "");
    const std::vector<nlohmann::json> lines = run.JsonLines();
    ASSERT_FALSE(lines.empty());
    // The flow's progress (its steps: ProgramBlocksTest.WorkedExample) reaches the selected blocks' bytes.
    nlohmann::json progress;
    for (const auto& line : lines) {
        EXPECT_EQ(line["schema"], 2) << line.dump();
        if (line["event"] == "progress")
            progress = line;
    }
    EXPECT_EQ(std::tie(progress["done"], progress["total"]), std::make_tuple(30 * 4096, 30 * 4096));
    EXPECT_EQ(std::tie(lines.back()["event"], lines.back()["command"], lines.back()["ok"], lines.back()["status"]),
              std::make_tuple("result", "download", true, 0));

    const std::string text = ReadFileText(log);
    const QRegularExpression stamped(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} [+-]\\d{4} (trace|message|error|warning|run|result) .*$"));
    const QStringList logLines = QString::fromStdString(text).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : logLines)
        EXPECT_TRUE(stamped.match(line).hasMatch()) << line.toStdString();
    // The census, the run's header, the warning of a policy that checks nothing, the image, the six
    // stages, the device's result.
    EXPECT_EQ(logLines.size(), static_cast<int>(Census().size() + 3 + 1 + kDownloadLines.size()));
    EXPECT_THAT(text, AllOf(HasSubstr(" trace Firmware upgrade succeeded....\n"), HasSubstr(" run quillon-cli "),
                            HasSubstr("; match policy 0x00000000; verify on\n"),
                            HasSubstr(" serial=ZA1200-000101 path=" + DevicePath(0) + " duration_ms="),
                            HasSubstr(" blocks=30 outcome=succeeded\n")));

    // A backup of what was there, then an upload of what is there now.
    const std::string backup = scratch.Path("before.bin"), after = scratch.Path("after.bin");
    const CliRun download = scratch.RunSim({"--quiet", "download", kImage1200, "--device", "0", "--backup", backup});
    ASSERT_EQ(download.nExit, 0) << download;
    EXPECT_EQ(fs::file_size(backup), 65536u);
    // A backup that cannot be written stops the download, and its result says so.
    const CliRun noBackup =
        scratch.RunSim({"--json", "download", kImage1200, "--device", "0", "--backup", scratch.Path("no/b.bin")});
    EXPECT_EQ(noBackup.nExit, 1) << noBackup;
    EXPECT_EQ(noBackup.JsonLines().back(), nlohmann::json::parse(R"({"backup":false,"command":"download",
        "event":"result","ok":false,"schema":2,"status":1})"));
    const CliRun upload = scratch.RunSim({"--json", "--log", log, "upload", after, "--device", "0"});
    ASSERT_EQ(upload.nExit, 0) << upload;
    // The progress rises while the device is read, not only at its end.
    int nMidway = 0;
    for (const auto& line : upload.JsonLines())
        nMidway += line["event"] == "progress" && line["done"] > 0 && line["done"] < line["total"];
    EXPECT_GE(nMidway, 50);
    const std::string written = ReadFileText(kImage1200), read = ReadFileText(after);
    ASSERT_EQ(read.size(), 65536u);
    // Blocks 1 to 3 were written (block 0 is the boot loader, block 4 the serial number).
    EXPECT_EQ(read.substr(0x1000, 0x3000), written.substr(0x1000, 0x3000));
    // The log is appended to, not replaced.
    EXPECT_THAT(ReadFileText(log), AllOf(StartsWith(text), Not(::testing::SizeIs(text.size()))));
}

TEST_F(CliE2e, DryRunShowsTheVerdictsAndBlocksWithoutTouchingTheDevice)
{
    ASSERT_EQ(scratch.RunSim({"list"}).nExit, 0);
    const auto before = SimFiles();
    const CliRun run =
        scratch.RunSim({"--json", "--match-policy", "0x10f", "download", kImage1200, "--device", "0", "--dry-run"});
    EXPECT_EQ(run.nExit, 0) << run;
    const nlohmann::json dry = run.Event("dry-run");
    ASSERT_TRUE(dry.is_object()) << run;
    ASSERT_EQ(dry["checks"].size(), 5u);
    for (const auto& check : dry["checks"])
        EXPECT_EQ(check["verdict"], "pass") << check.dump();
    // ImageMask 0xffffffff, boot loader block 0 and serial-number block 4 left out ("Update All" unchecked).
    EXPECT_EQ(std::tie(dry["block_mask"], dry["update_all"], dry["flag_offset"], dry["bytes"], dry["ok"]),
              std::make_tuple("0xffffffee", false, 0x3000, 30 * 4096, true));
    nlohmann::json blocks = nlohmann::json::array();
    for (int i = 1; i < 32; ++i)
        if (i != 4)
            blocks.push_back({{"block", i}, {"offset", i * 4096}, {"length", 4096}});
    EXPECT_EQ(dry["blocks"], blocks);

    const CliRun updateAll =
        scratch.RunSim({"--json", "download", kImage1200, "--device", "0", "--dry-run", "--update-all"});
    EXPECT_EQ(updateAll.nExit, 0);
    EXPECT_EQ(updateAll.Event("dry-run")["block_mask"], "0xffffffef") << updateAll;
    EXPECT_EQ(updateAll.Event("dry-run")["checks"][0]["verdict"], "not checked") << updateAll;

    const std::string rows =
        Lines({"Device No.0 (" + DevicePath(0) + ")", "  Vendor ID:     pass", "  Product ID:    pass",
               "  Version:       pass", "  Subversion:    pass", "  Chipset Type:  pass", "  Update All:    no",
               "  Block mask:    0xffffffee", "  Blocks:        1-3, 5-31 (30 blocks, 122880 bytes)",
               "  Flag offset:   0x3000 (flag word 0xAA 0xAA: cleared first, set last)",
               "  Verdict:       the download would be admitted"});
    Expect({{{"--match-policy", "0x10f", "download", kImage1200, "--device", "0", "--dry-run"},
             0,
             EndsWith("\n" + rows),
             ""}});
    EXPECT_EQ(SimFiles(), before);
}

// Several devices at once: each outcome on its own (one succeeds, one is refused untouched by the match
// policy, one is pulled out while it is written), every line of a device carrying its index and serial.
TEST_F(CliE2e, SeveralDevicesRunAtOnceEachWithItsOwnOutcome)
{
    const std::string three =
        World("three", {{"za1200", {}}, {"za2400", {{"faults", {{"unplugAtStep", "write"}}}}}, {"za4800", {}}});
    const std::vector<std::string> args = {"--sim", three, "--match-policy", "0x1", "download", kImage1200, "--all"};
    const CliRun run = scratch.Run(Concat({"--json"}, args));
    EXPECT_EQ(run.nExit, 1) << run;
    EXPECT_EQ(run.strErr, "");
    const char* const serials[] = {"ZA1200-000101", "ZA2400-000207", "ZA4800-000410"};
    std::map<int, std::vector<std::string>> traces;  // by device; -1: this process's own (the census)
    std::map<std::string, nlohmann::json> outcomes;  // by file name
    for (const nlohmann::json& line : run.JsonLines()) {
        if (line["event"] == "device-result")
            outcomes[fs::path(line["path"].get<std::string>()).filename().string()] = line;
        else if (line.contains("index")) {
            EXPECT_EQ(line["serial"], serials[line["index"].get<int>()]) << line;
        }
        if (line["event"] == "trace")
            traces[line.value("index", -1)].push_back(line["text"]);
    }
    ASSERT_EQ(outcomes.size(), 3u) << run;
    EXPECT_EQ(std::tie(outcomes["za1200.json"]["outcome"], outcomes["za1200.json"]["ok"],
                       outcomes["za1200.json"]["blocks"], outcomes["za2400.json"]["outcome"],
                       outcomes["za4800.json"]["outcome"], outcomes["za4800.json"]["blocks"]),
              std::make_tuple("succeeded", true, 30, "failed", "refused", 0));
    EXPECT_EQ(run.JsonLines().back()["event"], "result");
    EXPECT_EQ(run.JsonLines().back()["ok"], false);
    EXPECT_EQ(run.JsonLines().back()["devices"].size(), 3u);
    EXPECT_EQ(traces[-1].size(), 4u);  // the census, once
    const std::string open = "Open DFU file " + kImage1200 + " succeeded\r\n";
    EXPECT_EQ(traces[0], Concat({open}, Crlf(kDownloadLines)));
    EXPECT_EQ(traces[2], std::vector<std::string>{open});

    // Refused is told apart from failed: without the failing device the status is 5.
    fs::remove(three + "/za2400.json");
    const CliRun text = scratch.Run(Concat({"--quiet"}, args));
    EXPECT_EQ(text.nExit, 5);
    EXPECT_EQ(text.strErr, "[No.1 ZA4800-000410] Vendor ID of firmware doesn't match device vendor ID!\n");
    EXPECT_EQ(text.strOut, Lines({"No.0 " + three + "/za1200.json: download succeeded",
                                  "No.1 " + three + "/za4800.json: download refused, nothing written",
                                  "1 of 2 downloads succeeded"}));
}

// One program per device: a second program is refused while the first writes, and the first finishes.
TEST_F(CliE2e, ASecondProgramIsRefusedWhileTheFirstHoldsTheDevice)
{
    World("sim", {{"za1200", {{"timing", {{"realTime", true}, {"speed", 0.25}}}}}});
    const std::string path = DevicePath(0);
    const std::vector<std::string> args = {"--sim", scratch.SimDir(), "download", kImage1200, "--device", path};
    CBackground first(args);
    ASSERT_TRUE(first.Until("Firmware upgrade started....\n")) << first.Out();
    const std::string holder = "process " + std::to_string(first.m_process.processId());
    const CliRun list = scratch.RunSim({"list"});
    Expect({{{"download", kImage2400, "--device", path},
             6,
             Not(HasSubstr("Open DFU file")),
             "quillon-cli: device No.0 (" + path + ") is in use by another program (" + holder +
                 "); nothing was done\n"}});
    ASSERT_TRUE(first.m_process.waitForFinished(60000));
    EXPECT_THAT(list.strOut, HasSubstr("  In use by:   " + holder + "\n"));
    EXPECT_EQ(first.m_process.exitCode(), 0);
    EXPECT_TRUE(first.Until("Firmware upgrade succeeded....\n")) << first.Out();
    // Let go at the end: the device is free again, also after a holder that was killed.
    EXPECT_THAT(scratch.RunSim({"list"}).strOut, Not(HasSubstr("In use by")));
    CBackground killed(args);
    ASSERT_TRUE(killed.Until("Firmware upgrade started....\n")) << killed.Out();
    killed.m_process.kill();
    ASSERT_TRUE(killed.m_process.waitForFinished(30000));
    EXPECT_EQ(scratch.Run(args).nExit, 0);
}

// A signal while the device is being written is the operator's close request: the window refuses it
// with its message, the download runs to its end, and --all begins no further device.
TEST_F(CliE2e, SignalsDuringADownloadAreRefusedAsTheWindowRefusesToClose)
{
    const nlohmann::json slowly = {{"timing", {{"realTime", true}, {"speed", 0.25}}}};
    const std::string slow = World("slow", {{"za1200", slowly}, {"za2400", slowly}});
    CBackground process({"--sim", slow, "--match-policy", "0", "download", kImage1200, "--all", "--jobs", "1"});
    ASSERT_TRUE(process.Until("Firmware upgrade started....\n")) << process.Out();
    process.m_process.terminate();  // SIGTERM
    ASSERT_TRUE(process.m_process.waitForFinished(60000));
    EXPECT_THAT(process.m_process.readAllStandardError().toStdString(),
                HasSubstr("Do NOT exit while DFU is running!\n"));
    const std::string prefix = "[No.0 ZA1200-000101] ";
    EXPECT_THAT(process.Out(), AllOf(HasSubstr(prefix + "Firmware upgrade succeeded....\n" + prefix +
                                               "Waiting until device is switched to normal mode....\n" + prefix +
                                               "Device is switched to normal mode successfully!\n"),
                                     HasSubstr("No.0 " + slow + "/za1200.json: download succeeded\n"),
                                     HasSubstr("No.1 " + slow + "/za2400.json: download not run, interrupted\n")));
    EXPECT_EQ(process.m_process.exitCode(), 1);
}

// Whether the process has an inotify watch on the folder, as the kernel lists it in its fdinfo.
bool WatchesFolder(qint64 pid, const std::string& dir)
{
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0)
        return false;
    char inode[32];
    std::snprintf(inode, sizeof inode, " ino:%jx ", static_cast<uintmax_t>(st.st_ino));
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fdinfo", ec)) {
        std::ifstream info(fd.path());
        for (std::string line; std::getline(info, line);)
            if (line.rfind("inotify wd:", 0) == 0 && (line + ' ').find(inode) != std::string::npos)
                return true;
    }
    return false;
}

// watch: the idle window's trace of devices coming and going, until a signal ends it with status 0.
TEST_F(CliE2e, WatchTracesDevicesThatComeAndGo)
{
    const std::string dir = World("watched", {{"za1200", {}}});
    CBackground watch({"--sim", dir, "watch"});
    ASSERT_TRUE(watch.Until("No.0: " + dir + "/za1200.json\n")) << watch.Out();
    // The census comes before the program listens; a device that comes in between is not seen. The
    // kernel shows when the program's inotify watch is on the folder.
    bool bWatching = false;
    for (int i = 0; i < 1000 && !(bWatching = WatchesFolder(watch.m_process.processId(), dir)); ++i)
        ::usleep(10000);
    ASSERT_TRUE(bWatching) << "no inotify watch on " << dir;
    fs::copy_file(scratch.SimDir() + "/za2400.json", dir + "/za2400.json");
    EXPECT_TRUE(watch.Until("Device " + dir + "/za2400.json is plugged in\n")) << watch.Out();
    fs::remove(dir + "/za1200.json");
    EXPECT_TRUE(watch.Until("Device " + dir + "/za1200.json is removed\n")) << watch.Out();
    ::kill(static_cast<pid_t>(watch.m_process.processId()), SIGINT);
    ASSERT_TRUE(watch.m_process.waitForFinished(30000));
    EXPECT_EQ(watch.m_process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watch.m_process.exitCode(), 0);
}

// Every field of every JSON line the commands write is in the table of docs/cli.md ("*": any event).
TEST_F(CliE2e, JsonFieldsAreDocumented)
{
    std::set<std::string> documented;
    const QRegularExpression row(QStringLiteral("^\\| `([a-z*-]+)` \\| `([a-z_.*\\[\\]]+)` \\|"));
    for (const QString& line : QString::fromStdString(ReadFileText(QUILLON_SOURCE_DIR "/docs/cli.md")).split(u'\n'))
        if (const QRegularExpressionMatch match = row.match(line); match.hasMatch())
            documented.insert((match.captured(1) + " " + match.captured(2)).toStdString());
    std::set<std::string> emitted;
    std::function<void(const std::string&, const std::string&, const nlohmann::json&)> collect =
        [&](const std::string& event, const std::string& prefix, const nlohmann::json& object) {
            for (const auto& [key, value] : object.items()) {
                // A key that is data (a table's name) stands as "*".
                const std::string name =
                    prefix + (key.find_first_not_of("abcdefghijklmnopqrstuvwxyz_") == std::string::npos ? key : "*");
                emitted.insert(event + " " + name);
                if (value.is_object())
                    collect(event, name + ".", value);
                for (const auto& item : value.is_array() ? value : nlohmann::json::array())
                    if (item.is_object())
                        collect(event, name + "[].", item);
            }
        };
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"list"},
             {"info"},
             {"download", kImage1200, "--device", "0", "--dry-run"},
             {"download", kImage1200, "--device", "0", "--backup", scratch.Path("b.bin")},
             {"download", kImage1200, "--all", "--jobs", "2"},
             {"upload", scratch.Path("u.bin"), "--device", "0"},
             {"image", "info", kImage1200},
             {"flash-table", "show"},
             {"config", "check"},
             {"doctor"},
             {"watch", "--seconds", "1"},
             {"lsit"}})
        for (const nlohmann::json& line : scratch.RunSim(Concat({"--json"}, args)).JsonLines())
            collect(line.value("event", "?"), "", line);
    EXPECT_GT(emitted.size(), 60u);
    for (const std::string& field : emitted)
        EXPECT_TRUE(documented.count(field) || documented.count("* " + field.substr(field.find(' ') + 1)))
            << field << " is not in the table of docs/cli.md";
}

TEST_F(CliE2e, ImageStampAndInfoRoundTrip)
{
    std::string raw(8192, '\x11');
    std::fill(raw.end() - 36, raw.end(), '\xff');
    WriteFileText(scratch.Path("raw.bin"), raw);
    WriteFileText(scratch.Path("full.bin"), std::string(4096, '\x22'));
    const std::vector<std::string> full = {"image", "stamp",     "full.bin", "out.bin",      "--vid", "1",      "--pid",
                                           "2",     "--version", "3",        "--subversion", "4",     "--chip", "0,5"};
    Expect({{{"image", "stamp", "raw.bin", "stamped.bin", "--vid", "0x2fe3", "--pid", "0x1200", "--version", "0x20107",
              "--subversion", "0x12000100", "--chip", "0,1"},
             0},
            {{"image", "info", "stamped.bin"},
             0,
             Lines({"File:        stamped.bin", "Size:        8192 bytes", "Vendor ID:   0x2fe3", "Product ID:  0x1200",
                    "Version:     0x0107 (field 0x00020107)", "Subversion:  0x12000100", "Chip bytes:  0x00, 0x01",
                    "Record at:   0x1fdc"})},
            // No room without --append: nothing written; with it, the record follows the image.
            {full, 1}});
    EXPECT_EQ(fs::file_size(scratch.Path("stamped.bin")), 8192u);
    EXPECT_FALSE(fs::exists(scratch.Path("out.bin")));
    Expect({{Concat(full, {"--append"}), 0}});
    EXPECT_EQ(fs::file_size(scratch.Path("out.bin")), 4096u + 36u);

    const CliRun info = scratch.Run({"--json", "image", "info", "stamped.bin"});
    ASSERT_EQ(info.nExit, 0) << info;
    const nlohmann::json result = info.JsonLines().at(0);
    const nlohmann::json expected = {{"vendor_id", "0x2fe3"},      {"product_id", "0x1200"},
                                     {"version", "0x0107"},        {"version_field", "0x00020107"},
                                     {"subversion", "0x12000100"}, {"chip", {"0x00", "0x01"}},
                                     {"record_offset", 8192 - 36}};
    for (const auto& [key, value] : expected.items())
        EXPECT_EQ(result[key], value) << key;
}

// A copy of quillon-cli in a folder of its own, so that it finds the data files put there; and a root
// with those hidraw nodes (their uevent's HID_ID, their mode) under /dev and /sys.
std::string InstallCopy(const CCliScratch& scratch, const std::map<std::string, std::pair<std::string, int>>& nodes)
{
    fs::create_directories(scratch.Path("app"));
    fs::copy_file(CCliScratch::Program(), scratch.Path("app/quillon-cli"));
    const std::string root = scratch.Path("root");
    fs::create_directories(root + "/dev");
    for (const auto& [node, idAndMode] : nodes) {
        fs::create_directories(root + "/sys/class/hidraw/" + node + "/device");
        WriteFileText(root + "/sys/class/hidraw/" + node + "/device/uevent", "HID_ID=0003:" + idAndMode.first + "\n");
        WriteFileText(root + "/dev/" + node, "");
        fs::permissions(root + "/dev/" + node, static_cast<fs::perms>(idAndMode.second));
    }
    return scratch.Path("app/quillon-cli");
}

TEST_F(CliE2e, DoctorNamesEachProblemWithItsFix)
{
    const std::string program = InstallCopy(scratch, {{"hidraw3", {"00002FE3:00001200", 0644}}});
    const std::map<std::string, std::string> env = {{"QUILLON_SYSROOT", scratch.Path("root")}};
    fs::copy_file(CCliScratch::SourceDir() + "/examples/Quillon.ini", scratch.Path("app/Quillon.ini"));
    WriteFileText(scratch.Path("CMakeCache.txt"), "");  // the program stands in a build folder's app/

    const CliRun run = scratch.Run({"--json", "doctor"}, env, program);
    EXPECT_EQ(run.nExit, 1) << run;
    const nlohmann::json result = run.JsonLines().at(0);
    EXPECT_EQ(result["data_dir"], scratch.Path("app/"));
    std::map<std::string, std::string> fixes;
    for (const auto& f : result["findings"])
        fixes[f["where"]] = f["fix"];
    const std::string patch = scratch.Path("app/ZA4800.bin");
    EXPECT_EQ(fixes, (std::map<std::string, std::string>{
                         {"zel.dat", "cmake --build " + scratch.Dir() + " --target quillon_data"},
                         {patch, "sudo install -m 644 <the maker's patch file> " + patch},
                         {"udev rules", "sudo install -m 644 " + scratch.Dir() +
                                            "/packaging/70-quillon.rules /etc/udev/rules.d/ && sudo udevadm control "
                                            "--reload-rules && sudo udevadm trigger --subsystem-match=hidraw "
                                            "--action=change"}}))
        << result.dump(1);

    // No rules in that root: a `list` that finds nothing points at doctor, on stderr alone.
    const CliRun list = scratch.Run({"list"}, env, program);
    EXPECT_EQ(list.nExit, 0);
    EXPECT_EQ(list.strOut, "No device found.\n");
    EXPECT_THAT(list.strErr, HasSubstr("`quillon-cli doctor` says what is missing"));

    // Rules in place, the table and the patch beside the program: nothing left.
    fs::create_directories(scratch.Path("root/etc/udev/rules.d"));
    WriteFileText(scratch.Path("root/etc/udev/rules.d/70-quillon.rules"), "");
    fs::copy_file(QUILLON_BINARY_DIR "/bin/zel.dat", scratch.Path("app/zel.dat"));
    WriteFileText(patch, "patch");
    const CliRun clean = scratch.Run({"doctor"}, env, program);
    EXPECT_EQ(clean.nExit, 0) << clean;
    EXPECT_EQ(clean.strOut, Lines({"Data folder: " + scratch.Path("app/"),
                                   "udev rules:  /etc/udev/rules.d/70-quillon.rules", "No findings."}));
}

// A node that the user cannot open. Needs root to play the user "nobody" (setpriv); skipped otherwise.
TEST_F(CliE2e, DoctorFindsAHidrawNodeThatCannotBeOpened)
{
    if (geteuid() != 0 || !fs::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "needs root and setpriv";
    // A configured vendor, another vendor (not ours to judge), a configured one that is open to all, and
    // a configured one that the rules gave to a group the user is not in (a station without a seat).
    const std::string program = InstallCopy(scratch, {{"hidraw0", {"00002FE4:00004800", 0600}},
                                                      {"hidraw1", {"0000046D:0000C52B", 0600}},
                                                      {"hidraw2", {"00002FE3:00001200", 0777}},
                                                      {"hidraw3", {"00002FE3:00002400", 0660}}});
    for (const char* pszFile : {"Quillon.ini", "zel.dat", "ZA4800.bin"})
        fs::copy_file(std::string(QUILLON_BINARY_DIR "/bin/") + pszFile, scratch.Path(std::string("app/") + pszFile));
    const std::string root = scratch.Path("root");
    fs::create_directories(root + "/etc/udev/rules.d");
    WriteFileText(root + "/etc/udev/rules.d/70-quillon.rules", "");
    ASSERT_EQ(::chown((root + "/dev/hidraw3").c_str(), 0, ::getgrnam("plugdev")->gr_gid), 0);
    fs::permissions(scratch.Dir(), static_cast<fs::perms>(0755));

    const CliRun run = scratch.Run({"--reuid=nobody", "--regid=nogroup", "--clear-groups", program, "--json", "doctor"},
                                   {{"QUILLON_SYSROOT", root}, {"HOME", "/nonexistent"}}, "/usr/bin/setpriv");
    EXPECT_EQ(run.nExit, 1) << run;
    const nlohmann::json findings = run.JsonLines().at(0)["findings"];
    ASSERT_EQ(findings.size(), 2u) << findings.dump(1);
    EXPECT_EQ(findings[0]["where"], "/dev/hidraw0");
    EXPECT_EQ(findings[0]["text"], "permission denied for this configured device (0x2fe4:0x4800)");
    EXPECT_EQ(findings[0]["fix"], "sudo udevadm trigger --subsystem-match=hidraw --action=change");
    EXPECT_EQ(findings[1]["text"], "permission denied for this configured device (0x2fe3:0x2400): members of the "
                                   "group plugdev may open it (log in again after joining)");
    EXPECT_EQ(findings[1]["fix"], "sudo usermod -aG plugdev nobody");
}

}  // namespace
