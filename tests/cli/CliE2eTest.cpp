// quillon-cli end to end: the built program against the emulator's example devices (a scratch copy of
// examples/sim), its data files beside it in the build tree. Exit status, exact stdout and stderr lines,
// JSON lines.
#include "support/CliRunner.h"
#include "support/ExampleDevices.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char kImage1200[] = "za1200-fw-0106.bin";
const char kImage2400[] = "za2400-fw-0211.bin";

const std::vector<std::string> kDownloadLines = {
    "Waiting until device is switched to DFU mode!",
    "Device is switched to DFU mode successfully!",
    "Firmware upgrade started....",
    "Firmware upgrade succeeded....",
    "Waiting until device is switched to normal mode....",
    "Device is switched to normal mode successfully!",
};

const std::vector<std::string> kUploadLines = {
    "Waiting until device is switched to DFU mode!",
    "Device is switched to DFU mode successfully!",
    "Firmware upload started....",
    "Firmware upload succeeded!",
    "Waiting until device is switched to normal mode....",
    "Device is switched to normal mode successfully!",
};

class CliE2e : public ::testing::Test {
protected:
    void SetUp() override
    {
        const CliRun run = scratch.RunSim({"--json", "list"});
        ASSERT_EQ(run.nExit, 0) << run.strErr;
        const std::vector<nlohmann::json> lines = run.JsonLines();
        ASSERT_EQ(lines.size(), 1u);
        devices = lines.front()["devices"];
        ASSERT_GE(devices.size(), 4u);
    }

    // The list index of the device with this product string.
    int Index(const std::string& product) const
    {
        for (const auto& device : devices)
            if (device["product"] == product)
                return device["index"].get<int>();
        ADD_FAILURE() << "no example device " << product;
        return -1;
    }

    std::string DevicePath(int nIndex) const { return devices.at(static_cast<size_t>(nIndex))["path"]; }

    // The start-up census as the window traces it.
    std::vector<std::string> Census() const
    {
        std::vector<std::string> lines = {"Total " + std::to_string(devices.size()) + " devices found!"};
        for (const auto& device : devices)
            lines.push_back("No." + std::to_string(device["index"].get<int>()) + ": " +
                            device["path"].get<std::string>());
        return lines;
    }

    static std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }

    std::map<std::string, std::string> SimFiles() const
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(scratch.SimDir()))
            if (entry.is_regular_file())
                files[entry.path().string()] = ReadFileText(entry.path().string());
        return files;
    }

    CCliScratch scratch;
    nlohmann::json devices;
};

TEST_F(CliE2e, ListShowsEachDeviceAsTheWindowShowsIt)
{
    char hex[16];
    const auto Hex = [&hex](const char* pszFormat, uint32_t nValue) {
        std::snprintf(hex, sizeof hex, pszFormat, nValue);
        return std::string(hex);
    };
    for (const ExampleDevice& e : kExampleDevices) {
        const int nIndex = Index(e.Product());
        ASSERT_GE(nIndex, 0);
        const nlohmann::json& device = devices[static_cast<size_t>(nIndex)];
        EXPECT_EQ(device["vendor_id"], Hex("0x%04x", e.nVendorId)) << e.pszStem;
        EXPECT_EQ(device["product_id"], Hex("0x%04x", e.nProductId)) << e.pszStem;
        EXPECT_EQ(device["version"], Hex("0x%04x", e.nVersion)) << e.pszStem;
        EXPECT_EQ(device["subversion"], Hex("0x%08x", e.nSubVersion)) << e.pszStem;
        EXPECT_EQ(device["chipset"], e.pszChipset) << e.pszStem;
        EXPECT_EQ(device["boot_loader"], e.bBootLoader) << e.pszStem;
        EXPECT_EQ(device["update_all_optional"], e.bUpdateAllOptional) << e.pszStem;
    }

    // The text form: no census, one block per device in list order.
    const CliRun run = scratch.RunSim({"list"});
    ASSERT_EQ(run.nExit, 0);
    EXPECT_EQ(run.strErr, "");
    const int n1200 = Index("ZEL ZA1200 Audio");
    const std::string block = "No." + std::to_string(n1200) + ": " + DevicePath(n1200) +
                              "\n"
                              "  Product:     ZEL ZA1200 Audio\n"
                              "  Vendor ID:   0x2fe3\n"
                              "  Product ID:  0x1200\n"
                              "  Version:     0x0105\n"
                              "  Subversion:  0x12000134\n"
                              "  Chipset:     ZA1200+ZH880\n"
                              "  Boot loader: yes\n"
                              "  Update All:  optional\n"
                              "  Serial:      ZA1200-000101\n";
    EXPECT_NE(run.strOut.find(block), std::string::npos) << run.strOut;
    EXPECT_EQ(run.strOut.rfind("No.0: ", 0), 0u);
    EXPECT_EQ(run.strOut.find("devices found"), std::string::npos);
}

