#include "dfu/DfuModeEntry.h"
#include "dfu/DfuTestSupport.h"

#include <gmock/gmock.h>

#include <QDir>
#include <cstdio>

using ::testing::ElementsAre;

namespace {

const _FLASH_INFO kFlashTable[2] = {};

class DfuModeEntryTest : public DfuTest {
protected:
    void SetUp() override
    {
        DfuTest::SetUp();
        m_dir = TempPath("patches") + "/";
        QDir().mkpath(QString::fromStdString(m_dir));
        dlg->m_strModuleDir = QString::fromStdString(m_dir);
        SetControllerNames({"ZA1200", "ZA2400", "ZA3600", "ZA4800"});
    }
    void TearDown() override
    {
        QDir(QString::fromStdString(m_dir)).removeRecursively();
        DfuTest::TearDown();
    }
    // Operations only; identity queries aside.
    static std::vector<std::string> Operations(const CFakeZelUsbDevice* pDevice)
    {
        std::vector<std::string> out;
        for (const std::string& name : pDevice->CallNames()) {
            if (name.rfind("Get", 0) != 0)
                out.push_back(name);
        }
        return out;
    }
    CFakeZelUsbDevice* PatchDevice()
    {
        CFakeZelUsbDevice* pDevice = AddListedDevice();
        pDevice->bBootLoader = false;
        pDevice->nChipsetType = 0x0312;
        return pDevice;
    }
    std::string m_dir;
};

}  // namespace

TEST_F(DfuModeEntryTest, BootLoaderWithoutFlashTableSkipsDetection)
{
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    EXPECT_TRUE(EnterDfuMode(dlg.get(), pDevice));
    EXPECT_THAT(Operations(pDevice), ElementsAre("IsHidDfuBootLoaderSupported", "SwitchToDfuMode"));
}

TEST_F(DfuModeEntryTest, BootLoaderWithFlashTableDetects)
{
    dlg->m_pFlashInfo = const_cast<_FLASH_INFO*>(kFlashTable);
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    EXPECT_TRUE(EnterDfuMode(dlg.get(), pDevice));
    EXPECT_THAT(Operations(pDevice), ElementsAre("IsHidDfuBootLoaderSupported", "SwitchToDfuMode", "DetectFlash"));
}

TEST_F(DfuModeEntryTest, RefusedSwitchEndsAtOnce)
{
    dlg->m_pFlashInfo = const_cast<_FLASH_INFO*>(kFlashTable);
    CFakeZelUsbDevice* pDevice = AddListedDevice();
    pDevice->qSwitchToDfu = {false};
    EXPECT_FALSE(EnterDfuMode(dlg.get(), pDevice));
    EXPECT_THAT(Operations(pDevice), ElementsAre("IsHidDfuBootLoaderSupported", "SwitchToDfuMode"));
    EXPECT_TRUE(host.Events().empty());
}

TEST_F(DfuModeEntryTest, FailedDetectionSendsDeviceBackOnce)
{
    dlg->m_pFlashInfo = const_cast<_FLASH_INFO*>(kFlashTable);
    for (bool bBootLoader : {true, false}) {
        CFakeZelUsbDevice* pDevice = PatchDevice();
        pDevice->bBootLoader = bBootLoader;
        WriteFileBytes(m_dir + "ZA4800.bin", {1, 2, 3});
        pDevice->qDetectFlash = {false};
        EXPECT_FALSE(EnterDfuMode(dlg.get(), pDevice));
        EXPECT_EQ(Operations(pDevice).back(), "SwitchToNormalMode");
        EXPECT_EQ(pDevice->CountCalls("SwitchToNormalMode"), 1u);
        EXPECT_EQ(pDevice->CountCalls("DetectFlash"), 1u);
    }
}

TEST_F(DfuModeEntryTest, PatchNamedAfterControllerAndSentWhole)
{
    CFakeZelUsbDevice* pDevice = PatchDevice();
    const std::vector<uint8_t> patch = {0x50, 0x00, 0x41, 0x00, 0x54};   // zero bytes inside are sent too
    WriteFileBytes(m_dir + "ZA4800.bin", patch);
    EXPECT_EQ(BuildDfuPatchPath(dlg.get(), pDevice), QString::fromStdString(m_dir + "ZA4800.bin"));
    EXPECT_TRUE(EnterDfuMode(dlg.get(), pDevice));
    EXPECT_THAT(Operations(pDevice), ElementsAre("IsHidDfuBootLoaderSupported", "LoadDfuPatch"));
    EXPECT_EQ(pDevice->lastPatch, patch);
    EXPECT_EQ(pDevice->Calls()[pDevice->Calls().size() - 1].strArgs, "5");
}

TEST_F(DfuModeEntryTest, PatchPathNames)
{
    CFakeZelUsbDevice* pDevice = PatchDevice();
    SetControllerNames({"A", "B", "C"});
    EXPECT_EQ(BuildDfuPatchPath(dlg.get(), pDevice), QString::fromStdString(m_dir + "Unknown.bin"));
    SetControllerNames({"A", "B", "C", ""});
    EXPECT_EQ(BuildDfuPatchPath(dlg.get(), pDevice), QString::fromStdString(m_dir + ".bin"));

    pDevice->nChipsetType = 0;
    pDevice->nSubVersion = 0x48000010;
    SetControllerNames({"Zero", "One"});
    EXPECT_EQ(BuildDfuPatchPath(dlg.get(), pDevice), QString::fromStdString(m_dir + "Zero.bin"));
    profile.Set("ChipsetInfo", "SUBV_48000000", "0x0181");
    EXPECT_EQ(BuildDfuPatchPath(dlg.get(), pDevice), QString::fromStdString(m_dir + "One.bin"));
}

TEST_F(DfuModeEntryTest, MissingOrEmptyPatchFileAsksOnlyIdentity)
{
    for (bool bEmpty : {false, true}) {
        CFakeZelUsbDevice* pDevice = PatchDevice();
        std::remove((m_dir + "ZA4800.bin").c_str());
        if (bEmpty)
            WriteFileBytes(m_dir + "ZA4800.bin", {});
        EXPECT_FALSE(EnterDfuMode(dlg.get(), pDevice));
        EXPECT_THAT(pDevice->CallNames(), ElementsAre("IsHidDfuBootLoaderSupported", "GetChipsetType"));
    }
}

TEST_F(DfuModeEntryTest, RefusedPatch)
{
    dlg->m_pFlashInfo = const_cast<_FLASH_INFO*>(kFlashTable);
    CFakeZelUsbDevice* pDevice = PatchDevice();
    WriteFileBytes(m_dir + "ZA4800.bin", {9});
    pDevice->qLoadPatch = {false};
    EXPECT_FALSE(EnterDfuMode(dlg.get(), pDevice));
    EXPECT_THAT(Operations(pDevice), ElementsAre("IsHidDfuBootLoaderSupported", "LoadDfuPatch"));
}
