#include "app/Resource.h"
#include "dfu/DfuTestSupport.h"
#include "dfu/OperationWorker.h"

#include <gmock/gmock.h>

#include <algorithm>

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

const char* const kWaitDfu = "Waiting until device is switched to DFU mode!\r\n";
const char* const kInDfu = "Device is switched to DFU mode successfully!\r\n";
const char* const kStarted = "Firmware upgrade started....\r\n";
const char* const kSucceeded = "Firmware upgrade succeeded....\r\n";
const char* const kWaitNormal = "Waiting until device is switched to normal mode....\r\n";
const char* const kInNormal = "Device is switched to normal mode successfully!\r\n";

const _FLASH_INFO kFlashTable[2] = {};

class DownloadFlowTest : public DfuTest {
protected:
    CFakeZelUsbDevice* ReadyDevice()
    {
        CFakeZelUsbDevice* pDevice = AddListedDevice();
        pDevice->nDefaultSerialAddr = 0x4000;
        LoadImage(0x5800, 0x3000);
        return pDevice;
    }
    size_t CountEvents(const std::string& event)
    {
        auto events = host.Events();
        return static_cast<size_t>(std::count(events.begin(), events.end(), event));
    }
    size_t IndexOf(const std::string& event)
    {
        auto events = host.Events();
        return static_cast<size_t>(std::find(events.begin(), events.end(), event) - events.begin());
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
    bool bBusyWhileWriting = false;
    pDevice->onCall = [&](const std::string& name) {
        if (name == "WriteFlash")
            bBusyWhileWriting = dlg->m_bBusy.load();
    };

    RunWorker();

    EXPECT_THAT(host.Traces(), ElementsAre(kWaitDfu, kInDfu, kStarted, kSucceeded, kWaitNormal, kInNormal));
    EXPECT_THAT(host.Boxes(), IsEmpty());
    EXPECT_TRUE(bBusyWhileWriting);
    EXPECT_FALSE(dlg->m_bBusy.load());
    EXPECT_FALSE(dlg->IsWorkerRunning());
    EXPECT_THAT(clock.Sleeps(), ElementsAre(500u));
    EXPECT_EQ(Attempts(pDevice), 1u);
    EXPECT_EQ(pDevice->CountCalls("SwitchToNormalMode"), 1u);

    // Locked before the first trace line, the timer running in between, unlocked once after the last.
    EXPECT_LT(IndexOf("enable:1016=0"), IndexOf(std::string("trace:") + kWaitDfu));
    EXPECT_LT(IndexOf("settimer:1,1000"), IndexOf(std::string("trace:") + kWaitDfu));
    EXPECT_GT(IndexOf("enable:1016=1"), IndexOf(std::string("trace:") + kInNormal));
    EXPECT_EQ(CountEvents("settimer:1,1000"), 1u);
    EXPECT_EQ(CountEvents("killtimer:1"), 1u);
    EXPECT_EQ(host.ProgressGetPos(IDC_PROGRESS), 0);
    EXPECT_EQ(dlg->m_nTimerId.load(), 0u);
    EXPECT_EQ(dlg->m_nProgressPos.load(), 0);
}

TEST_F(DownloadFlowTest, TwoFailuresThenSuccess)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    pDevice->qWrite = {false, false};
    pDevice->bDefaultRedetect = true;
    g_pFlashInfo = kFlashTable;   // the library has a table, the window's detection is not in play

    RunWorker();

    EXPECT_THAT(clock.Sleeps(), ElementsAre(0u, 5000u, 500u));
    EXPECT_EQ(pDevice->CountCalls("IsFlashRedetectNeeded"), 2u);
    EXPECT_EQ(pDevice->CountCalls("DetectFlash"), 2u);
    EXPECT_EQ(Attempts(pDevice), 3u);
    EXPECT_THAT(host.Traces(), ElementsAre(kWaitDfu, kInDfu, kStarted, kSucceeded, kWaitNormal, kInNormal));
    EXPECT_THAT(host.Boxes(), IsEmpty());
}

TEST_F(DownloadFlowTest, RedetectOfferedButNoFlashTable)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    pDevice->qWrite = {false};
    pDevice->bDefaultRedetect = true;
    RunWorker();
    EXPECT_EQ(pDevice->CountCalls("IsFlashRedetectNeeded"), 1u);
    EXPECT_EQ(pDevice->CountCalls("DetectFlash"), 0u);
}

