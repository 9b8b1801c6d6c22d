// Arrivals and removals of HID interfaces while the window is idle or an operation runs.
#include "support/WindowFixture.h"

namespace {

class HotPlugTest : public MainWindowTest {
protected:
    // Three listed devices a, b, c; the trace cleared and the backend's log emptied.
    void OpenWithThree()
    {
        m_pA = Named(backend.Plug(u"/dev/hidraw0"), u"A", 0x0d8c);
        m_pB = Named(backend.Plug(u"/dev/hidraw1"), u"B", 0x0b0b);
        m_pC = Named(backend.Plug(u"/dev/hidraw2"), u"C", 0x0c0c);
        Open();
        Host().Click(IDC_CLEAR_TRACE);
        backend.log.clear();
    }

    static CFakeZelUsbDevice* Named(CFakeZelUsbDevice* pDevice, const char16_t* pszProduct, uint16_t nVendorId)
    {
        pDevice->strProduct = pszProduct;
        pDevice->nVendorId = nVendorId;
        return pDevice;
    }

    CFakeZelUsbDevice* m_pA = nullptr;
    CFakeZelUsbDevice* m_pB = nullptr;
    CFakeZelUsbDevice* m_pC = nullptr;
};

}  // namespace

// An arrival the library does not serve and a removal of an unlisted path change nothing shown; an
// arrival it serves is traced, listed, selected and shown.
TEST_F(HotPlugTest, OnlyServedArrivalsAndListedRemovalsChangeTheList)
{
    OpenWithThree();
    Arrive(u"/dev/hidraw7");
    Remove(u"/dev/hidraw8");
    EXPECT_EQ(backend.log, (std::vector<std::string>{"Add(/dev/hidraw7)", "Release(/dev/hidraw8)"}));
    EXPECT_EQ(TraceText(), QString());
    EXPECT_EQ(Listed().size(), 3u);
    EXPECT_EQ(Host().ComboGetCurSel(IDC_DEVICE_COMBO), 0);

    CFakeZelUsbDevice* pNew = Named(backend.Offer(u"/dev/hidraw9"), u"New", 0x0999);
    pNew->bHidDfu = false;  // listed anyway: arrivals are not filtered
    pNew->bBootLoader = false;
    Arrive(u"/dev/hidraw9");
    EXPECT_EQ(TraceText(), QStringLiteral("Device /dev/hidraw9 is plugged in\r\n"));
    EXPECT_EQ(Listed(), (std::vector<CZelUsbDevice*>{m_pA, m_pB, m_pC, pNew}));
    EXPECT_EQ(ListTexts().back(), "New");
    EXPECT_EQ(Host().ComboGetCurSel(IDC_DEVICE_COMBO), 3);
    EXPECT_EQ(Text(IDC_DEV_VID), QStringLiteral("0x0999"));
    EXPECT_EQ(Host().GetCheck(IDC_UPDATE_ALL), 1) << "recomputed for the new device";
}

// Removing the selected entry selects the first remaining one, whichever position was removed.
class RemoveSelectedTest : public HotPlugTest, public ::testing::WithParamInterface<int> {};

TEST_P(RemoveSelectedTest, FirstRemainingEntryIsSelectedAndShown)
{
    OpenWithThree();
    const int nRemoved = GetParam();
    ASSERT_TRUE(Host().SelectComboItem(IDC_DEVICE_COMBO, nRemoved));
    CFakeZelUsbDevice* pRemoved = static_cast<CFakeZelUsbDevice*>(Listed()[static_cast<size_t>(nRemoved)]);
    Remove(pRemoved->strPath);
    EXPECT_EQ(Listed().size(), 2u);
    EXPECT_EQ(Host().ComboGetCurSel(IDC_DEVICE_COMBO), 0);
    CFakeZelUsbDevice* pFirst = static_cast<CFakeZelUsbDevice*>(Listed()[0]);
    EXPECT_EQ(Text(IDC_DEV_VID), QStringLiteral("0x%1").arg(pFirst->nVendorId, 4, 16, QLatin1Char('0')));
    EXPECT_EQ(TraceText(),
              QStringLiteral("Device %1 is removed\r\n").arg(QString::fromStdU16String(pRemoved->strPath)));
    EXPECT_EQ(backend.log, std::vector<std::string>{"Release(" + Utf8(pRemoved->strPath) + ")"});
}

INSTANTIATE_TEST_SUITE_P(Positions, RemoveSelectedTest, ::testing::Values(0, 1, 2),
                         [](const auto& info) { return "Entry" + std::to_string(info.param); });

