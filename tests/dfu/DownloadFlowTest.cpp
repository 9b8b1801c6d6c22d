#include "app/Resource.h"
#include "dfu/OperationWorker.h"
#include "support/ParamNames.h"
#include "support/WindowFixture.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <functional>

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

const char* const kStarted = "Firmware upgrade started....\r\n";
const char* const kSucceeded = "Firmware upgrade succeeded....\r\n";

class DownloadFlowTest : public DfuTest {
protected:
    CFakeZelUsbDevice* ReadyDevice()
    {
        CFakeZelUsbDevice* pDevice = AddListedDevice();
        pDevice->nDefaultSerialAddr = 0x4000;
        LoadImage(0x5800, 0x3000);
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
};

}  // namespace

TEST_F(DownloadFlowTest, SuccessOnFirstAttempt)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    // At every trace line the controls are locked and the timer runs.
    std::vector<std::pair<bool, bool>> lockedAndTiming;
    session.SetTraceSink([&](const QString&) {
        lockedAndTiming.emplace_back(!host->IsDlgItemEnabled(IDC_START), host->ActiveTimers().size() == 1);
    });
    bool bBusyWhileWriting = false;
    pDevice->onCall = [&](const std::string& name) {
        if (name == "WriteFlash")
            bBusyWhileWriting = dlg->m_bBusy.load();
    };

    RunWorker();

    EXPECT_THAT(Traces(), ElementsAre(kWaitDfu, kInDfu, kStarted, kSucceeded, kWaitNormal, kInNormal));
    EXPECT_THAT(Boxes(), IsEmpty());
    EXPECT_TRUE(bBusyWhileWriting);
    EXPECT_FALSE(dlg->m_bBusy.load());
    EXPECT_FALSE(dlg->IsWorkerRunning());
    EXPECT_THAT(clock.Sleeps(), ElementsAre(500u));
    EXPECT_EQ(Attempts(pDevice), 1u);
    EXPECT_EQ(pDevice->CountCalls("SwitchToNormalMode"), 1u);

    EXPECT_THAT(lockedAndTiming, ElementsAreArray(std::vector<std::pair<bool, bool>>(6, {true, true})));
    EXPECT_TRUE(host->IsDlgItemEnabled(IDC_START));
    EXPECT_TRUE(host->ActiveTimers().empty());
    EXPECT_EQ(host->ProgressGetPos(IDC_PROGRESS), 0);
    EXPECT_EQ(dlg->m_nTimerId.load(), 0u);
    EXPECT_EQ(dlg->m_nProgressPos.load(), 0);
    EXPECT_EQ(CountLog("Enumerate"), 0u);
}

TEST_F(DownloadFlowTest, TwoFailuresThenSuccess)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    pDevice->qWrite = {false, false};
    pDevice->bDefaultRedetect = true;
    g_pFlashInfo = kFlashTable;  // the library has a table, the window's detection is not in play

    RunWorker();

    EXPECT_THAT(clock.Sleeps(), ElementsAre(0u, 5000u, 500u));
    EXPECT_EQ(pDevice->CountCalls("IsFlashRedetectNeeded"), 2u);
    EXPECT_EQ(pDevice->CountCalls("DetectFlash"), 2u);
    EXPECT_EQ(Attempts(pDevice), 3u);
    EXPECT_THAT(Traces(), ElementsAre(kWaitDfu, kInDfu, kStarted, kSucceeded, kWaitNormal, kInNormal));
    EXPECT_THAT(Boxes(), IsEmpty());
}

TEST_F(DownloadFlowTest, AllTenAttemptsFail)
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

    EXPECT_EQ(Attempts(pDevice), 10u);
    EXPECT_EQ(pDevice->CountCalls("IsFlashRedetectNeeded"), 10u);
    EXPECT_EQ(pDevice->CountCalls("DetectFlash"), 0u);  // offered, but the library has no flash table
    std::vector<uint32_t> pauses = clock.Sleeps();
    ASSERT_EQ(pauses.size(), 11u);
    EXPECT_EQ(pauses.back(), 500u);
    pauses.pop_back();
    EXPECT_THAT(pauses, ElementsAre(0u, 5000u, 10000u, 15000u, 20000u, 25000u, 30000u, 35000u, 40000u, 45000u));
    EXPECT_EQ(clock.TotalSleptMs(), 225000u + 500u);
    EXPECT_THAT(Boxes(), ElementsAre("Firmware upgrade failed"));
    EXPECT_THAT(Traces(), ElementsAre(kWaitDfu, kInDfu, kStarted, kWaitNormal, kInNormal));
    // The failure is told after the last pause, before the normal-mode request.
    EXPECT_EQ(nPausedAtBox, 225000u);
    EXPECT_EQ(nNormalRequestsAtBox, 0u);
    EXPECT_EQ(pDevice->CountCalls("SwitchToNormalMode"), 1u);
    EXPECT_EQ(dlg->m_pImageData[0x3000], 0xAA);
}

