// Downloads and uploads through the worker's whole procedure, against scripted devices.
#include "app/Resource.h"
#include "dfu/OperationWorker.h"
#include "dfu/Upload.h"
#include "support/WindowFixture.h"

#include <gmock/gmock.h>

#include <algorithm>

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Pair;

namespace {

const char* const kStarted = "Firmware upgrade started....\r\n";
const char* const kSucceeded = "Firmware upgrade succeeded....\r\n";
const char* const kUploadStarted = "Firmware upload started....\r\n";
const std::vector<std::string> kDownloaded = {kWaitDfu, kInDfu, kStarted, kSucceeded, kWaitNormal, kInNormal};
const std::vector<std::string> kUploaded = {kWaitDfu,    kInDfu,   kUploadStarted, "Firmware upload succeeded!\r\n",
                                            kWaitNormal, kInNormal};
const std::vector<std::string> kUploadFailed = {kWaitDfu, kInDfu, kUploadStarted, kWaitNormal, kInNormal};

class FlowTest : public DfuTest {
protected:
    void TearDown() override
    {
        std::remove(m_path.c_str());
        DfuTest::TearDown();
    }
    // A download of a 0x5800-byte image flagged at 0x3000 to a device with its serial number at 0x4000.
    CFakeZelUsbDevice* ReadyDevice()
    {
        CFakeZelUsbDevice* pDevice = AddListedDevice();
        pDevice->nDefaultSerialAddr = 0x4000;
        LoadImage(0x5800, 0x3000);
        return pDevice;
    }
    // An upload of a device that holds nBytes, into m_path.
    CFakeZelUsbDevice* ReadyUpload(uint32_t nBytes)
    {
        dlg->m_nOperation = 1;
        CFakeZelUsbDevice* pDevice = AddListedDevice();
        pDevice->readData = Pattern(0, nBytes);
        session.QueueSaveFileAnswer(QString::fromStdString(m_path));
        return pDevice;
    }
    // The flag word's first write starts every attempt of the flag protocol.
    static size_t Attempts(const CFakeZelUsbDevice* pDevice)
    {
        size_t n = 0;
        for (const auto& w : pDevice->Writes())
            n += !w.bFlag && w.nOffset == 0x3000 && w.data.size() == 2;
        return n;
    }
    // What every ending shows: its trace lines and boxes, the normal-mode requests, and the window unlocked.
    void ExpectEnding(const CFakeZelUsbDevice* pDevice, const std::vector<std::string>& traces,
                      const std::vector<std::string>& boxes, size_t nNormalRequests)
    {
        EXPECT_THAT(Traces(), ElementsAreArray(traces));
        EXPECT_THAT(Boxes(), ElementsAreArray(boxes));
        EXPECT_EQ(pDevice->CountCalls("SwitchToNormalMode"), nNormalRequests);
        EXPECT_TRUE(host->ActiveTimers().empty());
        EXPECT_TRUE(host->IsDlgItemEnabled(IDC_START));
        EXPECT_FALSE(dlg->m_bBusy.load());
    }
    std::string m_path = TempPath("upload.bin");
};

}  // namespace

// The list entry is refreshed with the current product string.
TEST_F(FlowTest, DownloadSucceedsAtTheFirstAttempt)
{
    AddListedDevice(u"/dev/hidraw5");
    CFakeZelUsbDevice* pDevice = ReadyDevice();  // second entry, selected
    pDevice->strProduct = u"Renamed After Upgrade";
    // At every trace line the controls are locked and the timer runs.
    std::vector<std::pair<bool, bool>> lockedAndTiming;
    session.SetTraceSink([&](const QString&) {
        lockedAndTiming.emplace_back(!host->IsDlgItemEnabled(IDC_START), host->ActiveTimers().size() == 1);
    });

    RunWorker();

    ExpectEnding(pDevice, kDownloaded, {}, 1);
    EXPECT_FALSE(dlg->IsWorkerRunning());
    EXPECT_THAT(clock.Sleeps(), ElementsAre(500u));
    EXPECT_THAT(lockedAndTiming, ElementsAreArray(std::vector<std::pair<bool, bool>>(6, {true, true})));
    EXPECT_THAT(ListTexts(), ElementsAre("USB Audio Device", "Renamed After Upgrade"));
    EXPECT_EQ(host->ComboGetItemData(IDC_DEVICE_COMBO, 1), pDevice);
    EXPECT_EQ(host->ComboGetCurSel(IDC_DEVICE_COMBO), 1);
}