// Notices without an interface record and other events change nothing; removing an unselected entry
// keeps the selection and the fields.
TEST_F(HotPlugTest, RemovingAnUnselectedEntryKeepsSelectionAndFields)
{
    OpenWithThree();
    notifier.NotifyWithoutRecord(DBT_DEVICEARRIVAL);
    notifier.Notify(DBT_DEVICEREMOVECOMPLETE, u"/dev/hidraw0", 3);
    notifier.Notify(0x0007, u"/dev/hidraw0");
    EXPECT_EQ(Host().PumpMessages(), 3);
    EXPECT_EQ(Listed().size(), 3u);
    EXPECT_TRUE(backend.log.empty());
    EXPECT_FALSE(Dlg().m_bDeviceListStale);

    ASSERT_TRUE(Host().SelectComboItem(IDC_DEVICE_COMBO, 2));
    Host().SetDlgItemText(IDC_DEV_PID, QStringLiteral("untouched"));
    // Busy without a worker (with one: WorkerThreadsTest), a removal only marks the list stale.
    Dlg().m_bBusy = true;
    Remove(u"/dev/hidraw0");
    EXPECT_TRUE(Dlg().m_bDeviceListStale);
    EXPECT_FALSE(m_pA->bReleased);
    Dlg().m_bBusy = false;
    Remove(u"/dev/hidraw0");
    EXPECT_EQ(Listed(), (std::vector<CZelUsbDevice*>{m_pB, m_pC}));
    EXPECT_EQ(Host().ComboGetCurSel(IDC_DEVICE_COMBO), 1) << "the selection follows its entry";
    EXPECT_EQ(Text(IDC_DEV_PID), QStringLiteral("untouched"));
    EXPECT_TRUE(m_pA->bReleased);
}

TEST_F(HotPlugTest, RemovingTheOnlyEntryEmptiesEverything)
{
    CFakeZelUsbDevice* pOnly = backend.Plug(u"/dev/hidraw0");
    Open();
    ASSERT_EQ(Host().GetCheck(IDC_UPDATE_ALL), 0);
    Remove(u"/dev/hidraw0");
    EXPECT_TRUE(Listed().empty());
    EXPECT_EQ(Host().ComboGetCurSel(IDC_DEVICE_COMBO), -1);
    EXPECT_EQ(Text(IDC_DEV_VID), QString());
    EXPECT_EQ(Text(IDC_DEV_CHIPSET), QString());
    EXPECT_EQ(Host().GetCheck(IDC_UPDATE_ALL), 1);
    EXPECT_FALSE(Host().IsDlgItemEnabled(IDC_UPDATE_ALL));
    EXPECT_TRUE(pOnly->bReleased);
}

TEST_F(HotPlugTest, PathsCompareIgnoringCaseOfAsciiLettersOnly)
{
    backend.Plug(u"\\\\?\\HID#VID_2FE3&PID_1200#ä");
    Open();
    Remove(u"\\\\?\\hid#vid_2fe3&pid_1200#ä");
    EXPECT_TRUE(Listed().empty());

    CFakeZelUsbDevice* pUmlaut = backend.Offer(u"/dev/Ä");
    Arrive(u"/dev/Ä");
    ASSERT_EQ(Listed().size(), 1u);
    Remove(u"/dev/ä");  // differs outside A-Z: not the listed path
    EXPECT_EQ(Listed(), std::vector<CZelUsbDevice*>{pUmlaut});
}

TEST_F(HotPlugTest, DuplicatePathRemovesFirstAndKeepsTheOtherObjectValid)
{
    Open();
    CFakeZelUsbDevice* pFirst = backend.Offer(u"/dev/hidraw5");
    Arrive(u"/dev/hidraw5");
    CFakeZelUsbDevice* pSecond = backend.Offer(u"/dev/hidraw5");  // the library hands out a second object
    Arrive(u"/dev/hidraw5");
    ASSERT_EQ(Listed(), (std::vector<CZelUsbDevice*>{pFirst, pSecond}));
    Remove(u"/dev/hidraw5");
    EXPECT_EQ(Listed(), std::vector<CZelUsbDevice*>{pSecond});
    EXPECT_TRUE(pFirst->bReleased);
    EXPECT_FALSE(pSecond->bReleased) << "the remaining entry must not refer to a released object";
    Remove(u"/dev/hidraw5");
    EXPECT_TRUE(Listed().empty());
    EXPECT_TRUE(pSecond->bReleased);

    // The same object listed twice is not released under the other entry.
    CFakeZelUsbDevice* pDevice = backend.Offer(u"/dev/hidraw6");
    Arrive(u"/dev/hidraw6");
    Arrive(u"/dev/hidraw6");  // the library answers with the object it already holds
    Remove(u"/dev/hidraw6");
    EXPECT_EQ(Listed(), std::vector<CZelUsbDevice*>{pDevice});
    EXPECT_FALSE(pDevice->bReleased);
}
