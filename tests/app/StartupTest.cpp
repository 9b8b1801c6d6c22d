// Start-up order, the census, the identity display and the "Update All" rule; shutdown.
#include "app/MainWindowFixture.h"
#include "app/Resource.h"

#include <QStringList>
#include <cstring>

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

TEST_F(MainWindowTest, NoDevicesGiveOneCensusLineAndEmptyIdentity)
{
    Open();
    EXPECT_EQ(Lines(TraceText()), QStringList{QStringLiteral("Total 0 devices found!")});
    EXPECT_EQ(Host().ComboGetCount(IDC_DEVICE_COMBO), 0);
    EXPECT_EQ(Host().ComboGetCurSel(IDC_DEVICE_COMBO), -1);
    for (int nId : {IDC_DEV_VID, IDC_DEV_PID, IDC_DEV_VERSION, IDC_DEV_SUBVERSION, IDC_DEV_CHIPSET})
        EXPECT_EQ(Text(nId), QString()) << nId;
    EXPECT_EQ(Host().GetCheck(IDC_UPDATE_ALL), 1);
    EXPECT_FALSE(Host().IsDlgItemEnabled(IDC_UPDATE_ALL));
    EXPECT_EQ(Dlg().m_bUpdateAll, 1);
    EXPECT_EQ(Host().GetCheck(IDC_DOWNLOAD), 1);
    EXPECT_EQ(Host().GetCheck(IDC_UPLOAD), 0);
    EXPECT_EQ(Host().ProgressRange(IDC_PROGRESS), std::make_pair(0, 100));
    EXPECT_EQ(Host().Icon(true), IDR_MAINFRAME);
    EXPECT_EQ(Host().Icon(false), IDR_MAINFRAME);
    EXPECT_EQ(notifier.nRegistrations, 1);
    EXPECT_TRUE(Dlg().m_hDevNotify);
}

TEST_F(MainWindowTest, CensusCountsListedDevicesOnlyAndNumbersFromZero)
{
    PlugZa1200(backend, u"/dev/hidraw3");
    CFakeZelUsbDevice* pNoDfu = backend.Plug(u"/dev/hidraw4");
    pNoDfu->bHidDfu = false;
    CFakeZelUsbDevice* pNoName = backend.Plug(u"/dev/hidraw5");
    pNoName->bHasProduct = false;
    CFakeZelUsbDevice* pSecond = backend.Plug(u"/dev/hidraw6");
    pSecond->strProduct = u"ZEL ZA1200 Audio";   // same text: told apart by the object only
    CFakeZelUsbDevice* pThird = backend.Plug(u"/dev/hidraw7");
    Open();

    EXPECT_EQ(Lines(TraceText()), (QStringList{QStringLiteral("Total 3 devices found!"),
                                               QStringLiteral("No.0: /dev/hidraw3"),
                                               QStringLiteral("No.1: /dev/hidraw6"),
                                               QStringLiteral("No.2: /dev/hidraw7")}));
    EXPECT_EQ(ListedTexts(), (std::vector<QString>{QStringLiteral("ZEL ZA1200 Audio"),
                                                   QStringLiteral("ZEL ZA1200 Audio"),
                                                   QStringLiteral("USB Audio Device")}));
    EXPECT_EQ(Listed()[1], pSecond);
    EXPECT_EQ(Listed()[2], pThird);
    EXPECT_FALSE(pNoDfu->bReleased) << "skipped devices are not released";
    EXPECT_EQ(Host().ComboGetCurSel(IDC_DEVICE_COMBO), 0);
}

TEST_F(MainWindowTest, AllDevicesWithoutHidDfuGiveAnEmptyList)
{
    backend.Plug(u"/dev/hidraw0")->bHidDfu = false;
    backend.Plug(u"/dev/hidraw1")->bHidDfu = false;
    Open();
    EXPECT_EQ(Lines(TraceText()), QStringList{QStringLiteral("Total 0 devices found!")});
    EXPECT_EQ(Host().ComboGetCurSel(IDC_DEVICE_COMBO), -1);
    EXPECT_EQ(Text(IDC_DEV_VID), QString());
}

