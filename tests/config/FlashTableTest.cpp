// The flash chip table: line rules, the name field, record bytes, the cipher and loading zel.dat.
#include "ConfigFixture.h"

#include "config/FlashTable.h"

#include <QFile>

#include <cstdlib>

namespace {

struct FreeTable {
    void operator()(_FLASH_INFO* p) const { std::free(p); }
};
using Table = std::unique_ptr<_FLASH_INFO, FreeTable>;

Table Parse(const QByteArray& text, int& nParsed)
{
    return Table(ParseFlashTableText(text.constData(), nParsed));  // QByteArray is zero-terminated
}

std::string Name(const _FLASH_INFO& record)
{
    return std::string(record.szName);
}

TEST(FlashTableTextTest, NextLineFindsTheNextNonBlankLine)
{
    const char* pText = "Chip header\n\n \t\r\n  W25Q16, 1\r\nlast";
    const char* pLine = NextLine(pText);
    ASSERT_NE(pLine, nullptr);
    EXPECT_EQ(std::string(pLine, 6), "W25Q16");
    pLine = NextLine(pLine);
    EXPECT_STREQ(pLine, "last");
    pLine = NextLine(pLine);  // a last line without a line end ends at the end of the text
    ASSERT_NE(pLine, nullptr);
    EXPECT_EQ(*pLine, '\0');
    EXPECT_EQ(NextLine(pLine), nullptr);
    EXPECT_EQ(NextLine(" \n\t "), nullptr);
    EXPECT_EQ(NextLine(nullptr), nullptr);
}

// The name is trimmed and keeps 255 characters, the rest of the buffer zeros. Without a comma on the line
// the name runs on to the next comma, wherever it is.
TEST(FlashTableTextTest, TakeFirstFieldTrimsTheNameAndKeeps255Characters)
{
    const struct {
        std::string line, name, rest;
    } cases[] = {{std::string(300, 'N') + ", 5", std::string(255, 'N'), "5"},
                 {"   , 7", "", "7"},
                 {"NoComma\nW25Q16, 1", "NoComma\nW25Q16", "1"},
                 {"tail  ", "tail", ""}};
    for (const auto& c : cases) {
        char szName[256];
        std::memset(szName, 'z', sizeof(szName));
        EXPECT_EQ(TakeFirstField(c.line.c_str(), szName), c.rest) << c.line;
        EXPECT_EQ(szName, c.name);
        EXPECT_TRUE(std::all_of(szName + c.name.size(), szName + 256, [](char ch) { return ch == '\0'; })) << c.line;
    }
}

TEST(FlashTableTextTest, AFullChipLineGivesTheseBytes)
{
    int nParsed = 0;
    Table table = Parse("Chip header, never parsed, 1, 2\n"
                        "  Winbond W25Q16JV , 0xEF4015, 0x0800, 0x1000, 0x03, 0x06, 0x04, 0x05, 0x01, 0x03, 0x0B, "
                        "0x02, 0x20, 0x52, 0xD8, 0xC7, 0x9F, 0xB9, 0xAB, 0x90, 0x35, 0x50, 0x00\n",
                        nParsed);
    ASSERT_TRUE(table);
    const _FLASH_INFO& record = table.get()[0];
    EXPECT_EQ(Name(record), "Winbond W25Q16JV");
    EXPECT_EQ(BytesOf(reinterpret_cast<const uint8_t*>(&record) + 256, 27),
              (std::vector<uint8_t>{0x00, 0xEF, 0x40, 0x15, 0x08, 0x00, 0x10, 0x00, 0x03, 0x06, 0x04, 0x05, 0x01, 0x03,
                                    0x0B, 0x02, 0x20, 0x52, 0xD8, 0xC7, 0x9F, 0xB9, 0xAB, 0x90, 0x35, 0x50, 0x00}));
}

TEST(FlashTableTextTest, ShortAndOverWideLines)
{
    int nParsed = 0;
    // Three numbers; then 0x1ff in an 8-bit place, 0x12345 in a 16-bit one and 0x123456789 in the first.
    Table table = Parse("Chip\nA, 1, 2, 3\nB, 123456789, 12345, 0x10, 1ff, 0x06\n", nParsed);
    ASSERT_TRUE(table);
    std::vector<uint8_t> expectedA(27, 0);
    expectedA[3] = 0x01;
    expectedA[5] = 0x02;
    expectedA[7] = 0x03;
    EXPECT_EQ(BytesOf(table.get()[0].byJedecId, 27), expectedA);
    std::vector<uint8_t> expectedB(27, 0);
    const uint8_t head[] = {0x23, 0x45, 0x67, 0x89, 0x23, 0x45, 0x00, 0x10, 0xff, 0x06};
    std::copy(std::begin(head), std::end(head), expectedB.begin());
    EXPECT_EQ(BytesOf(table.get()[1].byJedecId, 27), expectedB);

    // A trailing comma does not let the scan run into the next line, where "C" would read as 0xC.
    table = Parse("Chip\nA, 1, 2,\nC, 3\n", nParsed);
    ASSERT_TRUE(table);
    EXPECT_EQ(BytesOf(table.get()[0].bySectorSize, 2), (std::vector<uint8_t>{0, 0}));
}

TEST(FlashTableTextTest, LineRules)
{
    const struct {
        const char* pszCase;
        QByteArray text;
        int nRecords;                    // L + 1
        std::vector<std::string> names;  // of the parsed records, in order
        std::vector<uint32_t> jedec;     // first number of each parsed record
    } cases[] = {
        // NextLineFindsTheNextNonBlankLine tries the kinds of line one by one.
        {"blank lines, CR LF, no end", "Chip\r\n\nA, 1\r\n  \t\n\r\nB, 2", 6, {"A", "B"}, {1, 2}},
        {"zero byte ends the text", QByteArray("Chip\nA, 1\n\0B, 2\nC, 3\n", 21), 3, {"A"}, {1}},
        {"comma-less line", "Chip\nNoComma\nW25Q16, 5\n", 4, {"NoComma\nW25Q16", "W25Q16"}, {5, 5}},
    };
    for (const auto& c : cases) {
        int nParsed = -1;
        Table table(ParseFlashTableText(c.text.constData(), nParsed));
        ASSERT_TRUE(table) << c.pszCase;
        ASSERT_EQ(nParsed, static_cast<int>(c.names.size())) << c.pszCase;
        for (int i = 0; i < nParsed; ++i) {
            const _FLASH_INFO& record = table.get()[i];
            EXPECT_EQ(Name(record), c.names[static_cast<size_t>(i)]) << c.pszCase;
            const uint32_t jedec = uint32_t(record.byJedecId[0]) << 24 | uint32_t(record.byJedecId[1]) << 16 |
                                   uint32_t(record.byJedecId[2]) << 8 | record.byJedecId[3];
            EXPECT_EQ(jedec, c.jedec[static_cast<size_t>(i)]) << c.pszCase;
        }
        for (int i = nParsed; i < c.nRecords; ++i)
            EXPECT_TRUE(IsAllZero(table.get()[i])) << c.pszCase << " record " << i;
    }
}

TEST(FlashTableTextTest, TextsThatAreNoTable)
{
    int nParsed = -1;
    EXPECT_FALSE(Parse("chip\nA, 1\n", nParsed));
    EXPECT_FALSE(Parse("Chi", nParsed));
    EXPECT_FALSE(Parse("Chip table without a line end", nParsed));
    EXPECT_EQ(nParsed, 0);
    // A header with blank lines only: LoadFlashTableTest.HeaderWithoutChipsLeavesAnEmptyTableAndFalse.
}

TEST(FlashCipherTest, KeyIsTheMd5OfThePasswordAndTheCipherIsRc4)
{
    // Cipher text computed independently of this code base, with the MD5 digest of the password as RC4 key.
    QByteArray cipher = QByteArray::fromHex("62a86afc1532213a95e7e35edf075abdb7cf7d3473e0");
    ASSERT_TRUE(DecryptFlashTable(reinterpret_cast<uint8_t*>(cipher.data()), static_cast<int32_t>(cipher.size())));
    EXPECT_EQ(cipher, "Chip\nW25Q16, 0xEF4015\n");
    // Encryption is the same RC4 pass: LoadFlashTableTest loads what EncryptFlashTable wrote.
    EXPECT_FALSE(DecryptFlashTable(reinterpret_cast<uint8_t*>(cipher.data()), -1));
}

class LoadFlashTableTest : public ConfigFixture {
protected:
    void WriteZelDat(QByteArray bytes, bool bEncrypt)
    {
        if (bEncrypt) {
            ASSERT_TRUE(
                EncryptFlashTable(reinterpret_cast<uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size())));
        }
        QFile file(Dlg()->m_strModuleDir + "zel.dat");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
};

// No zel.dat, one not encrypted and an empty one (the hostile kinds of file are tried at ReadWholeFile
// by HostileReaderTest; texts that are no table: FlashTableTextTest).
TEST_F(LoadFlashTableTest, FilesThatGiveNoTable)
{
    const std::pair<const char*, bool> files[] = {{nullptr, false}, {"Chip\nW25Q80DV, 0xEF4014\n", false}, {"", false}};
    for (const auto& [pszText, bEncrypt] : files) {
        if (pszText != nullptr)
            WriteZelDat(pszText, bEncrypt);
        EXPECT_FALSE(LoadFlashTable(Dlg())) << (pszText ? pszText : "no file");
        EXPECT_EQ(Dlg()->m_pFlashInfo, nullptr);
    }
}

TEST_F(LoadFlashTableTest, HeaderWithoutChipsLeavesAnEmptyTableAndFalse)
{
    WriteZelDat("Chip\n\n", true);
    EXPECT_FALSE(LoadFlashTable(Dlg()));
    ASSERT_NE(Dlg()->m_pFlashInfo, nullptr);
    EXPECT_TRUE(IsAllZero(Dlg()->m_pFlashInfo[0]));
}

}  // namespace
