// Downloads and uploads through the whole stack: the main window on the headless host, the device
// library, the emulator's example devices on a scratch copy of examples/sim, and the data files
// (Quillon.ini, zel.dat, DFU patches) beside the programs in the build tree.
#include "app/QuillonDlg.h"
#include "app/Resource.h"
#include "emulator/hid/EmulatorBackend.h"
#include "platform/MemoryPreferenceStore.h"
#include "platform/ProfileReader.h"
#include "platform/console/ConsoleHost.h"
#include "support/ExampleDevices.h"
#include "support/FakeClock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <random>
#include <string>

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

// What one run of the window holds, from the device library to the host.
struct WindowRun {
    explicit WindowRun(const QString& simDir)
        : pBackend(CreateEmulatorBackend(simDir.toStdString())), pPrevious(SetZelHidBackend(pBackend.get())),
          pNotifier(CreateSimFolderNotifier(simDir.toStdString())), pProfile(CreateFileProfileReader())
    {
        prefs.WriteProfileInt("Options", "MatchPolicy", 0x10F);  // every identity check on
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
        // The example device files, as committed; their flash files are made when they are plugged in.
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
        const QString path = m_simDir + "/" + pszStem + ".json";
        QByteArray text = ReadAll(path).trimmed();
        ASSERT_TRUE(text.endsWith('}'));
        text.chop(1);
        ASSERT_TRUE(WriteAll(path, text + ",\n  \"faults\": " + faultsJson + "\n}\n"));
    }

    QByteArray Flash(const char* pszStem) const { return ReadAll(m_simDir + "/" + pszStem + ".flash"); }
    static QByteArray Image(const char* pszImage)
    {
        return ReadAll(QStringLiteral(QUILLON_SOURCE_DIR "/examples/images/") + pszImage);
    }

    bool Select(const ExampleDevice& device)
    {
        const auto items = Host().ComboItems(IDC_DEVICE_COMBO);
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].text == QString::fromStdU16String(device.pszProduct))
                return Host().SelectComboItem(IDC_DEVICE_COMBO, static_cast<int>(i));
        return false;
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
    ASSERT_TRUE(Select(device));
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
    ASSERT_TRUE(Select(device));
    EXPECT_EQ(Host().GetDlgItemText(IDC_DEV_VERSION).toStdString(), device.pszNewVersion);

    const QString uploaded = m_scratch.filePath("uploaded.bin");
    Upload(uploaded);
    EXPECT_THAT(Boxes(), IsEmpty());
    EXPECT_THAT(Traces(), Contains("Firmware upload succeeded!\r\n"));
    EXPECT_EQ(ReadAll(uploaded), Flash(device.pszStem).left(65536));
    EXPECT_FALSE(Dlg().m_bBusy.load());
}

INSTANTIATE_TEST_SUITE_P(Examples, DfuE2eDeviceTest, ::testing::ValuesIn(kExampleDevices),
                         [](const auto& info) { return std::string(info.param.pszStem); });

// Transfers that fail at a random write are retried within the same download, which then succeeds.
TEST_F(DfuE2eTest, FaultyTransfersRetriedToSuccess)
{
    const ExampleDevice& device = kZa1200;
    std::mt19937 random(7);
    // Each attempt of the ZA1200 is 17 writes: the flag word, 15 blocks, the flag word. One fault in the first
    // attempt and one in the second.
    std::uniform_int_distribution<int> pick(1, 17);
    const int nCorrupt = pick(random);
    const int nTimeout = nCorrupt + pick(random);
    SetFaults(device.pszStem, QByteArray("{\"corruptWrites\": [") + QByteArray::number(nCorrupt) +
                                  "], \"timeoutWrites\": [" + QByteArray::number(nTimeout) + "]}");
    Open();
    ASSERT_TRUE(Select(device));
    ASSERT_TRUE(OpenImage(device.pszImage));

    Start(false);

    EXPECT_THAT(Boxes(), IsEmpty());
    EXPECT_THAT(Traces(), Contains(kSucceeded));
    // Two failed attempts: the pauses of the schedule, then the final one.
    EXPECT_THAT(m_run->clock.Sleeps(), ::testing::ElementsAre(0u, 5000u, 500u));
    ExpectWritten(Flash(device.pszStem), Image(device.pszImage), device);
}