TEST_F(CliE2e, DevicesAreChosenByIndexPathOrSerialAndNeverGuessed)
{
    const int n2400 = Index("ZEL ZA2400 Audio");
    const CliRun byIndex = scratch.RunSim({"--json", "info", "--device", std::to_string(n2400)});
    ASSERT_EQ(byIndex.nExit, 0) << byIndex.strErr;
    EXPECT_EQ(byIndex.JsonLines().at(0)["device"], devices[static_cast<size_t>(n2400)]);
    const CliRun byPath = scratch.RunSim({"--json", "info", "--device", DevicePath(n2400)});
    ASSERT_EQ(byPath.nExit, 0);
    EXPECT_EQ(byPath.JsonLines().at(0)["device"], devices[static_cast<size_t>(n2400)]);

    const std::string serial = devices[static_cast<size_t>(n2400)]["serial"];
    ASSERT_FALSE(serial.empty());
    const CliRun bySerial = scratch.RunSim({"--json", "info", "--serial", serial});
    ASSERT_EQ(bySerial.nExit, 0) << bySerial.strErr;
    EXPECT_EQ(bySerial.JsonLines().at(0)["device"], devices[static_cast<size_t>(n2400)]);
    const CliRun dryBySerial =
        scratch.RunSim({"--json", "download", CCliScratch::ExampleImage(kImage1200), "--serial", serial, "--dry-run"});
    int nDryRunIndex = -1;
    for (const nlohmann::json& line : dryBySerial.JsonLines())
        if (line["event"] == "dry-run")
            nDryRunIndex = line["index"];
    EXPECT_EQ(nDryRunIndex, n2400) << dryBySerial.strOut;

    const CliRun byDefault = scratch.RunSim({"info"});
    EXPECT_EQ(byDefault.nExit, 0);
    EXPECT_EQ(byDefault.strOut.rfind("No.0: " + DevicePath(0) + "\n", 0), 0u);

    // With several devices and none named, download and upload list the candidates and touch nothing.
    const auto before = SimFiles();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"download", CCliScratch::ExampleImage(kImage1200)},
          std::vector<std::string>{"upload", scratch.Path("up.bin")}}) {
        const CliRun guess = scratch.RunSim(args);
        EXPECT_EQ(guess.nExit, 2) << guess.strErr;
        EXPECT_NE(guess.strErr.find(std::to_string(devices.size()) + " devices are connected; name one"),
                  std::string::npos)
            << guess.strErr;
        EXPECT_NE(guess.strErr.find("  No." + std::to_string(n2400) + " " + DevicePath(n2400) + " serial " + serial),
                  std::string::npos)
            << guess.strErr;
    }
    EXPECT_EQ(SimFiles(), before);
    EXPECT_FALSE(fs::exists(scratch.Path("up.bin")));
    const CliRun noSerial = scratch.RunSim({"download", CCliScratch::ExampleImage(kImage1200), "--serial", "NONE"});
    EXPECT_EQ(noSerial.nExit, 3);
    EXPECT_EQ(noSerial.strErr, "quillon-cli: no such device: serial number NONE\n");

    for (const std::string& selector : {std::string("99"), scratch.SimDir() + "/nothing.json"}) {
        const CliRun none = scratch.RunSim({"info", "--device", selector});
        EXPECT_EQ(none.nExit, 3);
        EXPECT_EQ(none.strOut, "");
        EXPECT_EQ(none.strErr, "quillon-cli: no such device: " + selector + "\n");
    }

    // An empty emulator folder: no devices at all.
    fs::create_directory(scratch.Path("empty"));
    const CliRun empty = scratch.Run({"--sim", scratch.Path("empty"), "info"});
    EXPECT_EQ(empty.nExit, 3);
    EXPECT_EQ(empty.strErr, "quillon-cli: no device found\n");
    const CliRun emptyList = scratch.Run({"--sim", scratch.Path("empty"), "list"});
    EXPECT_EQ(emptyList.nExit, 0);
    EXPECT_EQ(emptyList.strOut, "No device found.\n");
    const CliRun noFolder = scratch.Run({"--sim", scratch.Path("nowhere"), "list"});
    EXPECT_EQ(noFolder.nExit, 3);
    EXPECT_EQ(noFolder.strErr,
              "quillon-cli: the emulator folder " + scratch.Path("nowhere") + " (--sim) does not exist\n");
}

TEST_F(CliE2e, DownloadPrintsTheWindowsTraceAndSucceeds)
{
    const int nIndex = Index("ZEL ZA1200 Audio");
    const std::string image = CCliScratch::ExampleImage(kImage1200);
    const CliRun run =
        scratch.RunSim({"--match-policy", "0x10f", "download", image, "--device", std::to_string(nIndex)});
    EXPECT_EQ(run.nExit, 0) << run.strErr;
    EXPECT_EQ(run.strErr, "");
    std::vector<std::string> expected = Census();
    expected.push_back("Open DFU file " + image + " succeeded");
    EXPECT_EQ(run.OutLines(), Concat(expected, kDownloadLines));
}

TEST_F(CliE2e, RefusedDownloadShowsTheMessageOnStderrAndFails)
{
    const int nIndex = Index("ZEL ZA1200 Audio");
    const std::string image = CCliScratch::ExampleImage(kImage2400);
    const auto before = SimFiles();
    const CliRun run = scratch.RunSim({"--match-policy", "0x2", "download", image, "--device", std::to_string(nIndex)});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.strErr, "Product ID of firmware doesn't match device product ID!\n");
    std::vector<std::string> expected = Census();
    expected.push_back("Open DFU file " + image + " succeeded");
    EXPECT_EQ(run.OutLines(), expected);
    EXPECT_EQ(SimFiles(), before);

    const CliRun missing = scratch.RunSim({"download", scratch.Path("missing.bin")});
    EXPECT_EQ(missing.nExit, 3);
    EXPECT_EQ(missing.strErr, "quillon-cli: no such file: " + scratch.Path("missing.bin") + "\n");

    // An image without identity is refused on opening under a non-zero policy.
    const CliRun noIdentity = scratch.RunSim(
        {"--match-policy", "1", "download", CCliScratch::ExampleImage("no-identity.bin"), "--device", "0"});
    EXPECT_EQ(noIdentity.nExit, 1);
    EXPECT_EQ(noIdentity.strErr, "Incorrect image file, no useful information found!\n");
}

