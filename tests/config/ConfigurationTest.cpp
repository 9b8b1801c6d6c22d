// Quillon.ini: the two entry tables, byte for byte, LoadConfiguration's outcome and the per-chip lookups.
#include "ConfigFixture.h"

#include "config/ChipsetNaming.h"
#include "config/Configuration.h"
#include "config/FlashTable.h"

#include <QFile>

namespace {

class ConfigurationTest : public ConfigFixture {};

TEST_F(ConfigurationTest, KnownIdEntriesBecomeRecordsByteForByteAndMissingOnesZero)
{
    const struct {
        QByteArray value;
        std::vector<uint8_t> record;
    } cases[] = {
        {"0x2fe3, 0x1200, 0xff000001", {0xe3, 0x2f, 0x00, 0x12, 0x01, 0x00, 0x00, 0xff}},
        {"0x12fe3, 0x1200, 7", {0xe3, 0x2f, 0x00, 0x12, 0x07, 0, 0, 0}},  // low 16 bits only
        // Values are cut to 255 characters before scanning: 251 characters, then 8 digits of which 4 survive.
        {"1, 2," + QByteArray(246, ' ') + "12345678", {0x01, 0, 0x02, 0, 0x34, 0x12, 0, 0}},
    };
    // One entry more than given: a missing entry leaves a zero record, and the table ends with one.
    QByteArray ini = "[KnownIDs]\nNum=" + QByteArray::number(static_cast<int>(std::size(cases)) + 1) + "\n";
    for (size_t i = 0; i < std::size(cases); ++i)
        ini += "ID" + QByteArray::number(static_cast<int>(i)) + "=" + cases[i].value + "\n";
    SetIni(ini);

    ASSERT_TRUE(LoadKnownIds(Dlg()));
    ASSERT_NE(Dlg()->m_pKnownIds, nullptr);
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(BytesOf(&Dlg()->m_pKnownIds[i], 8), cases[i].record) << cases[i].value.toStdString();
    EXPECT_TRUE(IsAllZero(Dlg()->m_pKnownIds[std::size(cases)]));
    EXPECT_TRUE(IsAllZero(Dlg()->m_pKnownIds[std::size(cases) + 1]));
}

TEST_F(ConfigurationTest, DfuPatchEntriesFillTheIdentityRecord)
{
    SetIni("[DfuPatchInfos]\nNum=2\n"
           "Info0=2fe4, 4800, 100, 48000000, 1ff, 82, 99\n"  // fifth over 8 bits, a seventh number
           "Info1=2fe4, 4800\n");
    ASSERT_TRUE(LoadDfuPatchInfos(Dlg()));
    const _ZEL_USB_DEV_INFO* pTable = Dlg()->m_pDfuPatchInfos;
    EXPECT_EQ(BytesOf(&pTable[0], 20), (std::vector<uint8_t>{0xe4, 0x2f, 0x00, 0x48, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                                                             0x00, 0x48, 0xff, 0x82, 0,    0,    0,    0,    0,    0}));
    EXPECT_EQ(BytesOf(&pTable[1], 20),
              (std::vector<uint8_t>{0xe4, 0x2f, 0x00, 0x48, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(IsAllZero(pTable[2]));
}

TEST_F(ConfigurationTest, NoUsableCountMeansNoTable)
{
    for (const char* pszIni : {"[KnownIDs]\nNum=0\nID0=1, 2, 3\n", "[KnownIDs]\nNum=0x7fffffff\n"}) {
        SetIni(pszIni);
        EXPECT_FALSE(LoadKnownIds(Dlg())) << pszIni;
        EXPECT_EQ(Dlg()->m_pKnownIds, nullptr) << pszIni;
    }
}

TEST_F(ConfigurationTest, LoadConfigurationRunsEveryLoaderWhateverFails)
{
    // No KnownIDs and no controller names, no zel.dat: the rest still loads.
    SetIni("[DfuPatchInfos]\nNum=1\nInfo0=1, 2\n"
           "[ChipsetInfo]\nHDCodecNum=1\nIISCodecNum=1\n");
    LoadConfiguration(Dlg());
    EXPECT_EQ(Dlg()->m_pKnownIds, nullptr);
    EXPECT_NE(Dlg()->m_pDfuPatchInfos, nullptr);
    EXPECT_EQ(Dlg()->m_pControllerNames, nullptr);
    EXPECT_NE(Dlg()->m_pHdCodecNames, nullptr);
    EXPECT_NE(Dlg()->m_pIisCodecNames, nullptr);
    EXPECT_EQ(Dlg()->m_pFlashInfo, nullptr);
}

// Any one table or list missing makes it false.
TEST_F(ConfigurationTest, LoadConfigurationIsTrueOnlyWhenEverythingLoads)
{
    // A minimal zel.dat beside the "executable".
    QByteArray plain = "Chip\nW25Q16, 0xEF4015, 0x800\n";
    ASSERT_TRUE(EncryptFlashTable(reinterpret_cast<uint8_t*>(plain.data()), static_cast<int32_t>(plain.size())));
    QFile zel(Dlg()->m_strModuleDir + "zel.dat");
    ASSERT_TRUE(zel.open(QIODevice::WriteOnly) && zel.write(plain) == plain.size());
    zel.close();

    const QByteArray complete = "[KnownIDs]\nNum=1\nID0=1, 2, 3\n[DfuPatchInfos]\nNum=1\nInfo0=1, 2\n"
                                "[ChipsetInfo]\nControllerNum=1\nHDCodecNum=1\nIISCodecNum=1\n";
    SetIni(complete);
    Dlg()->m_strIniPath.clear();
    EXPECT_TRUE(LoadConfiguration(Dlg()));
    EXPECT_EQ(Dlg()->m_strIniPath, Dlg()->m_strModuleDir + "Quillon.ini");
    ASSERT_NE(Dlg()->m_pFlashInfo, nullptr);
    EXPECT_STREQ(Dlg()->m_pFlashInfo[0].szName, "W25Q16");

    for (const char* pszMissing :
         {"[KnownIDs]\nNum=1\n", "[DfuPatchInfos]\nNum=1\n", "ControllerNum=1\n", "IISCodecNum=1\n"}) {
        QByteArray ini = complete;
        SetIni(ini.replace(pszMissing, ""));
        EXPECT_FALSE(LoadConfiguration(Dlg())) << pszMissing;
    }
    SetIni(complete);
    ASSERT_TRUE(zel.remove());
    EXPECT_FALSE(LoadConfiguration(Dlg()));
}

TEST_F(ConfigurationTest, PerChipLookupsUseTheSubVersionKeyAndTheCallersDefault)
{
    SetIni("[ImageMask]\nCHIP_0001_SUBV_12000100=0x0000ffff\n[FlagOffset]\nCHIP_0001_SUBV_12000100=-1\n");
    EXPECT_EQ(LookupChipSetting(0x12000134, Dlg(), "ImageMask", 0x0001, -1), 0xffff);
    EXPECT_EQ(LookupChipSetting(0x12000234, Dlg(), "ImageMask", 0x0001, -1), -1);  // another sub-version
    EXPECT_EQ(LookupChipSetting(0x12000134, Dlg(), "FlagOffset", 0x0002, 0x3000), 0x3000);
    EXPECT_EQ(LookupChipSetting(0x12000134, Dlg(), "FlagOffset", 0x0001, 0x3000), -1);

    // Read at the moment of use: an edit counts at the next lookup.
    SetIni("[ImageMask]\nCHIP_0001_SUBV_12000100=0x1\n");
    EXPECT_EQ(LookupChipSetting(0x12000134, Dlg(), "ImageMask", 0x0001, -1), 1);
}

// ScanHexFields: "%x, %x, ..." as the table entries are written.
TEST(ScanHexFieldsTest, ReadsUpToTheFirstMisfit)
{
    constexpr uint32_t kUntouched = 0xAAAAAAAA;
    const struct {
        const char16_t* pszText;
        int nFields;
        int nRead;
        std::vector<uint32_t> expected;  // the whole value array afterwards
    } cases[] = {
        {u"0x2fe3,0X1200,  ff000001", 3, 3, {0x2fe3, 0x1200, 0xff000001}},
        {u"1,\t2", 2, 2, {1, 2}},
        {u"1 , 2, 3", 3, 1, {1, kUntouched, kUntouched}},  // a blank before the comma ends the scan
        {u"1, 2, 3, 4", 2, 2, {1, 2}},
        {u"", 2, 0, {kUntouched, kUntouched}},
        {u"0x, 1", 2, 1, {0, kUntouched}},  // "0" is read, the "x" does not fit
        {u"-1, +2", 2, 2, {0xFFFFFFFF, 2}},
        {u"123456789, 1", 2, 2, {0x23456789, 1}},  // low 32 bits kept
    };
    for (const auto& c : cases) {
        const std::string text = QString::fromUtf16(c.pszText).toStdString();
        std::vector<uint32_t> values(c.expected.size(), kUntouched);
        EXPECT_EQ(ScanHexFields(c.pszText, values.data(), c.nFields), c.nRead) << text;
        EXPECT_EQ(values, c.expected) << text;
    }
}

}  // namespace
