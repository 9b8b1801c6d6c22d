// The shipped example data, as the build puts it beside the programs: Quillon.ini and zel.dat load
// whole, and the example devices listed in Quillon.ini get the names and settings it promises.
#include "support/FakeZelHid.h"
#include "app/QuillonDlg.h"
#include "config/ChipsetNaming.h"
#include "app/WindowConfig.h"
#include "platform/ProfileReader.h"

#include <gtest/gtest.h>

namespace {

uint32_t BytesOfJedec(const _FLASH_INFO* p)
{
    return uint32_t(p->byJedecId[0]) << 24 | uint32_t(p->byJedecId[1]) << 16 | uint32_t(p->byJedecId[2]) << 8 |
           p->byJedecId[3];
}

class ExampleConfigTest : public ::testing::Test {
protected:
    ExampleConfigTest()
    {
        m_env.pProfile = m_profile.get();
        m_dlg.m_strModuleDir = QStringLiteral(QUILLON_BINARY_DIR "/bin/");
    }
    std::unique_ptr<IProfileReader> m_profile = CreateFileProfileReader();
    CQuillonEnv m_env;
    CQuillonDlg m_dlg{m_env};
};

TEST_F(ExampleConfigTest, EverythingLoads)
{
    ASSERT_TRUE(LoadConfiguration(&m_dlg));
    EXPECT_EQ(m_dlg.m_pKnownIds[0].wVendorId, 0x2fe3);
    EXPECT_EQ(m_dlg.m_pKnownIds[0].dwUsage, 0xff000001u);
    EXPECT_EQ(m_dlg.m_pKnownIds[3].wVendorId, 0x2fe4);
    EXPECT_EQ(m_dlg.m_pDfuPatchInfos[0].dwSubVersion, 0x48000000u);
    EXPECT_EQ(m_dlg.m_pControllerNames->Count(), 4);

    int nChips = 0;
    bool bFoundW25Q80 = false;
    for (const _FLASH_INFO* p = m_dlg.m_pFlashInfo; p->szName[0] != '\0'; ++p, ++nChips) {
        if (std::string(p->szName) == "Winbond W25Q80DV") {
            bFoundW25Q80 = true;
            EXPECT_EQ(BytesOfJedec(p), 0x00EF4014u);
            EXPECT_EQ(p->byCapacityKb[0] << 8 | p->byCapacityKb[1], 1024);
            EXPECT_EQ(p->byOpcodes[11], 0x9F);   // RDID
        }
    }
    EXPECT_GE(nChips, 20);
    EXPECT_TRUE(bFoundW25Q80);
}

TEST_F(ExampleConfigTest, ExampleDevicesGetTheDocumentedNamesAndSettings)
{
    LoadConfiguration(&m_dlg);
    const struct {
        uint16_t nChipset;
        uint32_t nSubVersion;
        bool bBootLoader;
        const char* pszName;
        uint32_t nImageMask;
        uint32_t nBootLoaderMask;
        uint32_t nFlagOffset;
    } devices[] = {
        {0x0001, 0x12000134, true, "ZA1200+ZH880", 0xffffffff, 0x1, 0x3000},
        {0x0180, 0x24000007, true, "ZA2400+ZI4344", 0x0000ffff, 0x3, 0x3000},
        {0x0000, 0x36000021, true, "ZA3600+ZH892", 0x0000ffff, 0x0, 0x2000},
        {0x0381, 0x48000010, false, "ZA4800+ZI5102", 0x0000fffe, 0x0, 0x3000},
    };
    for (const auto& d : devices) {
        CFakeZelUsbDevice device;
        device.nChipsetType = d.nChipset;
        device.nSubVersion = d.nSubVersion;
        const uint16_t nType = GetEffectiveChipsetType(&device, &m_dlg);
        EXPECT_EQ(FormatChipsetName(&m_dlg, nType), d.pszName);
        EXPECT_EQ(static_cast<uint32_t>(LookupChipSetting(d.nSubVersion, &m_dlg, "ImageMask", nType, -1)), d.nImageMask)
            << d.pszName;
        EXPECT_EQ(static_cast<uint32_t>(LookupChipSetting(d.nSubVersion, &m_dlg, "BootLoaderMask", nType, d.bBootLoader)),
                  d.nBootLoaderMask)
            << d.pszName;
        EXPECT_EQ(static_cast<uint32_t>(LookupChipSetting(d.nSubVersion, &m_dlg, "FlagOffset", nType, 0x3000)),
                  d.nFlagOffset)
            << d.pszName;
    }
}

}  // namespace