// Why a download failed: the device library's account of the last failed exchange, in the JSON result
// and after the window's own lines on stdout and in the log; a refusal's own message in the result.
TEST_F(CliE2e, FailedDownloadsSayWhy)
{
    struct Case {
        nlohmann::json faults;
        const char* image;
        const char* policy;
        const char* reason;
        bool bFromDevice;
    };
    const Case cases[] = {
        {{{"refuseDfu", true}}, kImage1200, "0", "enter DFU: refused", true},
        {{{"flashIdFails", true}}, kImage1200, "0", "flash ID: flash identification failed", true},
        {{{"unplugAtStep", "write"}}, kImage1200, "0", "device unplugged", true},
        {nlohmann::json::object(), kImage2400, "0x2", "Product ID of firmware doesn't match device product ID!", false},
    };
    int nCase = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        for (const bool bJson : {true, false}) {
            const std::string sim = scratch.Path("why" + std::to_string(nCase++));
            fs::create_directory(sim);
            nlohmann::json device = nlohmann::json::parse(ReadFileText(scratch.SimDir() + "/za1200.json"));
            device["faults"] = c.faults;
            WriteFileText(sim + "/dev.json", device.dump());
            const std::string log = sim + ".log";
            std::vector<std::string> args = {
                "--sim", sim, "--log", log, "--match-policy", c.policy, "download", CCliScratch::ExampleImage(c.image)};
            if (bJson)
                args.insert(args.begin(), "--json");
            const CliRun run = scratch.Run(args);
            EXPECT_EQ(run.nExit, 1) << run.strOut << run.strErr;
            const std::string line = std::string("Reason: ") + c.reason;
            if (bJson) {
                const nlohmann::json result = run.JsonLines().back();
                EXPECT_EQ(result["event"], "result");
                EXPECT_EQ(result["ok"], false);
                EXPECT_EQ(result["reason"], c.reason);
            } else if (c.bFromDevice) {
                EXPECT_EQ(run.OutLines().back(), line);
            } else {
                EXPECT_EQ(run.strOut.find("Reason:"), std::string::npos) << "the message on stderr says why";
            }
            EXPECT_EQ(ReadFileText(log).find(std::string(" reason ") + c.reason + "\n") != std::string::npos,
                      c.bFromDevice);
        }
    }
}

// The window's preference store is the command line's: "Quillon" under "ZEL". The options override it
// for one run and never write it.
TEST_F(CliE2e, StoredPreferencesAreTheWindowsAndOptionsOverrideThemForOneRun)
{
    const std::string config = scratch.Path("config");
    fs::create_directories(config + "/ZEL");
    const std::string store = config + "/ZEL/Quillon.conf";
    WriteFileText(store, "[Options]\nMatchPolicy=2\nAutoVerify=1\n");
    const std::map<std::string, std::string> env = {{"XDG_CONFIG_HOME", config}};
    const std::string device = std::to_string(Index("ZEL ZA1200 Audio"));
    const std::string image = CCliScratch::ExampleImage(kImage2400);

    const CliRun stored =
        scratch.Run({"--sim", scratch.SimDir(), "--quiet", "download", image, "--device", device}, env);
    EXPECT_EQ(stored.nExit, 1);
    EXPECT_EQ(stored.strErr, "Product ID of firmware doesn't match device product ID!\n");

    const CliRun overridden = scratch.Run({"--sim", scratch.SimDir(), "--quiet", "--match-policy", "0", "download",
                                           image, "--device", device, "--dry-run"},
                                          env);
    EXPECT_EQ(overridden.nExit, 0) << overridden.strErr;
    EXPECT_EQ(ReadFileText(store), "[Options]\nMatchPolicy=2\nAutoVerify=1\n");
}

// Several devices at once: each outcome on its own (one succeeds, one is refused untouched by the match
// policy, one is pulled out while it is written), every line of a device carrying its index and serial.
TEST_F(CliE2e, SeveralDevicesRunAtOnceEachWithItsOwnOutcome)
{
    const std::string three = scratch.Path("three");
    fs::create_directory(three);
    for (const char* pszFile : {"za1200.json", "za4800.json"})
        fs::copy_file(scratch.SimDir() + "/" + pszFile, three + "/" + pszFile);
    nlohmann::json pulled = nlohmann::json::parse(ReadFileText(scratch.SimDir() + "/za2400.json"));
    pulled["faults"] = {{"unplugAtStep", "write"}};
    WriteFileText(three + "/za2400.json", pulled.dump());
    const std::vector<std::string> args = {
        "--sim", three, "--match-policy", "0x1", "download", CCliScratch::ExampleImage(kImage1200), "--all"};
    std::vector<std::string> jsonArgs = args;
    jsonArgs.insert(jsonArgs.begin(), "--json");
    const CliRun run = scratch.Run(jsonArgs);
    EXPECT_EQ(run.nExit, 1) << run.strOut << run.strErr;
    EXPECT_EQ(run.strErr, "");
    std::map<int, std::vector<std::string>> traces;  // by device; -1: this process's own (the census)
    std::map<std::string, nlohmann::json> outcomes;  // by file name
    nlohmann::json result;
    for (const nlohmann::json& line : run.JsonLines()) {
        if (line["event"] == "device-result")
            outcomes[fs::path(line["path"].get<std::string>()).filename().string()] = line;
        else if (line["event"] == "result")
            result = line;
        else if (line["event"] == "trace")
            traces[line.value("index", -1)].push_back(line["text"]);
        if (line.contains("index") && line["event"] != "device-result") {
            EXPECT_EQ(line["serial"], "ZA" + std::string(line["index"] == 0   ? "1200-000101"
                                                         : line["index"] == 1 ? "2400-000207"
                                                                              : "4800-000410"))
                << line;
        }
    }
    ASSERT_EQ(outcomes.size(), 3u) << run.strOut;
    EXPECT_EQ(outcomes["za1200.json"]["outcome"], "succeeded");
    EXPECT_EQ(outcomes["za1200.json"]["ok"], true);
    EXPECT_EQ(outcomes["za1200.json"]["blocks"], 30);
    EXPECT_EQ(outcomes["za2400.json"]["outcome"], "failed");
    EXPECT_EQ(outcomes["za4800.json"]["outcome"], "refused");
    EXPECT_EQ(outcomes["za4800.json"]["blocks"], 0);
    EXPECT_EQ(result["ok"], false);
    EXPECT_EQ(result["devices"].size(), 3u);
    EXPECT_EQ(traces[-1].size(), 4u);  // the census, once
    const std::string open = "Open DFU file " + CCliScratch::ExampleImage(kImage1200) + " succeeded\r\n";
    std::vector<std::string> expected = {open};
    for (const std::string& line : kDownloadLines)
        expected.push_back(line + "\r\n");
    EXPECT_EQ(traces[0], expected);
    EXPECT_EQ(traces[2], std::vector<std::string>{open});

    // Refused is told apart from failed: without the failing device the status is 5.
    fs::remove(three + "/za2400.json");
    std::vector<std::string> quietArgs = args;
    quietArgs.insert(quietArgs.begin(), "--quiet");
    const CliRun text = scratch.Run(quietArgs);
    EXPECT_EQ(text.nExit, 5);
    EXPECT_EQ(text.strErr, "[No.1 ZA4800-000410] Vendor ID of firmware doesn't match device vendor ID!\n");
    EXPECT_EQ(text.OutLines(),
              (std::vector<std::string>{"No.0 " + three + "/za1200.json: download succeeded",
                                        "No.1 " + three + "/za4800.json: download refused, nothing written",
                                        "1 of 2 downloads succeeded"}));
}