TEST_F(FlowTest, DownloadSucceedsAfterTwoFailures)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    pDevice->qWrite = {false, false};
    pDevice->bDefaultRedetect = true;
    g_pFlashInfo = kFlashTable;  // the library has a table, the window's detection is not in play

    RunWorker();

    ExpectEnding(pDevice, kDownloaded, {}, 1);
    EXPECT_EQ(pDevice->CountCalls("IsFlashRedetectNeeded"), 2u);
    EXPECT_EQ(pDevice->CountCalls("DetectFlash"), 2u);
    EXPECT_EQ(Attempts(pDevice), 3u);
}

TEST_F(FlowTest, DownloadFailsAfterTenAttempts)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    pDevice->qWrite = std::deque<bool>(10, false);
    pDevice->bDefaultRedetect = true;
    uint64_t nPausedAtBox = 0;
    size_t nNormalRequestsAtBox = 99;
    session.SetMessageBoxSink([&](const QString&) {
        nPausedAtBox = clock.TotalSleptMs();
        nNormalRequestsAtBox = pDevice->CountCalls("SwitchToNormalMode");
    });

    RunWorker();

    ExpectEnding(pDevice, {kWaitDfu, kInDfu, kStarted, kWaitNormal, kInNormal}, {"Firmware upgrade failed"}, 1);
    EXPECT_EQ(Attempts(pDevice), 10u);
    EXPECT_EQ(pDevice->CountCalls("DetectFlash"), 0u);  // offered, but the library has no flash table
    EXPECT_THAT(clock.Sleeps(),
                ElementsAre(0u, 5000u, 10000u, 15000u, 20000u, 25000u, 30000u, 35000u, 40000u, 45000u, 500u));
    // The failure is told after the last pause, before the normal-mode request.
    EXPECT_EQ(nPausedAtBox, 225000u);
    EXPECT_EQ(nNormalRequestsAtBox, 0u);
}

TEST_F(FlowTest, DownloadUnpluggedDuringAttemptThreeEndsAtAttemptFour)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    pDevice->qWrite = {false, false, false};
    int nWrites = 0;
    pDevice->onCall = [&](const std::string& name) {
        if (name == "WriteFlash" && ++nWrites == 3)
            backend.Unplug(pDevice);
    };

    RunWorker();

    ExpectEnding(pDevice, {kWaitDfu, kInDfu, kStarted}, {"Firmware upgrade failed"}, 0);
    EXPECT_EQ(Attempts(pDevice), 3u);
    EXPECT_THAT(clock.Sleeps(), ElementsAre(0u, 5000u, 10000u, 500u));
    // The entry is gone and the device released.
    EXPECT_EQ(host->ComboGetCount(IDC_DEVICE_COMBO), 0);
    EXPECT_THAT(backend.log, Contains("ReleaseObject(/dev/hidraw0)"));
}

TEST_F(FlowTest, DownloadWithAnEmptyMaskRefusedBeforeAnythingIsLocked)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    profile.SetInt("ImageMask", "CHIP_0101_SUBV_00001000", 0x3);
    profile.SetInt("BootLoaderMask", "CHIP_0101_SUBV_00001000", 0x3);
    dlg->m_bUpdateAll = 0;
    bool bLockedAtRefusal = true;
    session.SetMessageBoxSink([&](const QString&) {
        bLockedAtRefusal = !host->IsDlgItemEnabled(IDC_START) || !host->ActiveTimers().empty();
    });

    RunWorker();

    ExpectEnding(pDevice, {}, {"Firmware upgrade is not permitted for this device!\r\n"}, 0);
    EXPECT_FALSE(bLockedAtRefusal);
}

// Without an image the download asks for one; with the question cancelled it ends untouched.
TEST_F(FlowTest, DownloadWithoutAnImageAndTheOpenCancelled)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    dlg->m_pImageData.reset();
    RunWorker();
    ExpectEnding(pDevice, {}, {}, 0);
}

TEST_F(FlowTest, DownloadWithTheNormalModeRefused)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    pDevice->qSwitchToNormal = {false};
    RunWorker();
    ExpectEnding(pDevice, {kWaitDfu, kInDfu, kStarted, kSucceeded, kWaitNormal},
                 {"Device switching to normal mode failed!\r\n"}, 1);
}

