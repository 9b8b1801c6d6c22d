// The worker on its own thread beside the window's: one worker at a time, the window kept open while
// it runs, notices deferred, and many operations in a row.
#include "app/Resource.h"
#include "support/WindowFixture.h"

#include <gmock/gmock.h>

using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class WorkerThreadsTest : public DfuTest {
protected:
    void SetUp() override
    {
        DfuTest::SetUp();
        pDevice = AddListedDevice();
        LoadImage(0x2000, -1);
    }
    void Notify(unsigned nEvent, const std::u16string& path)
    {
        dlg->OnDeviceChange({nEvent, true, DBT_DEVTYP_DEVICEINTERFACE, path});
    }
    CFakeZelUsbDevice* pDevice = nullptr;
};

}  // namespace

// While preparing (not yet busy, the worker in a refusal's message box) the window refuses to end (while
// busy: the window's own tests); while preparing and while finishing (busy, with the controls enabled
// again) a second start starts no second worker.
TEST_F(WorkerThreadsTest, WindowStaysOpenAndOneWorkerRunsAtATime)
{
    Message close;
    close.kind = MessageKind::Close;
    dlg->m_nMatchPolicy = 0x1;
    dlg->m_ImageInfo.wVendorId = 0x1234;
    CGate& preparing = NewGate();
    pDevice->onCall = [&](const std::string& name) {
        if (name == "GetVendorID")
            preparing.Arrive();
    };
    dlg->OnStart();
    preparing.WaitArrived();
    ASSERT_FALSE(dlg->m_bBusy.load());
    std::thread::id worker = dlg->m_hWorkerThread.get_id();
    dlg->OnStart();
    EXPECT_EQ(dlg->m_hWorkerThread.get_id(), worker);
    dlg->OnWndMsg(close);
    dlg->OnOK();
    dlg->OnCancel();
    EXPECT_FALSE(host->IsEnded());
    // A removal while preparing keeps the worker's device.
    Notify(DBT_DEVICEREMOVECOMPLETE, u"/dev/hidraw0");
    EXPECT_FALSE(pDevice->bReleased);
    EXPECT_EQ(host->ComboGetCount(IDC_DEVICE_COMBO), 1);
    preparing.Open();
    dlg->m_hWorkerThread.join();
    EXPECT_EQ(CountBoxes("Vendor ID of firmware doesn't match device vendor ID!"), 1u);
    // The list was rebuilt once, after the worker's own fix-up.
    EXPECT_THAT(ListTexts(), ElementsAre("USB Audio Device"));
    EXPECT_EQ(CountLog("Enumerate"), 1u);

    dlg->m_nMatchPolicy = 0;
    pDevice->ClearCalls();
    CGate& finishing = NewGate();
    clock.pFinishGate = &finishing;
    dlg->OnStart();
    finishing.WaitArrived();
    ASSERT_TRUE(dlg->m_bBusy.load());
    ASSERT_TRUE(host->IsDlgItemEnabled(IDC_START));
    worker = dlg->m_hWorkerThread.get_id();
    dlg->m_bDeviceListStale = true;  // a notice during the final pause stays recorded
    dlg->OnStart();
    EXPECT_EQ(dlg->m_hWorkerThread.get_id(), worker);
    EXPECT_TRUE(dlg->m_bDeviceListStale.load());
    finishing.Open();
    dlg->m_hWorkerThread.join();
    EXPECT_EQ(pDevice->CountCalls("SwitchToDfuMode"), 1u);
    EXPECT_FALSE(dlg->m_bBusy.load());
    EXPECT_EQ(CountLog("Enumerate"), 1u) << "the worker leaves the recorded notice to the window";

    // Once the worker has ended the window ends at once.
    dlg->OnWndMsg(close);
    EXPECT_TRUE(host->IsEnded());
    EXPECT_EQ(host->Result(), IDCANCEL);
}

TEST_F(WorkerThreadsTest, ThousandOperationsInARow)
{
    constexpr int kCycles = 1000;
    Message selChange;
    selChange.nId = IDC_DEVICE_COMBO;
    selChange.nCode = CBN_SELCHANGE;
    for (int i = 0; i < kCycles; ++i) {
        dlg->OnStart();
        // The operator clicks the list while the worker runs; the list is locked only while Running.
        while (dlg->IsWorkerRunning())
            dlg->OnWndMsg(selChange);
        ASSERT_FALSE(dlg->m_bBusy.load()) << i;
    }
    dlg->m_hWorkerThread.join();
    // Every operation ran (what each one does is the flow tests').
    EXPECT_EQ(pDevice->CountCalls("SwitchToDfuMode"), static_cast<size_t>(kCycles));
    EXPECT_EQ(host->ComboGetItemData(IDC_DEVICE_COMBO, 0), pDevice);
    EXPECT_EQ(CountLog("Enumerate"), 0u);
}

TEST_F(WorkerThreadsTest, NoticesWhileRunningAreDeferred)
{
    backend.Offer(u"/dev/hidraw7");
    CGate& writing = NewGate();
    pDevice->onCall = [&](const std::string& name) {
        if (name == "WriteFlash")
            writing.Arrive();
    };

    dlg->OnStart();
    writing.WaitArrived();
    ASSERT_TRUE(dlg->m_bBusy.load());
    for (int i = 0; i < 3; ++i)
        Notify(DBT_DEVICEARRIVAL, u"/dev/hidraw7");
    Notify(DBT_DEVICEREMOVECOMPLETE, u"/dev/hidraw0");

    // Nothing happened yet: nothing listed, asked of the library or released.
    EXPECT_TRUE(dlg->m_bDeviceListStale.load());
    EXPECT_EQ(host->ComboGetCount(IDC_DEVICE_COMBO), 1);
    EXPECT_EQ(CountLog("Add(/dev/hidraw7)") + CountLog("Release(/dev/hidraw0)"), 0u);
    EXPECT_FALSE(pDevice->bReleased);
    writing.Open();
    dlg->m_hWorkerThread.join();

    // One re-enumeration after the operation answers them all.
    EXPECT_EQ(CountLog("Enumerate"), 1u);
    EXPECT_FALSE(dlg->m_bDeviceListStale.load());
    EXPECT_THAT(Traces(), Not(Contains(AnyOf(HasSubstr("removed"), HasSubstr("plugged")))));
    EXPECT_EQ(pDevice->Writes().size(), 2u);
}
