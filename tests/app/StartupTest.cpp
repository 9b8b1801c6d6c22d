// Start-up order, the census, the identity display and the "Update All" rule; shutdown.
#include "support/ParamNames.h"
#include "support/WindowFixture.h"

#include <QStringList>

namespace {

QStringList Lines(const QString& trace)
{
    QStringList lines = trace.split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines.last(), QString()) << "every trace entry ends in CR LF";
    lines.removeLast();
    return lines;
}

// Records which library tables were in place when the first enumeration ran.
class CWatchingBackend : public CFakeZelHidBackend {
public:
    const ZEL_USB_DEVICE_ARRAY* Enumerate(bool bRescan, const char16_t* pszPath) override
    {
        if (nEnumerations++ == 0) {
            bFlashAtFirst = g_pFlashInfo != nullptr;
            bKnownAtFirst = g_pKnownIDs_NormalMode != nullptr;
            bPatchAtFirst = g_pKnownDfuPatchInfos != nullptr;
        }
        return CFakeZelHidBackend::Enumerate(bRescan, pszPath);
    }
    int nEnumerations = 0;
    bool bFlashAtFirst = false, bKnownAtFirst = false, bPatchAtFirst = false;
};

}  // namespace

// Only devices without HID DFU support (the list's first entry is selected on an empty list), or no
// answer from the library: an empty list (no device at all is the start of TraceProgressTest's and
// the empty identity of an empty list HotPlugTest.RemovingTheOnlyEntryEmptiesEverything's, the Download
// button checked at start-up MainWindowGuiTest's).
class EmptyCensusTest : public MainWindowTest, public ::testing::WithParamInterface<bool> {};

TEST_P(EmptyCensusTest, OneCensusLineAndNoSelection)
{
    backend.Plug(u"/dev/hidraw0")->bHidDfu = false;
    backend.Plug(u"/dev/hidraw1")->bHidDfu = false;
    backend.bEnumerateNull = GetParam();
    Open();
    EXPECT_EQ(Lines(TraceText()), QStringList{QStringLiteral("Total 0 devices found!")});
    EXPECT_EQ(Host().ComboGetCount(IDC_DEVICE_COMBO), 0);
    EXPECT_EQ(Host().ComboGetCurSel(IDC_DEVICE_COMBO), -1);
    EXPECT_EQ(Host().ProgressRange(IDC_PROGRESS), std::make_pair(0, 100));
}

INSTANTIATE_TEST_SUITE_P(Census, EmptyCensusTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "NoAnswer" : "NoHidDfu"); });

TEST_F(MainWindowTest, CensusCountsListedDevicesOnlyAndNumbersFromZero)
{
    PlugExample(kZa1200, u"/dev/hidraw3");
    CFakeZelUsbDevice* pNoDfu = backend.Plug(u"/dev/hidraw4");
    pNoDfu->bHidDfu = false;
    CFakeZelUsbDevice* pNoName = backend.Plug(u"/dev/hidraw5");
    pNoName->bHasProduct = false;
    CFakeZelUsbDevice* pSecond = backend.Plug(u"/dev/hidraw6");
    pSecond->strProduct = u"ZEL ZA1200 Audio";  // same text: told apart by the object only
    CFakeZelUsbDevice* pThird = backend.Plug(u"/dev/hidraw7");
    Open();

    EXPECT_EQ(Lines(TraceText()),
              (QStringList{QStringLiteral("Total 3 devices found!"), QStringLiteral("No.0: /dev/hidraw3"),
                           QStringLiteral("No.1: /dev/hidraw6"), QStringLiteral("No.2: /dev/hidraw7")}));
    EXPECT_EQ(ListTexts(), (std::vector<std::string>{"ZEL ZA1200 Audio", "ZEL ZA1200 Audio", "USB Audio Device"}));
    EXPECT_EQ(Listed()[1], pSecond);
    EXPECT_EQ(Listed()[2], pThird);
    EXPECT_FALSE(pNoDfu->bReleased) << "skipped devices are not released";
    EXPECT_EQ(Host().ComboGetCurSel(IDC_DEVICE_COMBO), 0);
}