TEST_F(MainWindowTest, NullEnumerationIsAnEmptyList)
{
    backend.bEnumerateNull = true;
    Open();
    EXPECT_EQ(Lines(TraceText()), QStringList{QStringLiteral("Total 0 devices found!")});
}

TEST_F(MainWindowTest, LibraryTablesAreInPlaceBeforeTheFirstEnumeration)
{
    CWatchingBackend watching;   // takes over from the fixture's backend
    UseExampleIni();
    Open();
    EXPECT_EQ(watching.nEnumerations, 1);
    EXPECT_TRUE(watching.bKnownAtFirst);
    EXPECT_TRUE(watching.bPatchAtFirst);
    EXPECT_EQ(g_pKnownIDs_NormalMode, Dlg().m_pKnownIds);
    EXPECT_EQ(g_pKnownDfuPatchInfos, Dlg().m_pDfuPatchInfos);
    EXPECT_EQ(g_pFlashInfo, Dlg().m_pFlashInfo);
    EXPECT_EQ(watching.bFlashAtFirst, Dlg().m_pFlashInfo != nullptr);
    EXPECT_EQ(Dlg().m_strModuleDir, QStringLiteral("/opt/quillon/"));
    EXPECT_EQ(Dlg().m_strIniPath, QStringLiteral("/opt/quillon/Quillon.ini"));
}

TEST_F(MainWindowTest, WithoutConfigurationStartUpCompletesWithNullTables)
{
    PlugZa1200(backend, u"/dev/hidraw0");
    Open();
    EXPECT_EQ(g_pKnownIDs_NormalMode, nullptr);
    EXPECT_EQ(g_pKnownDfuPatchInfos, nullptr);
    EXPECT_EQ(Host().ComboGetCount(IDC_DEVICE_COMBO), 1);
}

TEST_F(MainWindowTest, IdentityFieldsAreZeroPaddedLowerCaseHex)
{
    CFakeZelUsbDevice* pDevice = backend.Plug(u"/dev/hidraw0");
    pDevice->nVendorId = 0x40D;
    pDevice->nProductId = 0xBEEF;
    pDevice->nVersion = 0x0A;
    pDevice->nSubVersion = 0x10;
    Open();
    EXPECT_EQ(Text(IDC_DEV_VID), QStringLiteral("0x040d"));
    EXPECT_EQ(Text(IDC_DEV_PID), QStringLiteral("0xbeef"));
    EXPECT_EQ(Text(IDC_DEV_VERSION), QStringLiteral("0x000a"));
    EXPECT_EQ(Text(IDC_DEV_SUBVERSION), QStringLiteral("0x00000010"));
}

TEST_F(MainWindowTest, ChipsetNameComesFromTheConfiguration)
{
    UseExampleIni();
    PlugZa1200(backend, u"/dev/hidraw0");
    Open();
    EXPECT_EQ(Text(IDC_DEV_CHIPSET), QStringLiteral("ZA1200+ZH880"));
}

// The configured BootLoaderMask overrides the device's flag in both directions.
struct UpdateAllCase {
    const char* pszName;
    bool bBootLoader;
    const char* pszMaskLine;   // null: no key
    int nCheck;
    bool bEnabled;
};

class UpdateAllTest : public MainWindowTest, public ::testing::WithParamInterface<UpdateAllCase> {};

TEST_P(UpdateAllTest, FollowsTheBootLoaderMask)
{
    const UpdateAllCase& c = GetParam();
    std::string ini = "[BootLoaderMask]\n";
    if (c.pszMaskLine != nullptr)
        ini += std::string(c.pszMaskLine) + "\n";
    SetIni(ini);
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
    ::testing::Values(UpdateAllCase{"BootLoaderDefault", true, nullptr, 0, true},
                      UpdateAllCase{"NoBootLoaderDefault", false, nullptr, 1, false},
                      UpdateAllCase{"ConfiguredZeroForcesOn", true, "CHIP_0101_SUBV_00001000=0", 1, false},
                      UpdateAllCase{"ConfiguredMaskMakesOptional", false, "CHIP_0101_SUBV_00001000=0x3", 0, true},
                      UpdateAllCase{"OtherKeyIgnored", false, "CHIP_0101_SUBV_00002000=0x3", 1, false}),
    [](const auto& info) { return std::string(info.param.pszName); });

