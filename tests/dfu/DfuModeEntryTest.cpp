#include "dfu/DfuModeEntry.h"
#include "support/ParamNames.h"
#include "support/WindowFixture.h"

#include <gmock/gmock.h>

#include <QDir>
#include <cstdlib>
#include <deque>

using ::testing::ElementsAreArray;

namespace {

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

struct EntryRow {
    const char* pszName;
    bool bBootLoader, bFlashTable;
    std::vector<uint8_t> patch;  // the patch file's bytes; none: no file
    bool bPatchFile;
    std::deque<bool> qSwitch, qDetect, qPatch;
    bool bResult;
    std::vector<std::string> operations;  // identity queries aside
};
void PrintTo(const EntryRow& row, std::ostream* os)
{
    *os << row.pszName;
}

class DfuModeEntryRowTest : public DfuModeEntryTest, public ::testing::WithParamInterface<EntryRow> {};

TEST_P(DfuModeEntryRowTest, Operations)
{
    const EntryRow& row = GetParam();
    if (row.bFlashTable)
        dlg->m_pFlashInfo.reset(static_cast<_FLASH_INFO*>(std::calloc(1, sizeof kFlashTable)));
    CFakeZelUsbDevice* pDevice = PatchDevice();
    pDevice->bBootLoader = row.bBootLoader;
    if (row.bPatchFile)
        WriteFileBytes(m_dir + "ZA4800.bin", row.patch);
    pDevice->qSwitchToDfu = row.qSwitch;
    pDevice->qDetectFlash = row.qDetect;
    pDevice->qLoadPatch = row.qPatch;

    EXPECT_EQ(EnterDfuMode(dlg.get(), pDevice), row.bResult);
    EXPECT_THAT(Operations(pDevice), ElementsAreArray(row.operations));
    if (row.bResult && !row.bBootLoader) {
        EXPECT_EQ(pDevice->lastPatch, row.patch);
        EXPECT_EQ(pDevice->Calls().back().strArgs, std::to_string(row.patch.size()));
    }
    EXPECT_TRUE(Traces().empty() && Boxes().empty());
}

const std::vector<uint8_t> kPatch = {0x50, 0x00, 0x41, 0x00, 0x54};  // zero bytes inside are sent too
const char* const kAsk = "IsHidDfuBootLoaderSupported";

INSTANTIATE_TEST_SUITE_P(
    Rows, DfuModeEntryRowTest,
    ::testing::Values(
        EntryRow{"BootLoaderWithoutFlashTable", true, false, {}, false, {}, {}, {}, true, {kAsk, "SwitchToDfuMode"}},
        EntryRow{"BootLoaderWithFlashTable",
                 true,
                 true,
                 {},
                 false,
                 {},
                 {},
                 {},
                 true,
                 {kAsk, "SwitchToDfuMode", "DetectFlash"}},
        EntryRow{"RefusedSwitch", true, true, {}, false, {false}, {}, {}, false, {kAsk, "SwitchToDfuMode"}},
        EntryRow{"FailedDetectionSendsBack",
                 true,
                 true,
                 {},
                 false,
                 {},
                 {false},
                 {},
                 false,
                 {kAsk, "SwitchToDfuMode", "DetectFlash", "SwitchToNormalMode"}},
        EntryRow{"PatchSentWhole", false, false, kPatch, true, {}, {}, {}, true, {kAsk, "LoadDfuPatch"}},
        EntryRow{"PatchThenFailedDetection",
                 false,
                 true,
                 kPatch,
                 true,
                 {},
                 {false},
                 {},
                 false,
                 {kAsk, "LoadDfuPatch", "DetectFlash", "SwitchToNormalMode"}},
        EntryRow{"RefusedPatch", false, true, {9}, true, {}, {}, {false}, false, {kAsk, "LoadDfuPatch"}},
        EntryRow{"MissingPatchFile", false, true, {}, false, {}, {}, {}, false, {kAsk}},
        EntryRow{"EmptyPatchFile", false, true, {}, true, {}, {}, {}, false, {kAsk}}),
    RowName());

TEST_F(DfuModeEntryTest, PatchPathNames)
{
    CFakeZelUsbDevice* pDevice = PatchDevice();
    EXPECT_EQ(BuildDfuPatchPath(dlg.get(), pDevice), QString::fromStdString(m_dir + "ZA4800.bin"));
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