TEST_F(DownloadFlowTest, UnplugDuringAttemptThreeEndsAtAttemptFour)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    pDevice->qWrite = {false, false, false};
    int nWrites = 0;
    pDevice->onCall = [&](const std::string& name) {
        if (name == "WriteFlash" && ++nWrites == 3)
            backend.Unplug(pDevice);
    };

    RunWorker();

    EXPECT_EQ(Attempts(pDevice), 3u);
    EXPECT_THAT(clock.Sleeps(), ElementsAre(0u, 5000u, 10000u, 500u));
    EXPECT_EQ(pDevice->CountCalls("IsFlashRedetectNeeded"), 3u);
    EXPECT_THAT(Boxes(), ElementsAre("Firmware upgrade failed"));
    EXPECT_THAT(Traces(), ElementsAre(kWaitDfu, kInDfu, kStarted));
    EXPECT_EQ(pDevice->CountCalls("SwitchToNormalMode"), 0u);
    EXPECT_TRUE(host->ActiveTimers().empty());
    // The entry is gone and the device released.
    EXPECT_EQ(host->ComboGetCount(IDC_DEVICE_COMBO), 0);
    EXPECT_THAT(backend.log, Contains("ReleaseObject(/dev/hidraw0)"));
}

TEST_F(DownloadFlowTest, ListEntryRefreshedWithCurrentProductString)
{
    AddListedDevice(u"/dev/hidraw5");
    CFakeZelUsbDevice* pDevice = ReadyDevice();  // second entry, selected
    ASSERT_EQ(host->ComboGetCurSel(IDC_DEVICE_COMBO), 1);
    pDevice->strProduct = u"Renamed After Upgrade";

    RunWorker();

    EXPECT_THAT(ListTexts(), ElementsAre("USB Audio Device", "Renamed After Upgrade"));
    EXPECT_EQ(host->ComboGetItemData(IDC_DEVICE_COMBO, 1), pDevice);
    EXPECT_EQ(host->ComboGetCurSel(IDC_DEVICE_COMBO), 1);
    EXPECT_EQ(host->ComboGetCount(IDC_DEVICE_COMBO), 2);
}

TEST_F(DownloadFlowTest, EmptyMaskRefusedBeforeAnythingIsLocked)
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

    EXPECT_THAT(Boxes(), ElementsAre("Firmware upgrade is not permitted for this device!\r\n"));
    EXPECT_FALSE(bLockedAtRefusal);
    EXPECT_THAT(Traces(), IsEmpty());
    EXPECT_EQ(pDevice->Writes().size(), 0u);
    EXPECT_EQ(pDevice->CountCalls("SwitchToDfuMode"), 0u);
}

struct EndingRow {
    const char* pszName;
    std::function<void(CQuillonDlg&, CFakeZelUsbDevice&)> arrange;
    std::vector<std::string> traces, boxes;
    bool bNormalModeAsked;
};
void PrintTo(const EndingRow& row, std::ostream* os)
{
    *os << row.pszName;
}

class DownloadEndingTest : public DownloadFlowTest, public ::testing::WithParamInterface<EndingRow> {};

TEST_P(DownloadEndingTest, TracesAndBoxes)
{
    const EndingRow& row = GetParam();
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    pDevice->strProduct = u"Fresh Name";
    row.arrange(*dlg, *pDevice);

    RunWorker();

    EXPECT_THAT(Traces(), ElementsAreArray(row.traces));
    EXPECT_THAT(Boxes(), ElementsAreArray(row.boxes));
    EXPECT_EQ(pDevice->CountCalls("SwitchToNormalMode"), row.bNormalModeAsked ? 1u : 0u);
    EXPECT_TRUE(host->ActiveTimers().empty());
    EXPECT_TRUE(host->IsDlgItemEnabled(IDC_START));
    EXPECT_FALSE(dlg->m_bBusy.load());
    EXPECT_THAT(ListTexts(), ElementsAre("Fresh Name"));  // the entry refreshed
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DownloadEndingTest,
    ::testing::Values(EndingRow{"NoImageAndOpenCancelled",
                                [](CQuillonDlg& dlg, CFakeZelUsbDevice&) { dlg.m_pImageData.reset(); },
                                {},
                                {},
                                false},
                      EndingRow{"AdmissionRefused",
                                [](CQuillonDlg& dlg, CFakeZelUsbDevice&) {
                                    dlg.m_nMatchPolicy = 0x1;
                                    dlg.m_ImageInfo.wVendorId = 0x1234;
                                },
                                {},
                                {"Vendor ID of firmware doesn't match device vendor ID!"},
                                false},
                      EndingRow{"DfuEntryFailed",
                                [](CQuillonDlg&, CFakeZelUsbDevice& d) { d.qSwitchToDfu = {false}; },
                                {kWaitDfu},
                                {"Switching to DFU mode failed!"},
                                false},
                      EndingRow{"NormalModeRefused",
                                [](CQuillonDlg&, CFakeZelUsbDevice& d) { d.qSwitchToNormal = {false}; },
                                {kWaitDfu, kInDfu, kStarted, kSucceeded, kWaitNormal},
                                {"Device switching to normal mode failed!\r\n"},
                                true}),
    RowName());

TEST_F(DownloadFlowTest, NoDeviceSelected)
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