TEST_F(DownloadFlowTest, AllTenAttemptsFail)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    pDevice->qWrite = std::deque<bool>(10, false);
    uint64_t nPausedAtBox = 0;
    size_t nNormalRequestsAtBox = 99;
    host.onMessageBox = [&](const QString&) {
        nPausedAtBox = clock.TotalSleptMs();
        nNormalRequestsAtBox = pDevice->CountCalls("SwitchToNormalMode");
    };

    RunWorker();

    EXPECT_EQ(Attempts(pDevice), 10u);
    EXPECT_EQ(pDevice->CountCalls("IsFlashRedetectNeeded"), 10u);
    std::vector<uint32_t> pauses = clock.Sleeps();
    ASSERT_EQ(pauses.size(), 11u);
    EXPECT_EQ(pauses.back(), 500u);
    pauses.pop_back();
    EXPECT_THAT(pauses, ElementsAre(0u, 5000u, 10000u, 15000u, 20000u, 25000u, 30000u, 35000u, 40000u, 45000u));
    EXPECT_EQ(clock.TotalSleptMs(), 225000u + 500u);
    EXPECT_THAT(host.Boxes(), ElementsAre("Firmware upgrade failed"));
    EXPECT_THAT(host.Traces(), ElementsAre(kWaitDfu, kInDfu, kStarted, kWaitNormal, kInNormal));
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
    EXPECT_THAT(host.Boxes(), ElementsAre("Firmware upgrade failed"));
    EXPECT_THAT(host.Traces(), ElementsAre(kWaitDfu, kInDfu, kStarted));
    EXPECT_EQ(pDevice->CountCalls("SwitchToNormalMode"), 0u);
    EXPECT_EQ(CountEvents("killtimer:1"), 1u);
    // The entry is gone and the device released.
    EXPECT_EQ(host.ComboGetCount(IDC_DEVICE_COMBO), 0);
    EXPECT_THAT(backend.log, Contains("ReleaseObject(/dev/hidraw0)"));
    EXPECT_THAT(host.Events(), Not(Contains(::testing::StartsWith("combo-insert"))));
}

TEST_F(DownloadFlowTest, ListEntryRefreshedWithCurrentProductString)
{
    AddListedDevice(u"/dev/hidraw5");
    CFakeZelUsbDevice* pDevice = ReadyDevice();   // second entry, selected
    ASSERT_EQ(host.ComboGetCurSel(IDC_DEVICE_COMBO), 1);
    pDevice->strProduct = u"Renamed After Upgrade";

    RunWorker();

    EXPECT_THAT(host.EventsWith("combo-"), ElementsAre("delete:1", "insert:1:Renamed After Upgrade", "sel:1"));
    EXPECT_EQ(host.ComboGetItemData(IDC_DEVICE_COMBO, 1), pDevice);
    EXPECT_EQ(host.ComboGetCurSel(IDC_DEVICE_COMBO), 1);
    EXPECT_EQ(host.ComboGetCount(IDC_DEVICE_COMBO), 2);
}

TEST_F(DownloadFlowTest, NoImageAndOpenCancelled)
{
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    pDevice->strProduct = u"Fresh Name";
    ASSERT_EQ(dlg->m_pImageData, nullptr);

    RunWorker();

    EXPECT_THAT(host.Traces(), IsEmpty());
    EXPECT_THAT(host.Boxes(), IsEmpty());
    EXPECT_THAT(host.EventsWith("open-dialog"), ElementsAre(""));
    EXPECT_THAT(host.EventsWith("enable:"), Not(Contains("1016=0")));
    EXPECT_THAT(host.EventsWith("combo-"), ElementsAre("delete:0", "insert:0:Fresh Name", "sel:0"));
    EXPECT_THAT(clock.Sleeps(), ElementsAre(500u));
    EXPECT_EQ(pDevice->CountCalls("SwitchToDfuMode"), 0u);
}

TEST_F(DownloadFlowTest, EmptyMaskRefusedBeforeAnythingIsLocked)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    profile.SetInt("ImageMask", "CHIP_0101_SUBV_00001000", 0x3);
    profile.SetInt("BootLoaderMask", "CHIP_0101_SUBV_00001000", 0x3);
    dlg->m_bUpdateAll = 0;

    RunWorker();

    EXPECT_THAT(host.Boxes(), ElementsAre("Firmware upgrade is not permitted for this device!\r\n"));
    EXPECT_THAT(host.Traces(), IsEmpty());
    EXPECT_THAT(host.EventsWith("enable:"), Not(Contains("1016=0")));
    EXPECT_EQ(CountEvents("settimer:1,1000"), 0u);
    EXPECT_EQ(pDevice->Writes().size(), 0u);
    EXPECT_EQ(pDevice->CountCalls("SwitchToDfuMode"), 0u);
    EXPECT_THAT(host.EventsWith("combo-"), ElementsAre("delete:0", "insert:0:USB Audio Device", "sel:0"));
}

TEST_F(DownloadFlowTest, AdmissionRefusalEndsBeforeTheDevice)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    dlg->m_nMatchPolicy = 0x1;
    dlg->m_ImageInfo.wVendorId = 0x1234;

    RunWorker();

    EXPECT_THAT(host.Boxes(), ElementsAre("Vendor ID of firmware doesn't match device vendor ID!"));
    EXPECT_THAT(host.Traces(), IsEmpty());
    EXPECT_EQ(pDevice->CountCalls("SwitchToDfuMode"), 0u);
    EXPECT_FALSE(dlg->m_bBusy.load());
}