TEST_F(FlowTest, NoDeviceSelected)
{
    RunWorker();
    EXPECT_THAT(Boxes(), ElementsAre("Please choose a DFU device!"));
    EXPECT_THAT(Traces(), IsEmpty());
    EXPECT_THAT(clock.Sleeps(), IsEmpty());
}

// The lock leaves the trace usable; "Update All" comes back only for an available boot-loader device.
TEST_F(DfuTest, OperationUiLockAndUnlock)
{
    const int kControls[] = {IDC_DEVICE_COMBO, IDC_DOWNLOAD, IDC_UPLOAD, IDC_START, IDC_PROGRESS};
    const int kCommands[] = {ID_FILE_OPEN_IMAGE, ID_APP_EXIT, ID_CONFIG_OPTIONS, ID_HELP_ABOUT};
    CFakeZelUsbDevice* pLoader = AddListedDevice();
    CFakeZelUsbDevice* pGone = AddListedDevice(u"/dev/hidraw1");
    pGone->bAvailable = false;
    CFakeZelUsbDevice* pNoLoader = AddListedDevice(u"/dev/hidraw2");
    pNoLoader->bBootLoader = false;
    for (bool bEnable : {false, true}) {
        SetOperationUiEnabled(dlg.get(), bEnable, pLoader);
        for (int nId : kControls)
            EXPECT_EQ(host->IsDlgItemEnabled(nId), bEnable) << nId;
        for (int nCommand : kCommands)
            EXPECT_EQ(host->IsMenuItemEnabled(nCommand), bEnable) << nCommand;
        EXPECT_EQ(host->IsDlgItemEnabled(IDC_UPDATE_ALL), bEnable);
        EXPECT_TRUE(host->IsDlgItemEnabled(IDC_CLEAR_TRACE));
        EXPECT_TRUE(host->IsDlgItemEnabled(IDC_TRACE));
    }
    EXPECT_EQ(pLoader->CountCalls("IsDeviceAvailable"), 1u);  // asked on unlock only
    for (CFakeZelUsbDevice* pDevice : {static_cast<CFakeZelUsbDevice*>(nullptr), pGone, pNoLoader}) {
        SetOperationUiEnabled(dlg.get(), true, pDevice);
        EXPECT_FALSE(host->IsDlgItemEnabled(IDC_UPDATE_ALL));
        EXPECT_TRUE(host->IsDlgItemEnabled(IDC_START));
    }
    EXPECT_THAT(pGone->CallNames(), ElementsAre("IsDeviceAvailable"));
}

// A first read that scribbles into the buffer and fails, then reads that deliver a few bytes and
// report more: what lies between must be the zeros the flow put there. Every read asks for the whole
// buffer from the start of the flash.
class CScribblingDevice : public CFakeZelUsbDevice {
public:
    using CFakeZelUsbDevice::CFakeZelUsbDevice;
    std::vector<std::pair<uint32_t, uint32_t>> reads;  // offset and length asked for
    bool ReadFlash(uint32_t nOffset, uint32_t& nLength, uint8_t* pBuffer) override
    {
        reads.emplace_back(nOffset, nLength);
        if (reads.size() == 1) {
            std::fill(pBuffer, pBuffer + nLength, uint8_t{0xEE});
            nLength = 7;
            return false;
        }
        std::fill(pBuffer, pBuffer + 16, uint8_t{0x11});
        nLength = 64;
        return true;
    }
};

TEST_F(FlowTest, UploadWritesTheDeliveredBytes)
{
    // 70000: a device that reports more than the buffer holds is cut to the buffer.
    for (uint32_t nBytes : {65536u, 0u, 70000u}) {
        SCOPED_TRACE(nBytes);
        const uint32_t nKept = std::min(nBytes, 65536u);
        ForgetRecords();
        CRecordingProgress progress;
        env.pProgress = &progress;
        CFakeZelUsbDevice* pDevice = ReadyUpload(nBytes);
        pDevice->strProduct = u"Renamed";
        pDevice->bReadOverReport = nBytes > 65536;

        RunWorker();

        ExpectEnding(pDevice, kUploaded, {}, 1);
        EXPECT_EQ(ReadFileBytes(m_path), Pattern(0, nKept));
        EXPECT_EQ(progress.calls.back(), std::make_pair(uint64_t{nKept}, uint64_t{65536}));
        // The device is still there: the list is left alone.
        EXPECT_EQ(host->ComboGetText(IDC_DEVICE_COMBO, host->ComboGetCurSel(IDC_DEVICE_COMBO)), "USB Audio Device");
        env.pProgress = nullptr;
    }
    const FileDialogRequest request = session.FileDialogs().front().request;
    EXPECT_EQ(request.strFilter, "BIN Files (*.bin)|*.bin|All Files (*.*)|*.*||");
    EXPECT_EQ(request.strDefaultExt, "bin");
    EXPECT_TRUE(request.bOverwritePrompt);
    EXPECT_TRUE(request.bHideReadOnly);
}

