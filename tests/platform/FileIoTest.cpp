// ReadWholeFile: a regular file read in full, or nothing. Names as bytes; output files whole or not at all.
// RC4's key limits.
#include "platform/FileIo.h"
#include "platform/Crypto.h"
#include "platform/NativePath.h"
#include "platform/OutputFile.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// MD5 and RC4 are nettle's; the flash table's cipher test checks them end to end against cipher text
// computed elsewhere. Here: the key lengths RC4 refuses.
TEST(CryptoTest, Rc4KeyLimits)
{
    uint8_t zeros[257] = {};
    uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_FALSE(Rc4Crypt(zeros, 0, data, sizeof(data)));
    EXPECT_FALSE(Rc4Crypt(zeros, 257, data, sizeof(data)));
    EXPECT_FALSE(Rc4Crypt(nullptr, 16, data, sizeof(data)));
    EXPECT_EQ(data[0], 1);
    EXPECT_TRUE(Rc4Crypt(zeros, 256, data, sizeof(data)));
    EXPECT_NE(data[0], 1);
    EXPECT_TRUE(Rc4Crypt(zeros, 1, nullptr, 0));
}

class ReadWholeFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override { std::free(m_pBuffer); }

    QTemporaryDir m_dir;
    uint8_t* m_pBuffer = nullptr;
};

TEST_F(ReadWholeFileTest, ReadsTheBytesAndTwoZerosAfterThem)
{
    const QByteArray bytes("Chip\n\0\xff\x01", 8);
    QFile file(m_dir.filePath("data.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    ASSERT_EQ(ReadWholeFile(file.fileName(), m_pBuffer), 8);
    ASSERT_NE(m_pBuffer, nullptr);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(m_pBuffer), 8), bytes);
    EXPECT_EQ(m_pBuffer[8], 0);
    EXPECT_EQ(m_pBuffer[9], 0);
    // Files that cannot be read whole: HostileReaderTest tries every kind (a link loop fails to open
    // as a missing file does, a folder and a pipe are no regular file as a device is not).
}

TEST_F(ReadWholeFileTest, AShortReadFails)
{
    // Attribute files of sysfs state a size of a page but deliver fewer bytes.
    const QString path = QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled");
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 4096)
        GTEST_SKIP() << "no sysfs attribute file to read";
    // A failure leaves the length 0 and no buffer, whatever the buffer pointer held before.
    m_pBuffer = reinterpret_cast<uint8_t*>(this);
    EXPECT_EQ(ReadWholeFile(path, m_pBuffer), 0);
    EXPECT_EQ(m_pBuffer, nullptr);
    m_pBuffer = nullptr;
}

}  // namespace

// Names are bytes: every byte sequence survives the way through a QString, and what is not UTF-8 is
// printed "\xNN".
TEST(NativePathTest, BytesSurviveAndPrintEscaped)
{
    struct Case {
        QByteArray bytes;
        const char* pszPrinted;
    };
    const Case cases[] = {
        {"up\xff\xfe.bin", "up\\xff\\xfe.bin"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},       // valid UTF-8 stays text
        {"\xc3(", "\\xc3("},                  // a cut sequence
        {"\xed\xb2\x80", "\\xed\\xb2\\x80"},  // an encoded surrogate is no UTF-8
        {"\xf0\x9f\x98\x80\x80", "\xf0\x9f\x98\x80\\x80"},
    };
    for (const Case& c : cases) {
        const QString path = PathFromNative(c.bytes);
        EXPECT_EQ(PathToNative(path), c.bytes) << c.pszPrinted;
        EXPECT_EQ(PrintableText(path), c.pszPrinted);
    }
}

// An output file takes its name whole or not at all, and never over something it was not allowed to
// replace, even something that appears while it is written.
TEST(OutputFileTest, NameTakenWholeOrNotAtAll)
{
    QTemporaryDir dir;
    const std::string target = dir.filePath("out.bin").toStdString();
    const QString path = PathFromNative(target);
    auto put = [&](const char* pszText) {
        ::unlink(target.c_str());
        if (pszText != nullptr) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(pszText);
        }
    };
    struct Case {
        const char* pszBefore;  // null: no file
        bool bReplace;
        const char* pszAppears;  // written by someone else before the commit
        bool bCommitted;
        const char* pszAfter;
    };
    const Case cases[] = {
        {nullptr, false, nullptr, true, "new"},
        {"old", true, nullptr, true, "new"},
        {nullptr, false, "theirs", false, "theirs"},
        {nullptr, true, "theirs", false, "theirs"},  // nothing was there to replace when it was asked
    };
    for (const Case& c : cases) {
        put(c.pszBefore);
        COutputFile file;
        ASSERT_TRUE(file.Create(path, c.bReplace)) << file.Error();
        ASSERT_TRUE(file.Write("new", 3));
        if (c.pszAppears != nullptr)
            put(c.pszAppears);
        EXPECT_EQ(file.Commit(), c.bCommitted) << file.Error();
        QFile result(path);
        ASSERT_TRUE(result.open(QIODevice::ReadOnly));
        EXPECT_EQ(result.readAll(), QByteArray(c.pszAfter));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);  // no temporary file left
    }
    put("old");
    COutputFile refused;
    EXPECT_FALSE(refused.Create(path, false));
    EXPECT_EQ(refused.Error(), "exists");
}
