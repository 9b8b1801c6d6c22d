// Downloads and uploads through the whole stack: the main window on the headless host, the device
// library, the emulator's example devices on a scratch copy of examples/sim, and the data files
// (Quillon.ini, zel.dat, DFU patches) beside the programs in the build tree.
#include "app/QuillonDlg.h"
#include "app/Resource.h"
#include "emulator/hid/EmulatorBackend.h"
#include "platform/MemoryPreferenceStore.h"
#include "platform/ProfileReader.h"
#include "platform/console/ConsoleHost.h"
#include "support/FakeClock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <random>

using ::testing::Contains;
using ::testing::IsEmpty;

namespace {

const char* const kSucceeded = "Firmware upgrade succeeded....\r\n";

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// One example device, what its image is and how Quillon.ini treats it.
struct ExampleDevice {
    const char* pszStem;      // examples/sim/<stem>.json
    const char* pszProduct;
    const char* pszImage;     // examples/images/...
    uint32_t nBlockMask;      // the blocks written with "Update All" set where it is optional
    int32_t nFlagOffset;
    const char* pszOldVersion;   // what the running firmware reports before
    const char* pszNewVersion;   // and after the download
};

// Every example image carries its identity record in its last bytes, inside the blocks written, so the
// device reports the new version once it runs the new firmware.
const ExampleDevice kDevices[] = {
    {"za1200", "ZEL ZA1200 Audio", "za1200-fw-0106.bin", 0xFFFFFFEF, 0x3000, "0x0105", "0x0106"},
    {"za2400", "ZEL ZA2400 Audio", "za2400-fw-0211.bin", 0xFFDF, 0x3000, "0x0000", "0x0211"},
    {"za3600", "ZEL ZA3600 Audio", "za3600-fw-0301.bin", 0xFFFF, 0x2000, "0x0300", "0x0301"},
    {"za4800", "ZEL ZA4800 Audio", "za4800-fw-0101.bin", 0xFFEE, 0x3000, "0x0100", "0x0101"},
};

// What one run of the window holds, from the device library to the host.
struct WindowRun {
    explicit WindowRun(const QString& simDir)
        : pBackend(CreateEmulatorBackend(simDir.toStdString())),
          pPrevious(SetZelHidBackend(pBackend.get())),
          pNotifier(CreateSimFolderNotifier(simDir.toStdString())),
          pProfile(CreateFileProfileReader())
    {
        prefs.WriteProfileInt("Options", "MatchPolicy", 0x10F);   // every identity check on
        env.strExecutablePath = QStringLiteral(QUILLON_BINARY_DIR "/bin/Quillon");
        env.strAppTitle = QStringLiteral("Quillon");
        env.pProfile = pProfile.get();
        env.pPrefs = &prefs;
        env.pClock = &clock;
        env.pNotifier = pNotifier.get();
        session.SetCaption(env.strAppTitle);
        pDlg = std::make_unique<CQuillonDlg>(env);
        pHost = std::make_unique<CConsoleHost>(session, *pDlg);
        pHost->Create();
    }
    ~WindowRun()
    {
        pHost->Destroy();
        pHost.reset();
        pDlg.reset();
        pNotifier.reset();
        SetZelHidBackend(pPrevious);
        g_pFlashInfo = nullptr;
        g_pKnownIDs_NormalMode = nullptr;
        g_pKnownDfuPatchInfos = nullptr;
    }