// One program per device: a second program is refused while the first writes, and the first finishes.
TEST_F(CliE2e, ASecondProgramIsRefusedWhileTheFirstHoldsTheDevice)
{
    nlohmann::json device = nlohmann::json::parse(ReadFileText(scratch.SimDir() + "/za1200.json"));
    device["timing"] = {{"realTime", true}, {"speed", 0.25}};
    WriteFileText(scratch.SimDir() + "/za1200.json", device.dump());
    const std::string path = DevicePath(Index("ZEL ZA1200 Audio"));
    QProcess first;
    first.start(QString::fromStdString(CCliScratch::Program()),
                {QStringLiteral("--sim"), QString::fromStdString(scratch.SimDir()), QStringLiteral("download"),
                 QString::fromStdString(CCliScratch::ExampleImage(kImage1200)), QStringLiteral("--device"),
                 QString::fromStdString(path)});
    ASSERT_TRUE(first.waitForStarted(10000));
    QByteArray out;
    while (!out.contains("Firmware upgrade started....\n") && first.waitForReadyRead(30000))
        out += first.readAllStandardOutput();
    const std::string holder = "process " + std::to_string(first.processId());
    const CliRun second = scratch.RunSim({"download", CCliScratch::ExampleImage(kImage2400), "--device", path});
    const CliRun list = scratch.RunSim({"list"});
    ASSERT_TRUE(first.waitForFinished(60000));
    out += first.readAllStandardOutput();
    EXPECT_EQ(second.nExit, 6) << second.strErr;
    EXPECT_EQ(second.strErr, "quillon-cli: device No.0 (" + path + ") is in use by another program (" + holder +
                                 "); nothing was done\n");
    EXPECT_EQ(second.strOut.find("Open DFU file"), std::string::npos) << second.strOut;
    EXPECT_NE(list.strOut.find("  In use by:   " + holder + "\n"), std::string::npos) << list.strOut;
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_TRUE(out.contains("Firmware upgrade succeeded....\n")) << out.toStdString();
    // Let go at the end: the device is free again, also after a holder that was killed.
    EXPECT_EQ(scratch.RunSim({"list"}).strOut.find("In use by"), std::string::npos);
    first.start(QString::fromStdString(CCliScratch::Program()),
                {QStringLiteral("--sim"), QString::fromStdString(scratch.SimDir()), QStringLiteral("download"),
                 QString::fromStdString(CCliScratch::ExampleImage(kImage1200)), QStringLiteral("--device"),
                 QString::fromStdString(path)});
    out.clear();
    while (!out.contains("Firmware upgrade started....\n") && first.waitForReadyRead(30000))
        out += first.readAllStandardOutput();
    first.kill();
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(scratch.RunSim({"download", CCliScratch::ExampleImage(kImage1200), "--device", path}).nExit, 0);
}

