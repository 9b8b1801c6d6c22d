// The profile readers (file and memory) against the same rules, plus what only the file reader does:
// encodings on disk, noticing changes, refusing what is not a regular file. Names, comments, blanks,
// quotes, integers and line ends are read as Windows reads them: tests/wine compares the file reader
// with the Windows profile API on those edge cases, value for value; here are the rules it does not
// reach (its deliberate differences, capacities other than 256, the memory reader, large files).
#include "platform/ProfileReader.h"
#include "platform/MemoryProfileReader.h"

#include "support/ParamNames.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <sys/time.h>

namespace {

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Sets a file's modification time explicitly, so that a change of content is visible however coarse the
// file system's clock is.
void SetModifiedTime(const QString& path, time_t seconds)
{
    timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimes(QFile::encodeName(path).constData(), times), 0);
}

// A reader under test and a way to put a file's bytes where it reads them.
struct ReaderUnderTest {
    const char* pszName;
    std::function<std::unique_ptr<IProfileReader>()> create;
};

class ProfileRulesTest : public ::testing::TestWithParam<ReaderUnderTest> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath("Quillon.ini");
        m_reader = GetParam().create();
    }

    void SetText(const QByteArray& bytes)
    {
        if (auto* pMemory = dynamic_cast<CMemoryProfileReader*>(m_reader.get()))
            pMemory->SetFile(m_path, bytes);
        else
            ASSERT_TRUE(WriteBytes(m_path, bytes));
    }

    QString Str(const char* section, const char* key, const QString& def = QStringLiteral("<default>"),
                int nCapacity = 256)
    {
        return m_reader->GetPrivateProfileString(section, key, def, nCapacity, m_path);
    }
    uint32_t Int(const char* section, const char* key, int32_t def = 777)
    {
        return m_reader->GetPrivateProfileInt(section, key, def, m_path);
    }

    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<IProfileReader> m_reader;
};

// The rest of the integer rules (bases, digits past the base, signs, defaults) are edge cases of the
// comparison with Windows, which counts on these rows for blanks and a sign inside quotes, quotes, a
// blank ending the number and the wrap.
TEST_P(ProfileRulesTest, IntegerReading)
{
    const struct {
        const char* pszValue;
        uint32_t nExpected;
    } cases[] = {
        {"0xa", 0xAu}, {"\" -0x10\"", 0xFFFFFFF0u}, {"\"42\"", 42u}, {"1 2", 1u}, {"4294967297", 1u},
    };
    QByteArray text = "[S]\n";
    for (size_t i = 0; i < std::size(cases); ++i)
        text += "K" + QByteArray::number(static_cast<int>(i)) + "=" + cases[i].pszValue + "\n";
    SetText(text);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const QByteArray key = "K" + QByteArray::number(static_cast<int>(i));
        EXPECT_EQ(Int("S", key.constData()), cases[i].nExpected) << cases[i].pszValue;
    }
}

TEST_P(ProfileRulesTest, StringsAreCutToCapacityMinusOne)
{
    // 254 ASCII characters, then U+1F600 (a surrogate pair in UTF-16) straddling the cut.
    const QByteArray straddling = QByteArray(254, 'a') + "\xF0\x9F\x98\x80" + "tail";
    SetText("[S]\nPair=" + straddling + "\nShort=abc\n");
    EXPECT_EQ(Str("S", "Pair"), QString(254, u'a'));  // never half a character
    EXPECT_EQ(Str("S", "Short", "", 4), "abc");
    EXPECT_EQ(Str("S", "Short", "", 3), "ab");
    EXPECT_EQ(Str("S", "Short", "", 1), "");
    EXPECT_EQ(Str("S", "Missing", QString(300, u'd')), QString(255, u'd'));
}