    std::unique_ptr<IZelHidBackend> pBackend;
    IZelHidBackend* pPrevious;
    std::unique_ptr<IDeviceNotifier> pNotifier;
    std::unique_ptr<IProfileReader> pProfile;
    CMemoryPreferenceStore prefs;
    CFakeClock clock;
    CQuillonEnv env;
    CConsoleSession session;
    std::unique_ptr<CQuillonDlg> pDlg;
    std::unique_ptr<CConsoleHost> pHost;
};

// A window on a fresh copy of the example devices, run the way the operator would.
class DfuE2eTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_scratch.isValid());
        ASSERT_TRUE(QFile::exists(QStringLiteral(QUILLON_BINARY_DIR "/bin/zel.dat")));
        m_simDir = m_scratch.filePath("sim");
        CopyExamples();
    }

    void TearDown() override { m_run.reset(); }

    // The example device files, as committed; their flash files are made when they are plugged in.
    void CopyExamples()
    {
        QDir(m_simDir).removeRecursively();
        QDir().mkpath(m_simDir);
        const QDir examples(QStringLiteral(QUILLON_SOURCE_DIR "/examples/sim"));
        for (const QString& name : examples.entryList({"*.json"}, QDir::Files))
            ASSERT_TRUE(QFile::copy(examples.filePath(name), m_simDir + "/" + name));
    }

    void Open() { m_run = std::make_unique<WindowRun>(m_simDir); }
    CConsoleHost& Host() { return *m_run->pHost; }
    CQuillonDlg& Dlg() { return *m_run->pDlg; }

    // Adds faults to a device's file before the window opens.
    void SetFaults(const char* pszStem, const QByteArray& faultsJson)
    {
        const QString path = JsonPath(pszStem);
        QByteArray text = ReadAll(path).trimmed();
        ASSERT_TRUE(text.endsWith('}'));
        text.chop(1);
        ASSERT_TRUE(WriteAll(path, text + ",\n  \"faults\": " + faultsJson + "\n}\n"));
    }

    QString JsonPath(const char* pszStem) const { return m_simDir + "/" + pszStem + ".json"; }
    QByteArray Flash(const char* pszStem) const { return ReadAll(m_simDir + "/" + pszStem + ".flash"); }
    static QByteArray Image(const char* pszImage)
    {
        return ReadAll(QStringLiteral(QUILLON_SOURCE_DIR "/examples/images/") + pszImage);
    }

    int FindDevice(const char* pszProduct)
    {
        const auto items = Host().ComboItems(IDC_DEVICE_COMBO);
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i].text == QLatin1String(pszProduct))
                return static_cast<int>(i);
        }
        return -1;
    }

    bool Select(const char* pszProduct)
    {
        const int nIndex = FindDevice(pszProduct);
        return nIndex >= 0 && Host().SelectComboItem(IDC_DEVICE_COMBO, nIndex);
    }

    bool OpenImage(const char* pszImage)
    {
        m_run->session.QueueOpenFileAnswer(QStringLiteral(QUILLON_SOURCE_DIR "/examples/images/") + pszImage);
        return Host().ChooseMenuItem(ID_FILE_OPEN_IMAGE) && Dlg().m_pImageData != nullptr;
    }

    // Start, then the window's loop until the worker has ended (notices are delivered meanwhile).
    void Start(bool bUpload)
    {
        Host().Click(bUpload ? IDC_UPLOAD : IDC_DOWNLOAD);
        if (!bUpload && Host().IsDlgItemEnabled(IDC_UPDATE_ALL) && Host().GetCheck(IDC_UPDATE_ALL) == 0)
            Host().Click(IDC_UPDATE_ALL);
        ASSERT_TRUE(Host().Click(IDC_START));
        while (Dlg().IsWorkerRunning())
            Host().DeliverNext(std::chrono::milliseconds(20));
        Host().PumpMessages();
    }

    void Upload(const QString& path)
    {
        m_run->session.QueueSaveFileAnswer(path);
        Start(true);
    }

    // Delivers notices until the product is listed (or is not), for at most a few seconds.
    bool WaitListed(const char* pszProduct, bool bListed)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while ((FindDevice(pszProduct) >= 0) != bListed) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            Host().DeliverNext(std::chrono::milliseconds(20));
        }
        return true;
    }

    std::vector<std::string> Traces()
    {
        std::vector<std::string> out;
        for (const QString& text : m_run->session.TraceTexts())
            out.push_back(text.toStdString());
        return out;
    }

    std::vector<std::string> Boxes()
    {
        std::vector<std::string> out;
        for (const QString& text : m_run->session.MessageBoxes())
            out.push_back(text.toStdString());
        return out;
    }

    // The selected blocks of the image stand in the flash, the flag word set.
    static void ExpectWritten(const QByteArray& flash, const QByteArray& image, const ExampleDevice& device)
    {
        ASSERT_GE(flash.size(), 131072);
        for (int k = 0; k < 32 && k * 4096 < image.size(); ++k) {
            if ((device.nBlockMask >> k & 1) == 0)
                continue;
            const int nLength = std::min(4096, static_cast<int>(image.size()) - k * 4096);
            EXPECT_EQ(flash.mid(k * 4096, nLength), image.mid(k * 4096, nLength)) << "block " << k;
        }
        EXPECT_EQ(flash.mid(device.nFlagOffset, 2), QByteArray("\xAA\xAA", 2));
    }

    // Blocks outside the mask keep what they held.
    static void ExpectKept(const QByteArray& before, const QByteArray& after, uint32_t nMask, int nImageSize)
    {
        for (int k = 0; k < 32; ++k) {
            if ((nMask >> k & 1) != 0 && k * 4096 < nImageSize)
                continue;
            EXPECT_EQ(after.mid(k * 4096, 4096), before.mid(k * 4096, 4096)) << "block " << k;
        }
    }

    QTemporaryDir m_scratch;
    QString m_simDir;
    std::unique_ptr<WindowRun> m_run;
};

}  // namespace

