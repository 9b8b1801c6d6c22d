// ReadWholeFile: a regular file read in full, or nothing.
#include "platform/FileIo.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class ReadWholeFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override { std::free(m_pBuffer); }

    QString Write(const char* pszName, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(pszName);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(bytes), bytes.size());
        return path;
    }

    // A failure leaves the length 0 and no buffer, whatever the buffer pointer held before.
    void ExpectFailure(const QString& path)
    {
        m_pBuffer = reinterpret_cast<uint8_t*>(this);
        EXPECT_EQ(ReadWholeFile(path, m_pBuffer), 0) << path.toStdString();
        EXPECT_EQ(m_pBuffer, nullptr);
        m_pBuffer = nullptr;
    }

    QTemporaryDir m_dir;
    uint8_t* m_pBuffer = nullptr;
};

TEST_F(ReadWholeFileTest, ReadsTheBytesAndTwoZerosAfterThem)
{
    const QByteArray bytes("Chip\n\0\xff\x01", 8);
    ASSERT_EQ(ReadWholeFile(Write("data.bin", bytes), m_pBuffer), 8);
    ASSERT_NE(m_pBuffer, nullptr);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(m_pBuffer), 8), bytes);
    EXPECT_EQ(m_pBuffer[8], 0);
    EXPECT_EQ(m_pBuffer[9], 0);
}

// Empty, huge and non-regular files are tried with the other hostile kinds (tests/hostile).
TEST_F(ReadWholeFileTest, MissingFilesAndDevicesFail)
{
    ExpectFailure(m_dir.filePath("missing.bin"));
    ExpectFailure(QStringLiteral("/dev/null"));
}

TEST_F(ReadWholeFileTest, AShortReadFails)
{
    // Attribute files of sysfs state a size of a page but deliver fewer bytes.
    const QString path = QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled");
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 4096)
        GTEST_SKIP() << "no sysfs attribute file to read";
    ExpectFailure(path);
}

}  // namespace