TEST_F(FlowTest, UploadRetriesIntoAZeroedBuffer)
{
    dlg->m_nOperation = 1;
    auto device = std::make_unique<CScribblingDevice>(u"/dev/hidraw3");
    ListDevice(device.get(), "Scribbler");
    session.QueueSaveFileAnswer(QString::fromStdString(m_path));

    RunWorker();

    EXPECT_THAT(device->reads, ElementsAre(Pair(0u, 65536u), Pair(0u, 65536u)));
    std::vector<uint8_t> expected(64, 0);
    std::fill(expected.begin(), expected.begin() + 16, uint8_t{0x11});
    EXPECT_EQ(ReadFileBytes(m_path), expected);
}

TEST_F(FlowTest, UploadWithTheFileDialogCancelledTouchesNothing)
{
    dlg->m_nOperation = 1;
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    RunWorker();
    EXPECT_EQ(session.FileDialogs().size(), 1u);
    EXPECT_TRUE(Traces().empty() && Boxes().empty());
    EXPECT_THAT(pDevice->CallNames(), ElementsAre("IsDeviceAvailable"));
    EXPECT_THAT(clock.Sleeps(), ElementsAre(500u));
}

TEST_F(FlowTest, UploadToAFileThatCannotBeOpened)
{
    dlg->m_nOperation = 1;
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    session.QueueSaveFileAnswer(QString::fromStdString(TempPath("no-such-dir") + "/out.bin"));

    RunWorker();

    ExpectEnding(pDevice, {}, {"Open file failed!"}, 0);
    EXPECT_EQ(pDevice->CountCalls("SwitchToDfuMode"), 0u);
}

// A failed upload leaves an existing file, confirmed for overwriting, as it was.
TEST_F(FlowTest, FailedUploadKeepsTheExistingFile)
{
    for (bool bEntryFails : {false, true}) {
        SCOPED_TRACE(bEntryFails);
        ForgetRecords();
        WriteFileBytes(m_path, Pattern(0, 100));
        CFakeZelUsbDevice* pDevice = ReadyUpload(100);
        if (bEntryFails)
            pDevice->qSwitchToDfu = {false};
        else
            pDevice->qRead = std::deque<bool>(10, false);
        const uint64_t nSleptBefore = clock.TotalSleptMs();

        RunWorker();

        if (bEntryFails) {
            ExpectEnding(pDevice, {kWaitDfu}, {"Switching to DFU mode failed!"}, 0);
        } else {
            ExpectEnding(pDevice, kUploadFailed, {"Firmware upload failed!"}, 1);
            EXPECT_EQ(pDevice->CountCalls("ReadFlash"), 10u);
            EXPECT_EQ(clock.TotalSleptMs() - nSleptBefore, 225000u + 500u);
        }
        EXPECT_EQ(ReadFileBytes(m_path), Pattern(0, 100));
    }
}

TEST_F(FlowTest, UploadUnpluggedInDfuModeStillAsksForNormalMode)
{
    CFakeZelUsbDevice* pDevice = ReadyUpload(100);
    pDevice->onCall = [&](const std::string& name) {
        if (name == "SwitchToDfuMode")
            backend.Unplug(pDevice);
    };
    pDevice->qSwitchToNormal = {false};

    RunWorker();

    ExpectEnding(pDevice, {kWaitDfu, kInDfu, kUploadStarted, kWaitNormal},
                 {"Firmware upload failed!", "Device switching to normal mode failed!\r\n"}, 1);
    EXPECT_EQ(pDevice->CountCalls("ReadFlash"), 0u);
    // The list fix-up removes the entry and releases the device.
    EXPECT_EQ(host->ComboGetCount(IDC_DEVICE_COMBO), 0);
    EXPECT_THAT(backend.log, Contains("ReleaseObject(/dev/hidraw0)"));
}
