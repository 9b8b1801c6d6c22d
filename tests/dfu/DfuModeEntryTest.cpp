#include "dfu/DfuModeEntry.h"
#include "support/ParamNames.h"
#include "support/WindowFixture.h"

#include <gmock/gmock.h>

#include <QDir>
#include <cstdlib>
#include <deque>

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
        m_pDevice = AddListedDevice();
        m_pDevice->bBootLoader = false;
        m_pDevice->nChipsetType = 0x0312;
    }
    void TearDown() override
    {
        QDir(QString::fromStdString(m_dir)).removeRecursively();
        DfuTest::TearDown();
    }
    std::string m_dir;
    CFakeZelUsbDevice* m_pDevice = nullptr;
};

const std::vector<uint8_t> kPatch = {0x50, 0x00, 0x41, 0x00, 0x54};  // zero bytes inside are sent too
const std::vector<uint8_t> kOneByte = {9}, kEmpty;

struct EntryRow {
    const char* pszName;
    bool bBootLoader, bFlashTable;
    const std::vector<uint8_t>* pPatch;  // the patch file's bytes; null: no file
    const char* pszFailing;              // the operation that fails, if any
    bool bResult;
    const char* pszOperations;  // after the boot-loader query; identity queries aside
    friend void PrintTo(const EntryRow& row, std::ostream* os) { *os << row.pszName; }
};

const EntryRow kEntryRows[] = {
    {"BootLoaderWithoutFlashTable", true, false, nullptr, nullptr, true, " SwitchToDfuMode"},
    {"BootLoaderWithFlashTable", true, true, nullptr, nullptr, true, " SwitchToDfuMode DetectFlash"},
    {"RefusedSwitch", true, true, nullptr, "SwitchToDfuMode", false, " SwitchToDfuMode"},
    {"FailedDetectionSendsBack", true, true, nullptr, "DetectFlash", false,
     " SwitchToDfuMode DetectFlash SwitchToNormalMode"},
    {"PatchSentWhole", false, false, &kPatch, nullptr, true, " LoadDfuPatch"},
    {"RefusedPatch", false, true, &kOneByte, "LoadDfuPatch", false, " LoadDfuPatch"},
    {"EmptyPatchFile", false, true, &kEmpty, nullptr, false, ""},
};

}  // namespace

class DfuModeEntryRowTest : public DfuModeEntryTest, public ::testing::WithParamInterface<EntryRow> {};

TEST_P(DfuModeEntryRowTest, Operations)
{
    const EntryRow& row = GetParam();
    if (row.bFlashTable)
        dlg->m_pFlashInfo.reset(static_cast<_FLASH_INFO*>(std::calloc(1, sizeof kFlashTable)));
    m_pDevice->bBootLoader = row.bBootLoader;
    if (row.pPatch != nullptr)
        WriteFileBytes(m_dir + "ZA4800.bin", *row.pPatch);
    const std::map<std::string, std::deque<bool>*> queues = {{"SwitchToDfuMode", &m_pDevice->qSwitchToDfu},
                                                             {"DetectFlash", &m_pDevice->qDetectFlash},
                                                             {"LoadDfuPatch", &m_pDevice->qLoadPatch}};
    if (row.pszFailing != nullptr)
        *queues.at(row.pszFailing) = {false};

    EXPECT_EQ(EnterDfuMode(dlg.get(), m_pDevice), row.bResult);
    std::string operations;
    for (const std::string& name : m_pDevice->CallNames())
        operations += name.rfind("Get", 0) == 0 ? "" : (operations.empty() ? "" : " ") + name;
    EXPECT_EQ(operations, std::string("IsHidDfuBootLoaderSupported") + row.pszOperations);
    if (row.bResult && !row.bBootLoader) {
        EXPECT_EQ(m_pDevice->lastPatch, *row.pPatch);
        EXPECT_EQ(m_pDevice->Calls().back().strArgs, std::to_string(row.pPatch->size()));
    }
    EXPECT_TRUE(Traces().empty() && Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, DfuModeEntryRowTest, ::testing::ValuesIn(kEntryRows), RowName());

// Without a chipset type the controller's name comes from the type configured for the sub-version (the
// name from the device's own type: the rows above, which find ZA4800.bin).
TEST_F(DfuModeEntryTest, PatchPathNames)
{
    m_pDevice->nChipsetType = 0;
    m_pDevice->nSubVersion = 0x48000010;
    profile.Set("ChipsetInfo", "SUBV_48000000", "0x0181");
    EXPECT_EQ(BuildDfuPatchPath(dlg.get(), m_pDevice), QString::fromStdString(m_dir + "ZA2400.bin"));
}
