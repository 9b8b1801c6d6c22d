// The name lists, the effective chipset type and the display text of a chipset type.
#include "ConfigFixture.h"

#include "config/ChipsetNaming.h"
#include "support/FakeZelHid.h"

namespace {

class ChipsetNamingTest : public ConfigFixture {
protected:
    void LoadLists()
    {
        Dlg()->m_pControllerNames = LoadNameList(Dlg(), NAME_CONTROLLER);
        Dlg()->m_pHdCodecNames = LoadNameList(Dlg(), NAME_HDCODEC);
        Dlg()->m_pIisCodecNames = LoadNameList(Dlg(), NAME_IISCODEC);
    }
    QString Name(const NameList* pList, int i) { return pList->names[static_cast<size_t>(i)]; }
};

TEST_F(ChipsetNamingTest, ListsHoldEveryIndexAndMissingNamesAreEmpty)
{
    SetIni("[ChipsetInfo]\nControllerNum=3\nControllerName0=ZA1200\nControllerName2=\"  ZA3600 \"\n"
           "HDCodecNum=1\nHDCodecName0=" +
           QByteArray(300, 'h') + "\nIISCodecNum=0\n");
    LoadLists();
    const NameList* pControllers = Dlg()->m_pControllerNames.get();
    ASSERT_NE(pControllers, nullptr);
    ASSERT_EQ(pControllers->Count(), 3);
    EXPECT_EQ(Name(pControllers, 0), "ZA1200");
    EXPECT_EQ(Name(pControllers, 1), "");
    EXPECT_EQ(Name(pControllers, 2), "  ZA3600 ");
    ASSERT_NE(Dlg()->m_pHdCodecNames, nullptr);
    EXPECT_EQ(Name(Dlg()->m_pHdCodecNames.get(), 0), QString(255, u'h'));
    EXPECT_EQ(Dlg()->m_pIisCodecNames, nullptr);
    EXPECT_EQ(LoadNameList(Dlg(), 3), nullptr);
}

TEST_F(ChipsetNamingTest, DisplayTextOfChipsetTypes)
{
    SetIni("[ChipsetInfo]\nControllerNum=4\nControllerName0=C0\nControllerName1=C1\nControllerName2=C2\n"
           "ControllerName3=\nHDCodecNum=4\nHDCodecName0=H0\nHDCodecName1=H1\nHDCodecName2=H2\nHDCodecName3=\n"
           "IISCodecNum=2\nIISCodecName0=I0\nIISCodecName1=I1\n");
    LoadLists();
    const struct {
        uint16_t nType;
        const char* pszText;
    } cases[] = {
        {0x0102, "C1+H2"},   {0x0181, "C1+I1"}, {0x0180, "C1+I0"},
        {0x0000, "C0"},      {0x0104, "C1"},   // HD codec beyond the list
        {0x0182, "C1"},                        // IIS codec beyond the list
        {0x0103, "C1"},                        // configured but empty codec name
        {0x0400, "Unknown"}, {0x0301, "+H1"},  // controller beyond the list; configured but empty name
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatChipsetName(Dlg(), c.nType), c.pszText) << std::hex << c.nType;
}

TEST_F(ChipsetNamingTest, WithoutListsEveryControllerIsUnknownAndNoCodecIsNamed)
{
    // A missing count reads as 0, as "x" does.
    SetIni("[ChipsetInfo]\nControllerNum=0\nHDCodecNum=-1\nIISCodecNum=x\n");
    LoadLists();
    EXPECT_EQ(Dlg()->m_pControllerNames, nullptr);
    EXPECT_EQ(Dlg()->m_pHdCodecNames, nullptr);
    EXPECT_EQ(Dlg()->m_pIisCodecNames, nullptr);
    EXPECT_EQ(FormatChipsetName(Dlg(), 0x0101), "Unknown");
    EXPECT_EQ(FormatChipsetName(Dlg(), 0x0081), "Unknown");
    EXPECT_EQ(GetCodecName(Dlg(), 0), "");
}

TEST_F(ChipsetNamingTest, EffectiveChipsetTypeFallsBackBySubVersionKey)
{
    SetIni("[ChipsetInfo]\nSUBV_36000000=0x0202\nSUBV_37000000=0x10203\n"
           "SUBV_12000100=0x0303\n");
    CFakeZelUsbDevice device;
    const struct {
        uint16_t nReported;
        uint32_t nSubVersion;
        uint16_t nEffective;
    } cases[] = {
        {0, 0x36000021, 0x0202},  // the low byte of the sub-version is not part of the key
        {0, 0x37000000, 0x0203},  // low 16 bits of a wider value
        {0, 0x39000000, 0x0000},  // no key
        {0x0101, 0x12000134, 0x0101},
    };
    for (const auto& c : cases) {
        device.nChipsetType = c.nReported;
        device.nSubVersion = c.nSubVersion;
        EXPECT_EQ(GetEffectiveChipsetType(&device, Dlg()), c.nEffective) << std::hex << c.nSubVersion;
    }
    // A device that reports a type is never asked for its sub-version.
    device.ClearCalls();
    device.nChipsetType = 0x0101;
    device.nSubVersion = 0x12000134;
    GetEffectiveChipsetType(&device, Dlg());
    EXPECT_EQ(device.CountCalls("GetSubVersion"), 0u);
}

}  // namespace
