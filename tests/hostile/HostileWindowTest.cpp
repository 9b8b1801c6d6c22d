// Hostile files through the main window on the headless host: Quillon.ini and zel.dat beside the
// executable, read by the real file readers, and firmware images chosen in File > Open Image.
// Each one ends in the window's ordinary outcome (an absent table, a message box), never a crash or
// a hang; ctest's time limit stands guard over the hangs.
#include "HostileFiles.h"

#include "app/MainWindowFixture.h"
#include "app/Resource.h"
#include "config/ChipsetNaming.h"
#include "image/ZelFirmwareApi.h"
#include "platform/ProfileReader.h"

#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

const QString kIncorrect = QStringLiteral("Incorrect image file, no useful information found!");
const QString kReadFailed = QStringLiteral("Read DFU file failed!");

std::string ExampleZelDat()
{
    return QUILLON_BINARY_DIR "/bin/zel.dat";
}

std::string ExampleIni()
{
    return QUILLON_SOURCE_DIR "/examples/Quillon.ini";
}

// The window's data files live in a scratch folder and are read from disk.
class HostileWindowTest : public MainWindowTest {
protected:
    HostileWindowTest()
    {
        m_fileProfile = CreateFileProfileReader();
        env.pProfile = m_fileProfile.get();
        env.strExecutablePath = QString::fromStdString(m_dir.Path("Quillon"));
    }

    bool AllConfigTablesAbsent()
    {
        return !Dlg().m_pKnownIds && !Dlg().m_pDfuPatchInfos && !Dlg().m_pControllerNames && !Dlg().m_pHdCodecNames &&
               !Dlg().m_pIisCodecNames;
    }
    bool AllConfigTablesPresent()
    {
        return Dlg().m_pKnownIds && Dlg().m_pDfuPatchInfos && Dlg().m_pControllerNames && Dlg().m_pHdCodecNames &&
               Dlg().m_pIisCodecNames;
    }

    CHostileDir m_dir;
    std::unique_ptr<IProfileReader> m_fileProfile;
};

class HostileConfigFileTest : public HostileWindowTest, public ::testing::WithParamInterface<HostileKind> {};

}  // namespace

// Quillon.ini is not a usable file: every table and list is absent, the window still comes up with
// its census, and a device's chipset is named "Unknown".
TEST_P(HostileConfigFileTest, QuillonIniGivesNoTables)
{
    SKIP_UNREADABLE_AS_ROOT(GetParam());
    m_dir.Make(GetParam(), "Quillon.ini");
    m_dir.CopyFrom(ExampleZelDat(), "zel.dat");
    PlugZa1200(backend, u"/dev/hidraw0");
    Open();

    EXPECT_TRUE(AllConfigTablesAbsent());
    EXPECT_NE(Dlg().m_pFlashInfo, nullptr);
    EXPECT_TRUE(TraceText().startsWith(QStringLiteral("Total 1 devices found!\r\n"))) << TraceText().toStdString();
    EXPECT_EQ(Text(IDC_DEV_CHIPSET), QStringLiteral("Unknown"));
    EXPECT_TRUE(Boxes().empty());
}