TEST_F(DownloadFlowTest, DfuEntryFailure)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    pDevice->qSwitchToDfu = {false};

    RunWorker();

    EXPECT_THAT(host.Traces(), ElementsAre(kWaitDfu));
    EXPECT_THAT(host.Boxes(), ElementsAre("Switching to DFU mode failed!"));
    EXPECT_EQ(pDevice->CountCalls("SwitchToNormalMode"), 0u);
    EXPECT_EQ(pDevice->Writes().size(), 0u);
    EXPECT_EQ(CountEvents("killtimer:1"), 1u);
    EXPECT_EQ(CountEvents("enable:1016=1"), 1u);
}

TEST_F(DownloadFlowTest, NormalModeRefused)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    pDevice->qSwitchToNormal = {false};

    RunWorker();

    EXPECT_THAT(host.Traces(), ElementsAre(kWaitDfu, kInDfu, kStarted, kSucceeded, kWaitNormal));
    EXPECT_THAT(host.Boxes(), ElementsAre("Device switching to normal mode failed!\r\n"));
    EXPECT_EQ(CountEvents("killtimer:1"), 1u);
}

TEST_F(DownloadFlowTest, NoDeviceSelected)
{
    RunWorker();
    EXPECT_THAT(host.Events(), ElementsAre("box:Please choose a DFU device!"));
    EXPECT_THAT(clock.Sleeps(), IsEmpty());
    EXPECT_FALSE(dlg->IsWorkerRunning());
}

TEST_F(DownloadFlowTest, NoticesWhileBusyLeadToOneEnumeration)
{
    CFakeZelUsbDevice* pDevice = ReadyDevice();
    pDevice->onCall = [&](const std::string& name) {
        if (name == "WriteFlash")
            dlg->m_bDeviceListStale = true;   // what the notice handler records while busy
    };
    backend.Plug(u"/dev/hidraw9");

    RunWorker();

    EXPECT_EQ(std::count(backend.log.begin(), backend.log.end(), "Enumerate"), 1);
    EXPECT_FALSE(dlg->m_bDeviceListStale.load());
    EXPECT_EQ(host.ComboGetCount(IDC_DEVICE_COMBO), 2);
    // The re-enumeration comes after the entry's own refresh and before the final pause.
    EXPECT_LT(IndexOf("combo-sel:0"), IndexOf("combo-reset"));
}

TEST_F(DownloadFlowTest, NoStaleNoEnumeration)
{
    ReadyDevice();
    RunWorker();
    EXPECT_EQ(std::count(backend.log.begin(), backend.log.end(), "Enumerate"), 0);
}

class OperationUiTest : public DfuTest {};

TEST_F(OperationUiTest, LockAndUnlock)
{
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    const int kControls[] = {IDC_DEVICE_COMBO, IDC_DOWNLOAD, IDC_UPLOAD, IDC_START, IDC_PROGRESS, IDC_UPDATE_ALL};
    const int kCommands[] = {ID_FILE_OPEN_IMAGE, ID_APP_EXIT, ID_CONFIG_OPTIONS, ID_HELP_ABOUT};

    SetOperationUiEnabled(dlg.get(), false, pDevice);
    for (int nId : kControls)
        EXPECT_FALSE(host.IsDlgItemEnabled(nId)) << nId;
    for (int nCommand : kCommands)
        EXPECT_FALSE(host.IsMenuItemEnabled(nCommand)) << nCommand;
    EXPECT_TRUE(host.IsDlgItemEnabled(IDC_CLEAR_TRACE));
    EXPECT_TRUE(host.IsDlgItemEnabled(IDC_TRACE));
    EXPECT_EQ(pDevice->CountCalls("IsDeviceAvailable"), 0u);

    SetOperationUiEnabled(dlg.get(), true, pDevice);
    for (int nId : kControls)
        EXPECT_TRUE(host.IsDlgItemEnabled(nId)) << nId;
    for (int nCommand : kCommands)
        EXPECT_TRUE(host.IsMenuItemEnabled(nCommand)) << nCommand;
}

TEST_F(OperationUiTest, UpdateAllNeedsAnAvailableBootLoaderDevice)
{
    SetOperationUiEnabled(dlg.get(), true, nullptr);
    EXPECT_FALSE(host.IsDlgItemEnabled(IDC_UPDATE_ALL));

    CFakeZelUsbDevice* pGone = AddListedDevice();
    pGone->bAvailable = false;
    SetOperationUiEnabled(dlg.get(), true, pGone);
    EXPECT_FALSE(host.IsDlgItemEnabled(IDC_UPDATE_ALL));
    EXPECT_THAT(pGone->CallNames(), ElementsAre("IsDeviceAvailable"));

    CFakeZelUsbDevice* pNoLoader = AddListedDevice(u"/dev/hidraw1");
    pNoLoader->bBootLoader = false;
    SetOperationUiEnabled(dlg.get(), true, pNoLoader);
    EXPECT_FALSE(host.IsDlgItemEnabled(IDC_UPDATE_ALL));
    EXPECT_TRUE(host.IsDlgItemEnabled(IDC_START));
}