TEST_F(MainWindowTest, LibraryTablesAreInPlaceBeforeTheFirstEnumeration)
{
    CWatchingBackend watching;  // takes over from the fixture's backend
    UseExampleIni();
    Open();
    EXPECT_EQ(watching.nEnumerations, 1);
    EXPECT_TRUE(watching.bKnownAtFirst);
    EXPECT_TRUE(watching.bPatchAtFirst);
    EXPECT_EQ(g_pKnownIDs_NormalMode, Dlg().m_pKnownIds);
    EXPECT_EQ(g_pKnownDfuPatchInfos, Dlg().m_pDfuPatchInfos);
    EXPECT_EQ(g_pFlashInfo, Dlg().m_pFlashInfo);
    EXPECT_EQ(watching.bFlashAtFirst, Dlg().m_pFlashInfo != nullptr);
    EXPECT_EQ(Dlg().m_strIniPath, QStringLiteral("/opt/quillon/Quillon.ini"));
}

// (The full identity of an example device, its configured chipset name included, is
// MainWindowGuiTest's start-up; a padded vendor ID HotPlugTest's.)
TEST_F(MainWindowTest, IdentityFieldsAreZeroPaddedLowerCaseHex)
{
    CFakeZelUsbDevice* pDevice = PlugExample(kZa1200, u"/dev/hidraw0");
    pDevice->nVersion = 0x0A;
    pDevice->nSubVersion = 0x10;
    Open();
    EXPECT_EQ(Text(IDC_DEV_VERSION), QStringLiteral("0x000a"));
    EXPECT_EQ(Text(IDC_DEV_SUBVERSION), QStringLiteral("0x00000010"));
}

// The configured BootLoaderMask overrides the device's flag in both directions (the flag alone decides in
// HotPlugTest: a device without a boot loader arrives with "Update All" checked, one with a boot loader
// is there with it unchecked).
struct UpdateAllCase {
    const char* pszName;
    bool bBootLoader;
    const char* pszMaskLine;
    int nCheck;
    bool bEnabled;
    friend void PrintTo(const UpdateAllCase& row, std::ostream* os) { *os << row.pszName; }
};

class UpdateAllTest : public MainWindowTest, public ::testing::WithParamInterface<UpdateAllCase> {};

TEST_P(UpdateAllTest, FollowsTheBootLoaderMask)
{
    const UpdateAllCase& c = GetParam();
    SetIni("[BootLoaderMask]\n" + std::string(c.pszMaskLine) + "\n");
    CFakeZelUsbDevice* pDevice = backend.Plug(u"/dev/hidraw0");
    pDevice->nChipsetType = 0x0101;
    pDevice->nSubVersion = 0x00001055;
    pDevice->bBootLoader = c.bBootLoader;
    Open();
    EXPECT_EQ(Host().GetCheck(IDC_UPDATE_ALL), c.nCheck);
    EXPECT_EQ(Host().IsDlgItemEnabled(IDC_UPDATE_ALL), c.bEnabled);
    EXPECT_EQ(Dlg().m_bUpdateAll, c.nCheck);
}

INSTANTIATE_TEST_SUITE_P(
    BootLoaderMask, UpdateAllTest,
    ::testing::Values(UpdateAllCase{"ConfiguredZeroForcesOn", true, "CHIP_0101_SUBV_00001000=0", 1, false},
                      UpdateAllCase{"ConfiguredMaskMakesOptional", false, "CHIP_0101_SUBV_00001000=0x3", 0, true}),
    RowName());

// Any non-zero AutoVerify is on (a malformed value reads as zero in the store's own tests); without a
// notifier at all the window still starts.
TEST_F(MainWindowTest, StoredPreferencesAreReadAtStartUpAndNoNotifierIsNeeded)
{
    prefs.WriteProfileInt(QStringLiteral("Options"), QStringLiteral("AutoVerify"), 5);
    env.pNotifier = nullptr;
    Open();
    EXPECT_TRUE(Dlg().m_bAutoVerify);
    EXPECT_FALSE(Dlg().m_hDevNotify);
}

// Shutdown undoes no refused registration and still releases every device (one that succeeded is undone
// in InitInstanceRunsTheWindowOnceWithPreferencesUnderTheTitle and the Qt window's start-up test).
TEST_F(MainWindowTest, ShutdownAfterARefusedRegistrationReleasesEveryDevice)
{
    std::vector<std::string> order;
    notifier.pLog = &order;
    notifier.bRefuse = true;
    PlugExample(kZa1200, u"/dev/hidraw0");
    Open();
    EXPECT_FALSE(Dlg().m_hDevNotify);
    backend.log.clear();
    Close();
    EXPECT_EQ(backend.log, std::vector<std::string>{"ReleaseAll"});
    EXPECT_EQ(order, std::vector<std::string>{"Register"});
}