// zel.dat is not a usable file: the flash table is absent, everything else loads.
TEST_P(HostileConfigFileTest, ZelDatGivesNoFlashTable)
{
    SKIP_UNREADABLE_AS_ROOT(GetParam());
    m_dir.CopyFrom(ExampleIni(), "Quillon.ini");
    m_dir.Make(GetParam(), "zel.dat");
    Open();

    EXPECT_EQ(Dlg().m_pFlashInfo, nullptr);
    EXPECT_EQ(g_pFlashInfo, nullptr);
    EXPECT_TRUE(AllConfigTablesPresent());
    EXPECT_TRUE(Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostileConfigFileTest, ::testing::ValuesIn(AllHostileKinds()),
                         [](const ::testing::TestParamInfo<HostileKind>& info) { return HostileKindName(info.param); });

namespace {

struct CountCase {
    const char* pszName;
    const char* pszSection;   // the section whose count is hostile
    const char* pszKey;
    const char* pszValue;
};

class HostileCountTest : public HostileWindowTest, public ::testing::WithParamInterface<CountCase> {
protected:
    // The example file with one count replaced.
    void WriteIni(const CountCase& c)
    {
        const std::vector<uint8_t> bytes = ReadBytes(ExampleIni());
        std::string text(bytes.begin(), bytes.end());
        const std::string section = std::string("[") + c.pszSection + "]\n";
        const size_t at = text.find(section);
        ASSERT_NE(at, std::string::npos);
        const std::string key = std::string("\n") + c.pszKey + "=";
        const size_t keyAt = text.find(key, at);
        ASSERT_NE(keyAt, std::string::npos);
        const size_t end = text.find('\n', keyAt + 1);
        text.replace(keyAt, end - keyAt, key + c.pszValue);
        m_dir.WriteText("Quillon.ini", text);
        m_dir.CopyFrom(ExampleZelDat(), "zel.dat");
    }
};

}  // namespace

// A count of 2^31 - 1 would make a table of 2^31 records, whose size does not fit in 32 bits: the
// table is refused at once instead of being allocated or scanned key by key. The other tables load.
TEST_P(HostileCountTest, CountThatCannotBeAllocatedGivesNoTable)
{
    const CountCase& c = GetParam();
    WriteIni(c);
    Open();

    const std::string key = c.pszKey;
    EXPECT_EQ(Dlg().m_pKnownIds == nullptr, std::string(c.pszSection) == "KnownIDs");
    EXPECT_EQ(Dlg().m_pDfuPatchInfos == nullptr, std::string(c.pszSection) == "DfuPatchInfos");
    EXPECT_EQ(Dlg().m_pControllerNames == nullptr, key == "ControllerNum");
    EXPECT_EQ(Dlg().m_pHdCodecNames == nullptr, key == "HDCodecNum");
    EXPECT_EQ(Dlg().m_pIisCodecNames == nullptr, key == "IISCodecNum");
    EXPECT_NE(Dlg().m_pFlashInfo, nullptr);
    EXPECT_TRUE(Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Counts, HostileCountTest,
    ::testing::Values(CountCase{"KnownIdsMax", "KnownIDs", "Num", "2147483647"},
                      CountCase{"KnownIdsAllBits", "KnownIDs", "Num", "0xffffffff"},
                      CountCase{"KnownIdsWrapsNegative", "KnownIDs", "Num", "2147483648"},
                      CountCase{"DfuPatchInfosMax", "DfuPatchInfos", "Num", "2147483647"},
                      CountCase{"DfuPatchInfosHex", "DfuPatchInfos", "Num", "0x7fffffff"},
                      CountCase{"ControllerNumMax", "ChipsetInfo", "ControllerNum", "2147483647"},
                      CountCase{"HdCodecNumMax", "ChipsetInfo", "HDCodecNum", "2147483647"},
                      CountCase{"IisCodecNumMax", "ChipsetInfo", "IISCodecNum", "0x7fffffff"}),
    [](const ::testing::TestParamInfo<CountCase>& info) { return std::string(info.param.pszName); });

namespace {

class HostileImageTest : public HostileWindowTest, public ::testing::WithParamInterface<HostileKind> {
protected:
    void SetUp() override
    {
        m_dir.CopyFrom(ExampleIni(), "Quillon.ini");
        m_dir.CopyFrom(ExampleZelDat(), "zel.dat");
        PlugZa1200(backend, u"/dev/hidraw0");
    }

    void OpenImage(const std::string& path)
    {
        session.QueueOpenFileAnswer(QString::fromStdString(path));
        ASSERT_TRUE(Host().ChooseMenuItem(ID_FILE_OPEN_IMAGE));
    }

    bool IdentityIsZero()
    {
        const _ZEL_USB_DEV_INFO zero{};
        return std::memcmp(&Dlg().m_ImageInfo, &zero, sizeof zero) == 0;
    }
};

}  // namespace

// Under a match policy the file has no identity: refused, nothing changes.
TEST_P(HostileImageTest, RefusedUnderMatchPolicy)
{
    SKIP_UNREADABLE_AS_ROOT(GetParam());
    prefs.WriteProfileInt(QStringLiteral("Options"), QStringLiteral("MatchPolicy"), 0x1);
    Open();
    const std::string path = m_dir.Make(GetParam(), "image.bin");
    OpenImage(path);

    EXPECT_EQ(Boxes(), std::vector<QString>{kIncorrect});
    EXPECT_EQ(Text(IDC_IMG_FILE), QString());
    EXPECT_EQ(Dlg().m_pImageData, nullptr);
    EXPECT_TRUE(IdentityIsZero());
}

// With no identity checks the file is accepted with an all-zero identity; its bytes load only when it
// is a regular file of less than 2 GiB that can be read whole.
TEST_P(HostileImageTest, LenientPolicyLoadsOnlyReadableBytes)
{
    SKIP_UNREADABLE_AS_ROOT(GetParam());
    Open();
    const std::string path = m_dir.Make(GetParam(), "image.bin");
    OpenImage(path);

    EXPECT_EQ(Text(IDC_IMG_FILE), QString::fromStdString(path));
    EXPECT_EQ(Text(IDC_IMG_VID), QStringLiteral("0x0000"));
    EXPECT_TRUE(IdentityIsZero());
    if (GetParam() == HostileKind::RandomBytes) {
        EXPECT_TRUE(Boxes().empty());
        ASSERT_NE(Dlg().m_pImageData, nullptr);
        EXPECT_EQ(Dlg().m_nImageSize, 4096);
    } else {
        EXPECT_EQ(Boxes(), std::vector<QString>{kReadFailed});
        EXPECT_EQ(Dlg().m_pImageData, nullptr);
        EXPECT_EQ(Dlg().m_nImageSize, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostileImageTest, ::testing::ValuesIn(AllHostileKinds()),
                         [](const ::testing::TestParamInfo<HostileKind>& info) { return HostileKindName(info.param); });

// An image whose identity record is damaged in any one byte has no identity: refused under a match
// policy, and a later intact image still opens.
TEST_F(HostileImageTest, DamagedRecordIsNoIdentity)
{
    prefs.WriteProfileInt(QStringLiteral("Options"), QStringLiteral("MatchPolicy"), 0x10F);
    Open();
    const std::vector<uint8_t> good = ReadBytes(QUILLON_SOURCE_DIR "/examples/images/za1200-fw-0106.bin");
    _ZEL_USB_DEV_INFO info{};
    size_t nOffset = 0;
    ASSERT_TRUE(FindImageRecord(good.data(), good.size(), info, &nOffset));
    for (size_t k = 0; k < kImageRecordSize; ++k) {
        std::vector<uint8_t> damaged = good;
        damaged[nOffset + k] ^= 0x04;
        OpenImage(m_dir.WriteBytes("damaged.bin", damaged));
        EXPECT_EQ(Boxes().size(), k + 1) << "byte " << k;
    }
    EXPECT_EQ(Boxes(), std::vector<QString>(kImageRecordSize, kIncorrect));
    EXPECT_EQ(Dlg().m_pImageData, nullptr);

    OpenImage(m_dir.WriteBytes("good.bin", good));
    EXPECT_EQ(Boxes().size(), kImageRecordSize);
    ASSERT_NE(Dlg().m_pImageData, nullptr);
    EXPECT_EQ(Dlg().m_nImageSize, static_cast<int32_t>(good.size()));
}

// The profile reader's size limit: a Quillon.ini of 64 MiB is still read, one byte more reads as a
// missing file (the caller's defaults), and shrinking it back is seen at the next read.
TEST(HostileProfileSizeTest, LargestReadableFile)
{
    CHostileDir dir;
    const std::string path = dir.WriteText("Quillon.ini", "[KnownIDs]\nNum=3\n");
    const QString ini = QString::fromStdString(path);
    std::unique_ptr<IProfileReader> reader = CreateFileProfileReader();
    const off_t nLimit = off_t{64} << 20;

    ASSERT_EQ(::truncate(path.c_str(), nLimit), 0);   // the rest is one long line of zero bytes
    EXPECT_EQ(reader->GetPrivateProfileInt(QStringLiteral("KnownIDs"), QStringLiteral("Num"), -5, ini), 3u);
    ASSERT_EQ(::truncate(path.c_str(), nLimit + 1), 0);
    EXPECT_EQ(reader->GetPrivateProfileInt(QStringLiteral("KnownIDs"), QStringLiteral("Num"), -5, ini), 0xFFFFFFFBu);
    EXPECT_EQ(reader->GetPrivateProfileString(QStringLiteral("KnownIDs"), QStringLiteral("Num"), QString(), 256, ini),
              QString());
    ASSERT_EQ(::truncate(path.c_str(), 17), 0);
    EXPECT_EQ(reader->GetPrivateProfileInt(QStringLiteral("KnownIDs"), QStringLiteral("Num"), -5, ini), 3u);
}
