#include "app/Resource.h"
#include "dfu/Upload.h"
#include "support/WindowFixture.h"

#include <gmock/gmock.h>

#include <QFile>
#include <algorithm>
#include <csignal>
#include <sys/resource.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const char* const kStarted = "Firmware upload started....\r\n";
const char* const kSucceeded = "Firmware upload succeeded!\r\n";

// A first read that scribbles into the buffer and fails, then reads that deliver a few bytes and
// report more: what lies between must be the zeros the flow put there.
class CScribblingDevice : public CFakeZelUsbDevice {
public:
    using CFakeZelUsbDevice::CFakeZelUsbDevice;
    std::vector<uint32_t> lengthsIn;
    bool ReadFlash(uint32_t nOffset, uint32_t& nLength, uint8_t* pBuffer) override
    {
        lengthsIn.push_back(nLength);
        if (lengthsIn.size() == 1) {
            std::fill(pBuffer, pBuffer + nLength, uint8_t{0xEE});
            nLength = 7;
            return false;
        }
        std::fill(pBuffer, pBuffer + 16, uint8_t{0x11});
        nLength = 64;
        return true;
    }
};

std::string FirstCall(const CFakeZelUsbDevice* pDevice, const std::string& name)
{
    for (const FakeCall& call : pDevice->Calls()) {
        if (call.strName == name)
            return call.Text();
    }
    return {};
}

class UploadFlowTest : public DfuTest {
protected:
    void SetUp() override
    {
        DfuTest::SetUp();
        dlg->m_nOperation = 1;
        m_path = TempPath("upload.bin");
    }
    void TearDown() override
    {
        std::remove(m_path.c_str());
        DfuTest::TearDown();
    }
    CFakeZelUsbDevice* ReadyDevice(uint32_t nBytes)
    {
        CFakeZelUsbDevice* pDevice = AddListedDevice();
        pDevice->readData = Pattern(0, nBytes);
        session.QueueSaveFileAnswer(QString::fromStdString(m_path));
        return pDevice;
    }
    std::string m_path;
};

}  // namespace

TEST_F(UploadFlowTest, SuccessWritesTheDeliveredBytes)
{
    // 70000: a device that reports more than the buffer holds is cut to the buffer.
    for (uint32_t nBytes : {65536u, 32768u, 0u, 70000u}) {
        SCOPED_TRACE(nBytes);
        const uint32_t nKept = std::min(nBytes, 65536u);
        ForgetRecords();
        CRecordingProgress progress;
        env.pProgress = &progress;
        CFakeZelUsbDevice* pDevice = ReadyDevice(nBytes);
        pDevice->strProduct = u"Renamed";
        pDevice->bReadOverReport = nBytes > 65536;

        RunWorker();

        EXPECT_THAT(Traces(), ElementsAre(kWaitDfu, kInDfu, kStarted, kSucceeded, kWaitNormal, kInNormal));
        EXPECT_THAT(Boxes(), IsEmpty());
        EXPECT_EQ(ReadFileBytes(m_path), Pattern(0, nKept));
        EXPECT_EQ(FirstCall(pDevice, "ReadFlash"), "ReadFlash(0x0,65536)");
        EXPECT_TRUE(host->ActiveTimers().empty());
        EXPECT_FALSE(dlg->m_bBusy.load());
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

TEST_F(UploadFlowTest, SecondAttemptStartsFromZeroedBuffer)
{
    auto device = std::make_unique<CScribblingDevice>(u"/dev/hidraw3");
    ListDevice(device.get(), "Scribbler");
    session.QueueSaveFileAnswer(QString::fromStdString(m_path));

    RunWorker();

    EXPECT_THAT(device->lengthsIn, ElementsAre(65536u, 65536u));
    std::vector<uint8_t> expected(64, 0);
    std::fill(expected.begin(), expected.begin() + 16, uint8_t{0x11});
    EXPECT_EQ(ReadFileBytes(m_path), expected);
    EXPECT_THAT(clock.Sleeps(), ElementsAre(0u, 500u));
    EXPECT_EQ(device->CountCalls("IsFlashRedetectNeeded"), 1u);
}

TEST_F(UploadFlowTest, CancelledDialogTouchesNothing)
{
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    RunWorker();
    EXPECT_EQ(session.FileDialogs().size(), 1u);
    EXPECT_TRUE(Traces().empty() && Boxes().empty());
    EXPECT_THAT(pDevice->CallNames(), ElementsAre("IsDeviceAvailable"));
    EXPECT_THAT(clock.Sleeps(), ElementsAre(500u));
}

TEST_F(UploadFlowTest, FileThatCannotBeOpened)
{
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    session.QueueSaveFileAnswer(QString::fromStdString(TempPath("no-such-dir") + "/out.bin"));

    RunWorker();

    EXPECT_THAT(Boxes(), ElementsAre("Open file failed!"));
    EXPECT_THAT(Traces(), IsEmpty());
    EXPECT_EQ(pDevice->CountCalls("SwitchToDfuMode"), 0u);
    EXPECT_TRUE(host->IsDlgItemEnabled(IDC_START));
    EXPECT_TRUE(host->ActiveTimers().empty());
    EXPECT_EQ(host->ProgressGetPos(IDC_PROGRESS), 0);
}

// A disk that fills up under the write (a file size limit, past which a write fails): no success, and
// no file under the chosen name.
TEST_F(UploadFlowTest, FailedFileWriteIsNotSuccess)
{
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    pDevice->readData = Pattern(0, 4096);
    session.QueueSaveFileAnswer(QString::fromStdString(m_path));
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1024, previous.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);

    RunWorker();
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_THAT(Boxes(), ElementsAre("Write file failed!"));
    EXPECT_THAT(Traces(), ElementsAre(kWaitDfu, kInDfu, kStarted, kWaitNormal, kInNormal));
    EXPECT_EQ(pDevice->CountCalls("ReadFlash"), 1u);
    EXPECT_EQ(pDevice->CountCalls("SwitchToNormalMode"), 1u);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(m_path)));
}