class DfuE2eDeviceTest : public DfuE2eTest, public ::testing::WithParamInterface<ExampleDevice> {};

TEST_P(DfuE2eDeviceTest, DownloadThenUploadWhatWasWritten)
{
    const ExampleDevice& device = GetParam();
    Open();
    const QByteArray before = Flash(device.pszStem);
    ASSERT_TRUE(Select(device.pszProduct));
    ASSERT_TRUE(OpenImage(device.pszImage));

    Start(false);

    EXPECT_THAT(Boxes(), IsEmpty());
    EXPECT_THAT(Traces(), Contains(kSucceeded));
    EXPECT_THAT(Traces().back(), "Device is switched to normal mode successfully!\r\n");
    const QByteArray image = Image(device.pszImage);
    const QByteArray flash = Flash(device.pszStem);
    ExpectWritten(flash, image, device);
    ExpectKept(before, flash, device.nBlockMask, static_cast<int>(image.size()));
    // Back in normal mode the device runs the new firmware; its refreshed entry shows it.
    ASSERT_TRUE(Select(device.pszProduct));
    EXPECT_EQ(Host().GetDlgItemText(IDC_DEV_VERSION).toStdString(), device.pszNewVersion);

    const QString uploaded = m_scratch.filePath("uploaded.bin");
    Upload(uploaded);
    EXPECT_THAT(Boxes(), IsEmpty());
    EXPECT_THAT(Traces(), Contains("Firmware upload succeeded!\r\n"));
    EXPECT_EQ(ReadAll(uploaded), Flash(device.pszStem).left(65536));
    EXPECT_FALSE(Dlg().m_bBusy.load());
}

INSTANTIATE_TEST_SUITE_P(Examples, DfuE2eDeviceTest, ::testing::ValuesIn(kDevices),
                         [](const auto& info) { return std::string(info.param.pszStem); });

// A download cut off by a pull-out at a point chosen at random, then the device plugged in again and
// downloaded anew. The device must never run a partly written image: after the cut it runs either
// its old firmware untouched or the new one complete, or it stays in recovery.
class DfuE2eInterruptTest : public DfuE2eTest, public ::testing::WithParamInterface<ExampleDevice> {};