// A signal while the device is being written is the operator's close request: the window refuses it
// with its message, the download runs to its end, and --all begins no further device.
TEST_F(CliE2e, SignalsDuringADownloadAreRefusedAsTheWindowRefusesToClose)
{
    const std::string slow = scratch.Path("slow");
    fs::create_directory(slow);
    for (const char* pszFile : {"za1200.json", "za2400.json"}) {
        nlohmann::json device = nlohmann::json::parse(ReadFileText(scratch.SimDir() + "/" + pszFile));
        device["timing"] = {{"realTime", true}, {"speed", 0.25}};
        WriteFileText(slow + "/" + pszFile, device.dump());
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(QString::fromStdString(CCliScratch::Program()),
                  {QStringLiteral("--sim"), QString::fromStdString(slow), QStringLiteral("--match-policy"),
                   QStringLiteral("0"), QStringLiteral("download"),
                   QString::fromStdString(CCliScratch::ExampleImage(kImage1200)), QStringLiteral("--all"),
                   QStringLiteral("--jobs"), QStringLiteral("1")});
    ASSERT_TRUE(process.waitForStarted(10000));
    QByteArray out;
    while (!out.contains("Firmware upgrade started....\n") && process.waitForReadyRead(30000))
        out += process.readAllStandardOutput();
    ASSERT_TRUE(out.contains("Firmware upgrade started....\n")) << out.toStdString();
    process.terminate();  // SIGTERM
    ASSERT_TRUE(process.waitForFinished(60000));
    out += process.readAllStandardOutput();
    const std::string err = process.readAllStandardError().toStdString();
    EXPECT_NE(err.find("Do NOT exit while DFU is running!\n"), std::string::npos) << err;
    const std::string text = out.toStdString();
    const std::string prefix = "[No.0 ZA1200-000101] ";
    EXPECT_NE(text.find(prefix + "Firmware upgrade succeeded....\n" + prefix +
                        "Waiting until device is switched to normal mode....\n" + prefix +
                        "Device is switched to normal mode successfully!\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("No.0 " + slow + "/za1200.json: download succeeded\n"), std::string::npos) << text;
    EXPECT_NE(text.find("No.1 " + slow + "/za2400.json: download not run, interrupted\n"), std::string::npos) << text;
    EXPECT_EQ(process.exitCode(), 1);
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
    const std::string dir = scratch.Path("watched");
    fs::create_directory(dir);
    fs::copy_file(scratch.SimDir() + "/za1200.json", dir + "/za1200.json");
    QProcess watch;
    watch.start(QString::fromStdString(CCliScratch::Program()),
                {QStringLiteral("--sim"), QString::fromStdString(dir), QStringLiteral("watch")});
    ASSERT_TRUE(watch.waitForStarted(10000));
    QByteArray out;
    auto waitFor = [&](const std::string& text) {
        while (!out.contains(text.c_str()) && watch.waitForReadyRead(30000))
            out += watch.readAllStandardOutput();
        return out.contains(text.c_str());
    };
    ASSERT_TRUE(waitFor("No.0: " + dir + "/za1200.json\n")) << out.toStdString();
    // The census comes before the program listens; a device that comes in between is not seen. The
    // kernel shows when the program's inotify watch is on the folder.
    bool bWatching = false;
    for (int i = 0; i < 1000 && !(bWatching = WatchesFolder(watch.processId(), dir)); ++i)
        ::usleep(10000);
    ASSERT_TRUE(bWatching) << "no inotify watch on " << dir;
    fs::copy_file(scratch.SimDir() + "/za2400.json", dir + "/za2400.json");
    EXPECT_TRUE(waitFor("Device " + dir + "/za2400.json is plugged in\n")) << out.toStdString();
    fs::remove(dir + "/za1200.json");
    EXPECT_TRUE(waitFor("Device " + dir + "/za1200.json is removed\n")) << out.toStdString();
    ::kill(static_cast<pid_t>(watch.processId()), SIGINT);
    ASSERT_TRUE(watch.waitForFinished(30000));
    EXPECT_EQ(watch.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watch.exitCode(), 0);
}

TEST_F(CliE2e, UpdateAllWhereTheWindowForbidsItIsAUsageError)
{
    const int n3600 = Index("ZEL ZA3600 Audio");
    const auto before = SimFiles();
    for (const char* pszFlag : {"--update-all", "--no-update-all"}) {
        const CliRun run = scratch.RunSim(
            {"download", CCliScratch::ExampleImage(kImage1200), "--device", std::to_string(n3600), pszFlag});
        EXPECT_EQ(run.nExit, 2) << pszFlag;
        EXPECT_EQ(run.strErr, "quillon-cli: " + std::string(pszFlag) +
                                  ": \"Update All\" is not optional for device No." + std::to_string(n3600) + " (" +
                                  DevicePath(n3600) +
                                  "); the window keeps it checked and disabled, so its boot-loader blocks are "
                                  "always written\n");
    }
    EXPECT_EQ(SimFiles(), before);
}

TEST_F(CliE2e, DryRunShowsTheVerdictsAndBlocksWithoutTouchingTheDevice)
{
    const int n1200 = Index("ZEL ZA1200 Audio");
    const auto before = SimFiles();
    const CliRun run =
        scratch.RunSim({"--json", "--match-policy", "0x10f", "download", CCliScratch::ExampleImage(kImage1200),
                        "--device", std::to_string(n1200), "--dry-run"});
    EXPECT_EQ(run.nExit, 0) << run.strOut << run.strErr;
    nlohmann::json dry;
    for (const auto& line : run.JsonLines())
        if (line["event"] == "dry-run")
            dry = line;
    ASSERT_TRUE(dry.is_object()) << run.strOut;
    ASSERT_EQ(dry["checks"].size(), 5u);
    for (const auto& check : dry["checks"])
        EXPECT_EQ(check["verdict"], "pass") << check.dump();
    // ImageMask 0xffffffff, boot loader block 0 and serial-number block 4 left out ("Update All" unchecked).
    EXPECT_EQ(dry["block_mask"], "0xffffffee");
    EXPECT_EQ(dry["update_all"], false);
    EXPECT_EQ(dry["flag_offset"], 0x3000);
    std::vector<int> blocks;
    for (const auto& block : dry["blocks"]) {
        blocks.push_back(block["block"].get<int>());
        EXPECT_EQ(block["offset"], block["block"].get<int>() * 4096);
        EXPECT_EQ(block["length"], 4096);
    }
    EXPECT_EQ(blocks, (std::vector<int>{1,  2,  3,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                        17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}));
    EXPECT_EQ(dry["bytes"], 30 * 4096);
    EXPECT_EQ(dry["ok"], true);

    const CliRun updateAll = scratch.RunSim({"--json", "download", CCliScratch::ExampleImage(kImage1200), "--device",
                                             std::to_string(n1200), "--dry-run", "--update-all"});
    EXPECT_EQ(updateAll.nExit, 0);
    bool bSeen = false;
    for (const auto& line : updateAll.JsonLines())
        if (line["event"] == "dry-run") {
            bSeen = true;
            EXPECT_EQ(line["block_mask"], "0xffffffef");
            EXPECT_EQ(line["checks"][0]["verdict"], "not checked");
        }
    EXPECT_TRUE(bSeen);

    const CliRun text = scratch.RunSim({"--match-policy", "0x10f", "download", CCliScratch::ExampleImage(kImage1200),
                                        "--device", std::to_string(n1200), "--dry-run"});
    EXPECT_EQ(text.nExit, 0);
    EXPECT_EQ(text.strErr, "");
    const std::vector<std::string> lines = text.OutLines();
    ASSERT_GE(lines.size(), 11u);
    EXPECT_EQ(
        std::vector<std::string>(lines.end() - 11, lines.end()),
        (std::vector<std::string>{"Device No." + std::to_string(n1200) + " (" + DevicePath(n1200) + ")",
                                  "  Vendor ID:     pass", "  Product ID:    pass", "  Version:       pass",
                                  "  Subversion:    pass", "  Chipset Type:  pass", "  Update All:    no",
                                  "  Block mask:    0xffffffee", "  Blocks:        1-3, 5-31 (30 blocks, 122880 bytes)",
                                  "  Flag offset:   0x3000 (flag word 0xAA 0xAA: cleared first, set last)",
                                  "  Verdict:       the download would be admitted"}));
    EXPECT_EQ(SimFiles(), before);
}

TEST_F(CliE2e, DryRunOfAMismatchShowsEveryFailingRowAndRefuses)
{
    const int n1200 = Index("ZEL ZA1200 Audio");
    const CliRun run = scratch.RunSim({"--match-policy", "0x10f", "download", CCliScratch::ExampleImage(kImage2400),
                                       "--device", std::to_string(n1200), "--dry-run"});
    EXPECT_EQ(run.nExit, 1);
    // Only the check as the download runs it shows its message; the rows carry theirs in the listing.
    EXPECT_EQ(run.strErr, "Product ID of firmware doesn't match device product ID!\n");
    const std::string out = run.strOut;
    EXPECT_NE(out.find("  Vendor ID:     pass\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  Product ID:    fail (Product ID of firmware doesn't match device product ID!)\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("  Subversion:    fail (Sub-version of firmware doesn't match device sub-version!)\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("  Verdict:       the download would be refused\n"), std::string::npos) << out;
}

TEST_F(CliE2e, UploadRefusesToOverwriteWithoutForce)
{
    const std::string file = scratch.Path("backup.bin");
    WriteFileText(file, "keep me");
    const CliRun refused = scratch.RunSim({"upload", file, "--device", "0"});
    EXPECT_EQ(refused.nExit, 1);
    EXPECT_EQ(refused.strOut, "");
    EXPECT_EQ(refused.strErr, "quillon-cli: " + file + " exists; add --force to replace it\n");
    EXPECT_EQ(ReadFileText(file), "keep me");

    const CliRun forced = scratch.RunSim({"upload", file, "--device", "0", "--force"});
    EXPECT_EQ(forced.nExit, 0) << forced.strErr;
    EXPECT_EQ(forced.strErr, "");
    EXPECT_EQ(forced.OutLines(), Concat(Census(), kUploadLines));
    EXPECT_EQ(fs::file_size(file), 65536u);
}

TEST_F(CliE2e, UploadReadsBackWhatADownloadWrote)
{
    const int n1200 = Index("ZEL ZA1200 Audio");
    const std::string image = CCliScratch::ExampleImage(kImage1200);
    const std::string backup = scratch.Path("before.bin");
    const CliRun download =
        scratch.RunSim({"--quiet", "download", image, "--device", std::to_string(n1200), "--backup", backup});
    ASSERT_EQ(download.nExit, 0) << download.strErr;
    EXPECT_EQ(fs::file_size(backup), 65536u);

    const std::string after = scratch.Path("after.bin");
    const CliRun upload = scratch.RunSim({"--json", "upload", after, "--device", std::to_string(n1200)});
    ASSERT_EQ(upload.nExit, 0) << upload.strErr;
    // The progress rises while the device is read, not only at its end.
    int nMidway = 0;
    for (const auto& line : upload.JsonLines())
        nMidway += line["event"] == "progress" && line["done"] > 0 && line["done"] < line["total"];
    EXPECT_GE(nMidway, 50);
    const std::string written = ReadFileText(image);
    const std::string read = ReadFileText(after);
    ASSERT_EQ(read.size(), 65536u);
    // Blocks 1 to 3 were written (block 0 is the boot loader, block 4 the serial number).
    EXPECT_EQ(read.substr(0x1000, 0x3000), written.substr(0x1000, 0x3000));

    // A backup never replaces a file.
    const CliRun again = scratch.RunSim({"download", image, "--backup", backup});
    EXPECT_EQ(again.nExit, 1);
    EXPECT_EQ(again.strErr, "quillon-cli: " + backup + " exists; a backup never replaces a file\n");
}

TEST_F(CliE2e, JsonAndLogCarryEveryLine)
{
    const std::string log = scratch.Path("run.log");
    const CliRun run =
        scratch.RunSim({"--json", "--verify", "--log", log, "download", CCliScratch::ExampleImage(kImage1200),
                        "--device", std::to_string(Index("ZEL ZA1200 Audio"))});
    ASSERT_EQ(run.nExit, 0) << run.strErr;
    EXPECT_EQ(run.strErr, "");
    const std::vector<nlohmann::json> lines = run.JsonLines();
    ASSERT_FALSE(lines.empty());
    std::vector<std::string> traces;
    uint64_t nLastDone = 0;
    int nProgress = 0;
    for (const auto& line : lines) {
        EXPECT_EQ(line["schema"], 2) << line.dump();
        if (line["event"] == "trace")
            traces.push_back(line["text"]);
        if (line["event"] == "progress") {
            // The bytes of the selected blocks, rising to their total.
            EXPECT_EQ(line["total"], 30 * 4096);
            EXPECT_GE(line["done"].get<uint64_t>(), nLastDone);
            nLastDone = line["done"];
            ++nProgress;
        }
    }
    EXPECT_EQ(nLastDone, 30u * 4096u);
    EXPECT_EQ(nProgress, 31);  // 0 and after each of the 30 blocks
    ASSERT_GE(traces.size(), kDownloadLines.size());
    for (size_t i = 0; i < kDownloadLines.size(); ++i)
        EXPECT_EQ(traces[traces.size() - kDownloadLines.size() + i], kDownloadLines[i] + "\r\n");
    EXPECT_EQ(lines.back()["event"], "result");
    EXPECT_EQ(lines.back()["command"], "download");
    EXPECT_EQ(lines.back()["ok"], true);
    EXPECT_EQ(lines.back()["status"], 0);

    const std::string text = ReadFileText(log);
    const QRegularExpression stamped(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} [+-]\\d{4} (trace|message|error|warning|run|result) .*$"));
    int nLines = 0;
    for (const QString& line : QString::fromStdString(text).split(u'\n', Qt::SkipEmptyParts)) {
        EXPECT_TRUE(stamped.match(line).hasMatch()) << line.toStdString();
        ++nLines;
    }
    // The census, the run's header, the warning of a policy that checks nothing, the image, the six
    // stages, the device's result.
    EXPECT_EQ(nLines, static_cast<int>(Census().size() + 3 + 1 + kDownloadLines.size()));
    EXPECT_NE(text.find(" trace Firmware upgrade succeeded....\n"), std::string::npos);
    EXPECT_NE(text.find(" run quillon-cli "), std::string::npos) << text;
    EXPECT_NE(text.find("; match policy 0x00000000; verify on\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" serial=ZA1200-000101 path=" + DevicePath(Index("ZEL ZA1200 Audio")) + " duration_ms="),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(" blocks=30 outcome=succeeded\n"), std::string::npos) << text;

    const CliRun noLog = scratch.RunSim({"--log", scratch.Path("no/such/folder.log"), "list"});
    EXPECT_EQ(noLog.nExit, 3);
    EXPECT_EQ(noLog.strErr, "quillon-cli: cannot open the log file " + scratch.Path("no/such/folder.log") +
                                ": No such file or directory\n");
    const CliRun noLogJson = scratch.RunSim({"--json", "--log", scratch.Path("no/such/folder.log"), "list"});
    EXPECT_EQ(noLogJson.JsonLines().back()["status"], 3) << noLogJson.strOut;

    // Appended, not replaced.
    scratch.RunSim({"--log", log, "--quiet", "upload", scratch.Path("x.bin")});
    EXPECT_EQ(ReadFileText(log).rfind(text, 0), 0u);
    EXPECT_GT(ReadFileText(log).size(), text.size());
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
    const std::string image = CCliScratch::ExampleImage(kImage1200);
    const std::string n = std::to_string(Index("ZEL ZA1200 Audio"));
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{"list"},
                                               {"info"},
                                               {"download", image, "--device", n, "--dry-run"},
                                               {"download", image, "--device", n, "--backup", scratch.Path("b.bin")},
                                               {"download", image, "--all", "--jobs", "2"},
                                               {"upload", scratch.Path("u.bin"), "--device", n},
                                               {"image", "info", image},
                                               {"flash-table", "show"},
                                               {"config", "check"},
                                               {"doctor"},
                                               {"watch", "--seconds", "1"},
                                               {"lsit"}}) {
        args.insert(args.begin(), "--json");
        for (const nlohmann::json& line : scratch.RunSim(args).JsonLines())
            collect(line.value("event", "?"), "", line);
    }
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
    const CliRun stamp = scratch.Run({"image", "stamp", "raw.bin", "stamped.bin", "--vid", "0x2fe3", "--pid", "0x1200",
                                      "--version", "0x20107", "--subversion", "0x12000100", "--chip", "0,1"});
    ASSERT_EQ(stamp.nExit, 0) << stamp.strErr;
    EXPECT_EQ(fs::file_size(scratch.Path("stamped.bin")), 8192u);

    const CliRun info = scratch.Run({"--json", "image", "info", "stamped.bin"});
    ASSERT_EQ(info.nExit, 0) << info.strErr;
    const nlohmann::json result = info.JsonLines().at(0);
    EXPECT_EQ(result["vendor_id"], "0x2fe3");
    EXPECT_EQ(result["product_id"], "0x1200");
    EXPECT_EQ(result["version"], "0x0107");
    EXPECT_EQ(result["version_field"], "0x00020107");
    EXPECT_EQ(result["subversion"], "0x12000100");
    EXPECT_EQ(result["chip"], nlohmann::json::array({"0x00", "0x01"}));
    EXPECT_EQ(result["record_offset"], 8192 - 36);

    const CliRun text = scratch.Run({"image", "info", "stamped.bin"});
    EXPECT_EQ(text.OutLines(),
              (std::vector<std::string>{"File:        stamped.bin", "Size:        8192 bytes", "Vendor ID:   0x2fe3",
                                        "Product ID:  0x1200", "Version:     0x0107 (field 0x00020107)",
                                        "Subversion:  0x12000100", "Chip bytes:  0x00, 0x01", "Record at:   0x1fdc"}));

    // No room without --append: nothing written; with it, the record follows the image.
    WriteFileText(scratch.Path("full.bin"), std::string(4096, '\x22'));
    const std::vector<std::string> args = {"image", "stamp",     "full.bin", "out.bin",      "--vid", "1",      "--pid",
                                           "2",     "--version", "3",        "--subversion", "4",     "--chip", "0,5"};
    const CliRun noRoom = scratch.Run(args);
    EXPECT_EQ(noRoom.nExit, 1);
    EXPECT_FALSE(fs::exists(scratch.Path("out.bin")));
    std::vector<std::string> append = args;
    append.push_back("--append");
    EXPECT_EQ(scratch.Run(append).nExit, 0);
    EXPECT_EQ(fs::file_size(scratch.Path("out.bin")), 4096u + 36u);

    EXPECT_EQ(scratch.Run({"image", "info", CCliScratch::ExampleImage("no-identity.bin")}).nExit, 1);
    EXPECT_EQ(scratch.Run({"image", "info", "nothing.bin"}).nExit, 3);
}

// A copy of quillon-cli in a folder of its own, so that it finds the data files put there.
std::string InstallCopy(const CCliScratch& scratch, const std::string& dir)
{
    fs::create_directories(scratch.Path(dir));
    const std::string program = scratch.Path(dir + "/quillon-cli");
    fs::copy_file(CCliScratch::Program(), program);
    return program;
}

TEST_F(CliE2e, DoctorNamesEachProblemWithItsFix)
{
    const std::string program = InstallCopy(scratch, "app");
    fs::copy_file(CCliScratch::SourceDir() + "/examples/Quillon.ini", scratch.Path("app/Quillon.ini"));
    const std::string root = scratch.Path("root");
    fs::create_directories(root + "/sys/class/hidraw/hidraw3/device");
    fs::create_directories(root + "/dev");
    WriteFileText(root + "/sys/class/hidraw/hidraw3/device/uevent", "HID_ID=0003:00002FE3:00001200\n");
    WriteFileText(root + "/dev/hidraw3", "");
    WriteFileText(scratch.Path("CMakeCache.txt"), "");  // the program stands in a build folder's app/

    const CliRun run = scratch.Run({"--json", "doctor"}, {{"QUILLON_SYSROOT", root}}, program);
    EXPECT_EQ(run.nExit, 1) << run.strOut << run.strErr;
    const nlohmann::json result = run.JsonLines().at(0);
    EXPECT_EQ(result["data_dir"], scratch.Path("app/"));
    std::map<std::string, nlohmann::json> findings;
    for (const auto& f : result["findings"])
        findings[f["where"]] = f;
    ASSERT_TRUE(findings.count("zel.dat")) << result.dump(1);
    EXPECT_EQ(findings["zel.dat"]["fix"], "cmake --build " + scratch.Dir() + " --target quillon_data");
    const std::string patch = scratch.Path("app/ZA4800.bin");
    ASSERT_TRUE(findings.count(patch)) << result.dump(1);
    EXPECT_EQ(findings[patch]["fix"], "sudo install -m 644 <the maker's patch file> " + patch);
    ASSERT_TRUE(findings.count("udev rules"));
    EXPECT_EQ(findings["udev rules"]["fix"], "sudo install -m 644 " + scratch.Dir() +
                                                 "/packaging/70-quillon.rules /etc/udev/rules.d/ && sudo udevadm "
                                                 "control --reload-rules && sudo udevadm trigger "
                                                 "--subsystem-match=hidraw --action=change");
    EXPECT_EQ(findings.size(), 3u) << result.dump(1);

    // No rules in that root: a `list` that finds nothing points at doctor, on stderr alone.
    const CliRun list = scratch.Run({"list"}, {{"QUILLON_SYSROOT", root}}, program);
    EXPECT_EQ(list.nExit, 0);
    EXPECT_EQ(list.strOut, "No device found.\n");
    EXPECT_NE(list.strErr.find("`quillon-cli doctor` says what is missing"), std::string::npos) << list.strErr;

    // Rules in place, the table and the patch beside the program: nothing left.
    fs::create_directories(root + "/etc/udev/rules.d");
    WriteFileText(root + "/etc/udev/rules.d/70-quillon.rules", "");
    fs::copy_file(QUILLON_BINARY_DIR "/bin/zel.dat", scratch.Path("app/zel.dat"));
    WriteFileText(patch, "patch");
    const CliRun clean = scratch.Run({"doctor"}, {{"QUILLON_SYSROOT", root}}, program);
    EXPECT_EQ(clean.nExit, 0) << clean.strOut;
    EXPECT_EQ(clean.OutLines(),
              (std::vector<std::string>{"Data folder: " + scratch.Path("app/"),
                                        "udev rules:  /etc/udev/rules.d/70-quillon.rules", "No findings."}));
}

// A node that the user cannot open. Needs root to play the user "nobody" (setpriv); skipped otherwise.
TEST_F(CliE2e, DoctorFindsAHidrawNodeThatCannotBeOpened)
{
    if (geteuid() != 0 || !fs::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "needs root and setpriv";
    const std::string program = InstallCopy(scratch, "app");
    for (const char* pszFile : {"Quillon.ini", "zel.dat", "ZA4800.bin"})
        fs::copy_file(std::string(QUILLON_BINARY_DIR "/bin/") + pszFile, scratch.Path(std::string("app/") + pszFile));
    const std::string root = scratch.Path("root");
    for (const char* pszNode : {"hidraw0", "hidraw1", "hidraw2", "hidraw3"})
        fs::create_directories(root + "/sys/class/hidraw/" + pszNode + "/device");
    fs::create_directories(root + "/dev");
    fs::create_directories(root + "/etc/udev/rules.d");
    WriteFileText(root + "/etc/udev/rules.d/70-quillon.rules", "");
    // A configured vendor, another vendor (not ours to judge), and a configured one that is open to all.
    WriteFileText(root + "/sys/class/hidraw/hidraw0/device/uevent", "HID_ID=0003:00002FE4:00004800\n");
    WriteFileText(root + "/sys/class/hidraw/hidraw1/device/uevent", "HID_ID=0003:0000046D:0000C52B\n");
    WriteFileText(root + "/sys/class/hidraw/hidraw2/device/uevent", "HID_ID=0003:00002FE3:00001200\n");
    // A configured one that the rules gave to a group the user is not in (a station without a seat).
    WriteFileText(root + "/sys/class/hidraw/hidraw3/device/uevent", "HID_ID=0003:00002FE3:00002400\n");
    for (const char* pszNode : {"hidraw0", "hidraw1", "hidraw2", "hidraw3"})
        WriteFileText(root + "/dev/" + pszNode, "");
    ASSERT_EQ(::chown((root + "/dev/hidraw3").c_str(), 0, ::getgrnam("plugdev")->gr_gid), 0);
    fs::permissions(root + "/dev/hidraw3",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::group_write);
    fs::permissions(root + "/dev/hidraw0", fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(root + "/dev/hidraw1", fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(root + "/dev/hidraw2", fs::perms::all);
    fs::permissions(scratch.Dir(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                       fs::perms::others_read | fs::perms::others_exec);

    const CliRun run = scratch.Run({"--reuid=nobody", "--regid=nogroup", "--clear-groups", program, "--json", "doctor"},
                                   {{"QUILLON_SYSROOT", root}, {"HOME", "/nonexistent"}}, "/usr/bin/setpriv");
    EXPECT_EQ(run.nExit, 1) << run.strOut << run.strErr;
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