TEST_F(MainWindowTest, SelectionChangeShowsTheChosenDevice)
{
    backend.Plug(u"/dev/hidraw0");
    CFakeZelUsbDevice* pSecond = backend.Plug(u"/dev/hidraw1");
    pSecond->nVendorId = 0x1234;
    pSecond->bBootLoader = false;
    Open();
    ASSERT_TRUE(Host().SelectComboItem(IDC_DEVICE_COMBO, 1));
    EXPECT_EQ(Text(IDC_DEV_VID), QStringLiteral("0x1234"));
    EXPECT_EQ(Host().GetCheck(IDC_UPDATE_ALL), 1);
    EXPECT_FALSE(Host().IsDlgItemEnabled(IDC_UPDATE_ALL));
}

TEST_F(MainWindowTest, StoredPreferencesAreReadAtStartUp)
{
    prefs.WriteProfileInt(QStringLiteral("Options"), QStringLiteral("MatchPolicy"), 0x10F);
    prefs.WriteProfileInt(QStringLiteral("Options"), QStringLiteral("AutoVerify"), 5);
    Open();
    EXPECT_EQ(Dlg().m_nMatchPolicy, 0x10Fu);
    EXPECT_TRUE(Dlg().m_bAutoVerify);
}

TEST_F(MainWindowTest, MissingOrMalformedPreferencesReadAsZero)
{
    prefs.SetRawValue(QStringLiteral("Options"), QStringLiteral("MatchPolicy"), QStringLiteral("lots"));
    Open();
    EXPECT_EQ(Dlg().m_nMatchPolicy, 0u);
    EXPECT_FALSE(Dlg().m_bAutoVerify);
}

TEST_F(MainWindowTest, ShutdownUnregistersThenReleasesEveryDevice)
{
    std::vector<std::string> order;
    notifier.pLog = &order;
    PlugZa1200(backend, u"/dev/hidraw0");
    Open();
    backend.log.clear();
    Close();
    EXPECT_EQ(notifier.nUnregistrations, 1);
    ASSERT_EQ(backend.log, std::vector<std::string>{"ReleaseAll"});
    EXPECT_EQ(order, (std::vector<std::string>{"Register", "Unregister"}));
}

TEST_F(MainWindowTest, FailedRegistrationMeansNoUnregistration)
{
    notifier.bRefuse = true;
    Open();
    EXPECT_FALSE(Dlg().m_hDevNotify);
    Close();
    EXPECT_EQ(notifier.nUnregistrations, 0);
    EXPECT_EQ(backend.log.back(), "ReleaseAll");
}

TEST_F(MainWindowTest, NoNotifierStillStarts)
{
    env.pNotifier = nullptr;
    Open();
    EXPECT_FALSE(Dlg().m_hDevNotify);
}

TEST_F(MainWindowTest, ConstructorDefaults)
{
    CQuillonDlg dlg(env);
    EXPECT_FALSE(dlg.m_bBusy);
    EXPECT_FALSE(dlg.m_bDeviceListStale);
    EXPECT_EQ(dlg.m_nTimerId, 0u);
    EXPECT_EQ(dlg.m_nProgressPos, 0);
    EXPECT_EQ(dlg.m_hIcon, IDR_MAINFRAME);
    EXPECT_EQ(dlg.m_pImageData, nullptr);
    EXPECT_EQ(dlg.m_nMatchPolicy, 0u);
    EXPECT_EQ(dlg.m_nOperation, 0);
    EXPECT_EQ(dlg.m_bUpdateAll, 1);
    EXPECT_TRUE(dlg.m_strModuleDir.isEmpty());
    const _ZEL_USB_DEV_INFO zero{};
    EXPECT_EQ(std::memcmp(&dlg.m_ImageInfo, &zero, sizeof zero), 0);
}