// A failed upload leaves an existing file, confirmed for overwriting, as it was.
TEST_F(UploadFlowTest, FailureKeepsTheExistingFile)
{
    for (bool bEntryFails : {false, true}) {
        SCOPED_TRACE(bEntryFails);
        ForgetRecords();
        WriteFileBytes(m_path, Pattern(0, 100));
        CFakeZelUsbDevice* pDevice = ReadyDevice(100);
        if (bEntryFails)
            pDevice->qSwitchToDfu = {false};
        else
            pDevice->qRead = std::deque<bool>(10, false);
        const uint64_t nSleptBefore = clock.TotalSleptMs();

        RunWorker();

        if (bEntryFails) {
            EXPECT_THAT(Boxes(), ElementsAre("Switching to DFU mode failed!"));
            EXPECT_THAT(Traces(), ElementsAre(kWaitDfu));
        } else {
            EXPECT_EQ(pDevice->CountCalls("ReadFlash"), 10u);
            EXPECT_EQ(clock.TotalSleptMs() - nSleptBefore, 225000u + 500u);
            EXPECT_THAT(Boxes(), ElementsAre("Firmware upload failed!"));
            EXPECT_THAT(Traces(), ElementsAre(kWaitDfu, kInDfu, kStarted, kWaitNormal, kInNormal));
        }
        EXPECT_EQ(pDevice->CountCalls("SwitchToNormalMode"), bEntryFails ? 0u : 1u);
        EXPECT_EQ(ReadFileBytes(m_path), Pattern(0, 100));
    }
}

TEST_F(UploadFlowTest, UnplugInDfuModeStillAsksForNormalMode)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice(100);
    pDevice->onCall = [&](const std::string& name) {
        if (name == "SwitchToDfuMode")
            backend.Unplug(pDevice);
    };
    pDevice->qSwitchToNormal = {false};

    RunWorker();

    EXPECT_THAT(Boxes(), ElementsAre("Firmware upload failed!", "Device switching to normal mode failed!\r\n"));
    EXPECT_THAT(Traces(), ElementsAre(kWaitDfu, kInDfu, kStarted, kWaitNormal));
    EXPECT_EQ(pDevice->CountCalls("ReadFlash"), 0u);
    // The list fix-up removes the entry and releases the device.
    EXPECT_EQ(host->ComboGetCount(IDC_DEVICE_COMBO), 0);
    EXPECT_THAT(backend.log, ::testing::Contains("ReleaseObject(/dev/hidraw0)"));
}