TEST_P(DfuE2eInterruptTest, InterruptedDownloadThenSuccessfulOne)
{
    const ExampleDevice& device = GetParam();
    const QByteArray image = Image(device.pszImage);
    std::mt19937 random(20240611u + device.nBlockMask);
    const QByteArray faults[] = {
        QByteArray("{\"unplugAfterReports\": ") + QByteArray::number(std::uniform_int_distribution<int>(30, 800)(random)) + "}",
        QByteArray("{\"unplugAfterReports\": ") + QByteArray::number(std::uniform_int_distribution<int>(30, 800)(random)) + "}",
        QByteArray("{\"unplugAtStep\": \"program\", \"unplugAtStepCount\": ") +
            QByteArray::number(std::uniform_int_distribution<int>(1, 200)(random)) + "}",
        QByteArray("{\"unplugAtStep\": \"erase\", \"unplugAtStepCount\": ") +
            QByteArray::number(std::uniform_int_distribution<int>(1, 15)(random)) + "}",
        QByteArray("{\"unplugAtStep\": \"write\", \"unplugAtStepCount\": ") +
            QByteArray::number(std::uniform_int_distribution<int>(2, 16)(random)) + "}",
    };
    int nRecoveries = 0;
    for (const QByteArray& fault : faults) {
        SCOPED_TRACE(fault.toStdString());
        m_run.reset();
        CopyExamples();
        const QByteArray jsonBefore = ReadAll(JsonPath(device.pszStem));
        SetFaults(device.pszStem, fault);
        Open();
        const QByteArray before = Flash(device.pszStem);
        ASSERT_TRUE(Select(device.pszProduct));
        ASSERT_TRUE(OpenImage(device.pszImage));

        Start(false);

        // The cut: the entry has gone with the device, the window is idle again.
        ASSERT_THAT(Boxes(), Contains("Firmware upgrade failed"));
        EXPECT_EQ(FindDevice(device.pszProduct), -1);
        EXPECT_FALSE(Dlg().m_bBusy.load());
        const QByteArray cut = Flash(device.pszStem);
        const bool bFlagSet = cut.mid(device.nFlagOffset, 2) == QByteArray("\xAA\xAA", 2);
        if (bFlagSet)
            EXPECT_EQ(cut.left(131072), before.left(131072)) << "a set flag word over changed blocks";
        nRecoveries += bFlagSet ? 0 : 1;

        // Plugged in again without the fault: it boots by its flag word.
        ASSERT_TRUE(WriteAll(JsonPath(device.pszStem), jsonBefore));
        QFile::remove(JsonPath(device.pszStem) + ".unplugged");
        ASSERT_TRUE(WaitListed(device.pszProduct, true));
        ASSERT_TRUE(Select(device.pszProduct));
        EXPECT_EQ(Host().GetDlgItemText(IDC_DEV_VERSION).toStdString(), bFlagSet ? device.pszOldVersion : "0x0000");

        Start(false);

        EXPECT_THAT(Traces(), Contains(kSucceeded));
        ExpectWritten(Flash(device.pszStem), image, device);
        ASSERT_TRUE(Select(device.pszProduct));
        EXPECT_EQ(Host().GetDlgItemText(IDC_DEV_VERSION).toStdString(), device.pszNewVersion);
    }
    // The cuts fell inside the flag-word protocol, not only before it.
    EXPECT_GT(nRecoveries, 0);
}

INSTANTIATE_TEST_SUITE_P(Examples, DfuE2eInterruptTest, ::testing::Values(kDevices[0], kDevices[3]),
                         [](const auto& info) { return std::string(info.param.pszStem); });

// Transfers that fail at a random write are retried within the same download, which then succeeds.
TEST_F(DfuE2eTest, FaultyTransfersRetriedToSuccess)
{
    const ExampleDevice& device = kDevices[0];
    std::mt19937 random(7);
    // Each attempt of the ZA1200 is 17 writes: the flag word, 15 blocks, the flag word. One fault in the first
    // attempt and one in the second.
    std::uniform_int_distribution<int> pick(1, 17);
    const int nCorrupt = pick(random);
    const int nTimeout = nCorrupt + pick(random);
    SetFaults(device.pszStem, QByteArray("{\"corruptWrites\": [") + QByteArray::number(nCorrupt) +
                                  "], \"timeoutWrites\": [" + QByteArray::number(nTimeout) + "]}");
    Open();
    ASSERT_TRUE(Select(device.pszProduct));
    ASSERT_TRUE(OpenImage(device.pszImage));

    Start(false);

    EXPECT_THAT(Boxes(), IsEmpty());
    EXPECT_THAT(Traces(), Contains(kSucceeded));
    // Two failed attempts: the pauses of the schedule, then the final one.
    EXPECT_THAT(m_run->clock.Sleeps(), ::testing::ElementsAre(0u, 5000u, 500u));
    ExpectWritten(Flash(device.pszStem), Image(device.pszImage), device);
}
