// Hostile files at the readers every program goes through (the whole file, Quillon.ini, an image's
// identity), every kind; then the main window on the headless host with a Quillon.ini beside the
// executable that cannot be read or holds an absurd count. Each ends in the ordinary outcome (an
// absent table), never a crash or a hang; ctest's time limit stands guard over the hangs.
#include "HostileFiles.h"

#include "app/Resource.h"
#include "image/ZelFirmwareApi.h"
#include "platform/FileIo.h"
#include "platform/ProfileReader.h"

#include <cstdlib>
#include <memory>

namespace {

const std::string kExampleZelDat = QUILLON_BINARY_DIR "/bin/zel.dat";
const std::string kExampleIni = QUILLON_SOURCE_DIR "/examples/Quillon.ini";

class HostileReaderTest : public ::testing::TestWithParam<HostileKind> {};

}  // namespace

// Nothing but random bytes is read whole; no reader finds a value or an identity in any of them.
TEST_P(HostileReaderTest, ReadersRefuseOrFindNothing)
{
    // Root reads a file of mode 000 all the same: as root that kind is only more random bytes.
    if (GetParam() == HostileKind::Unreadable && ::geteuid() == 0)
        GTEST_SKIP() << "running as root, which reads a file of mode 000; the Directory case is the file that "
                        "cannot be read";
    CHostileDir dir;
    const std::string path = dir.Make(GetParam(), "file");
    const QString qpath = QString::fromStdString(path);
    uint8_t* pBuffer = reinterpret_cast<uint8_t*>(this);
    const int32_t nRead = ReadWholeFile(qpath, pBuffer);
    EXPECT_EQ(nRead, GetParam() == HostileKind::RandomBytes ? 4096 : 0);
    if (nRead > 0)
        std::free(pBuffer);
    else
        EXPECT_EQ(pBuffer, nullptr);

    EXPECT_EQ(
        CreateFileProfileReader()->GetPrivateProfileInt(QStringLiteral("KnownIDs"), QStringLiteral("Num"), 7, qpath),
        7u);
    _ZEL_USB_DEV_INFO info{};
    EXPECT_FALSE(CZelFirmwareImage(std::filesystem::path(path)).ParseImageInfo(&info));
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostileReaderTest, ::testing::ValuesIn(AllHostileKinds()),
                         [](const auto& info) { return HostileKindName(info.param); });

// The profile reader's size limit: a Quillon.ini of 64 MiB is still read, one byte more reads as a
// missing file (the caller's defaults). (A file changed is read again:
// FileProfileReaderTest.EditsAreSeenAtTheNextRead.)
TEST(HostileProfileSizeTest, LargestReadableFile)
{
    CHostileDir dir;
    const std::string path = dir.WriteText("Quillon.ini", "[KnownIDs]\nNum=3\n");
    const QString ini = QString::fromStdString(path);
    std::unique_ptr<IProfileReader> reader = CreateFileProfileReader();
    auto num = [&] { return reader->GetPrivateProfileInt(QStringLiteral("KnownIDs"), QStringLiteral("Num"), -5, ini); };
    const off_t nLimit = off_t{64} << 20;

    ASSERT_EQ(::truncate(path.c_str(), nLimit), 0);  // the rest is one long line of zero bytes
    EXPECT_EQ(num(), 3u);
    ASSERT_EQ(::truncate(path.c_str(), nLimit + 1), 0);
    EXPECT_EQ(num(), 0xFFFFFFFBu);
    EXPECT_EQ(reader->GetPrivateProfileString(QStringLiteral("KnownIDs"), QStringLiteral("Num"), QString(), 256, ini),
              QString());
}

namespace {

// The window's data files live in a scratch folder and are read from disk.
class HostileWindowTest : public MainWindowTest {
protected:
    HostileWindowTest()
    {
        env.pProfile = m_fileProfile.get();
        env.strExecutablePath = QString::fromStdString(m_dir.Path("Quillon"));
    }

    // Whether each of the five tables of Quillon.ini is absent.
    std::vector<bool> IniTablesAbsent()
    {
        return {!dlg->m_pKnownIds, !dlg->m_pDfuPatchInfos, !dlg->m_pControllerNames, !dlg->m_pHdCodecNames,
                !dlg->m_pIisCodecNames};
    }

    CHostileDir m_dir;
    std::unique_ptr<IProfileReader> m_fileProfile = CreateFileProfileReader();
};

}  // namespace

// A Quillon.ini that nobody writes to: every table is absent, the window still comes up with its
// census, and a device's chipset is "Unknown". (zel.dat and images are read by ReadWholeFile and the
// image's identity alone, tried above; their consumers with an empty file: LoadFlashTableTest and
// OpenImageTest.)
TEST_F(HostileWindowTest, IniThatCannotBeReadGivesNoTables)
{
    m_dir.Make(HostileKind::Fifo, "Quillon.ini");
    m_dir.CopyFrom(kExampleZelDat, "zel.dat");
    PlugExample(kZa1200, u"/dev/hidraw0");
    Open();
    EXPECT_EQ(IniTablesAbsent(), std::vector<bool>(5, true));
    EXPECT_NE(dlg->m_pFlashInfo, nullptr);
    EXPECT_TRUE(TraceText().startsWith(QStringLiteral("Total 1 devices found!\r\n"))) << TraceText().toStdString();
    EXPECT_EQ(Text(IDC_DEV_CHIPSET), QStringLiteral("Unknown"));
}

// A name count of 2^31 - 1 would make a list of 2^31 names: the list is refused at once instead of being
// allocated or scanned key by key, and the other tables load. (The entry tables' count:
// ConfigurationTest.NoUsableCountMeansNoTable.)
TEST_F(HostileWindowTest, CountThatCannotBeAllocatedGivesNoTable)
{
    std::string text = ReadFileText(kExampleIni);
    const size_t nAt = text.find("\nControllerNum=");
    ASSERT_NE(nAt, std::string::npos);
    text.replace(nAt, text.find('\n', nAt + 1) - nAt, "\nControllerNum=2147483647");
    m_dir.WriteText("Quillon.ini", text);
    m_dir.CopyFrom(kExampleZelDat, "zel.dat");
    Open();
    EXPECT_EQ(IniTablesAbsent(), (std::vector<bool>{false, false, true, false, false}));
    EXPECT_NE(dlg->m_pFlashInfo, nullptr);
    EXPECT_TRUE(Boxes().empty());
}