// Unmarked UTF-8 (Windows would take the system's code page) and letter case folded beyond ASCII are
// deliberate differences; the marked encodings and Windows-1252 are edge cases of the comparison.
TEST_P(ProfileRulesTest, Encodings)
{
    SetText("[Chipset\xC3\x9C]\nName=Z\xC3\xA4hler \xE2\x82\xAC\xE0\xA4\x85\n");
    EXPECT_EQ(Str("chipset\u00fc", "name"), QStringLiteral("Z\u00e4hler \u20ac\u0905"));
    // A byte that leads no UTF-8 character makes the text Windows-1252.
    SetText("[S]\nName=\x80\xFF\n");
    EXPECT_EQ(Str("S", "Name"), QStringLiteral("\u20ac\u00ff"));
}

// Every line counts when the index is sized, also one ended by CR alone, as every line here is.
TEST_P(ProfileRulesTest, ManyEntriesAreAllFound)
{
    QByteArray text = "[KnownIDs]\rNum=20000\r";
    for (int i = 0; i < 20000; ++i)
        text += "ID" + QByteArray::number(i) + "=0x2fe3, 0x" + QByteArray::number(i, 16) + ", 0\r";
    SetText(text);
    EXPECT_EQ(Int("KnownIDs", "Num"), 20000u);
    EXPECT_EQ(Str("KnownIDs", "ID0"), "0x2fe3, 0x0, 0");
    EXPECT_EQ(Str("KnownIDs", "ID19999"), "0x2fe3, 0x4e1f, 0");
    // Out of file order, repeated, and past the end.
    for (int i : {17, 16, 16, 3, 18})
        EXPECT_EQ(Str("KnownIDs", QByteArray("ID" + QByteArray::number(i)).constData()),
                  "0x2fe3, 0x" + QString::number(i, 16) + ", 0");
    EXPECT_EQ(Str("KnownIDs", "ID20000"), "<default>");
}

std::unique_ptr<IProfileReader> CreateMemoryReader()
{
    return std::make_unique<CMemoryProfileReader>();
}

INSTANTIATE_TEST_SUITE_P(Readers, ProfileRulesTest,
                         ::testing::Values(ReaderUnderTest{"File", CreateFileProfileReader},
                                           ReaderUnderTest{"Memory", CreateMemoryReader}),
                         RowName());

class FileProfileReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath("Quillon.ini");
    }
    uint32_t Int(const char* key) { return m_reader->GetPrivateProfileInt("S", key, 777, m_path); }

    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<IProfileReader> m_reader = CreateFileProfileReader();
};

TEST_F(FileProfileReaderTest, EditsAreSeenAtTheNextRead)
{
    ASSERT_TRUE(WriteBytes(m_path, "[S]\nA=1\n"));
    SetModifiedTime(m_path, 1000000);
    EXPECT_EQ(Int("A"), 1u);

    // Same size, new content and time.
    ASSERT_TRUE(WriteBytes(m_path, "[S]\nA=2\n"));
    SetModifiedTime(m_path, 1000001);
    EXPECT_EQ(Int("A"), 2u);

    // New size, time set back to the first one.
    ASSERT_TRUE(WriteBytes(m_path, "[S]\nA=345\n"));
    SetModifiedTime(m_path, 1000000);
    EXPECT_EQ(Int("A"), 345u);

    // Removed.
    ASSERT_TRUE(QFile::remove(m_path));
    EXPECT_EQ(Int("A"), 777u);
}

TEST(MemoryProfileReaderTest, CountsReadsAndForgetsRemovedFiles)
{
    CMemoryProfileReader reader;
    reader.SetFile("/x/Quillon.ini", "[S]\nA=1\n");
    EXPECT_EQ(reader.GetPrivateProfileInt("S", "A", 0, "/x/Quillon.ini"), 1u);
    EXPECT_EQ(reader.GetPrivateProfileString("S", "A", "", 256, "/x/other.ini"), "");
    EXPECT_EQ(reader.ReadCount(), 2);
    reader.RemoveFile("/x/Quillon.ini");
    EXPECT_EQ(reader.GetPrivateProfileInt("S", "A", 5, "/x/Quillon.ini"), 5u);
}

}  // namespace
