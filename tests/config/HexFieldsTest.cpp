// ScanHexFields: "%x, %x, ..." as the table entries are written.
#include "config/Configuration.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ScanHexFieldsTest, ReadsUpToTheFirstMisfit)
{
    constexpr uint32_t kUntouched = 0xAAAAAAAA;
    const struct {
        const char16_t* pszText;
        int nFields;
        int nRead;
        std::vector<uint32_t> expected;  // the whole value array afterwards
    } cases[] = {
        {u"1, 2, 3", 3, 3, {1, 2, 3}},
        {u"0x2fe3,0X1200,  ff000001", 3, 3, {0x2fe3, 0x1200, 0xff000001}},
        {u"1,\t2", 2, 2, {1, 2}},
        {u"  7, 8", 2, 2, {7, 8}},
        {u"1 , 2, 3", 3, 1, {1, kUntouched, kUntouched}},  // a blank before the comma ends the scan
        {u"1,,2", 3, 1, {1, kUntouched, kUntouched}},
        {u"1, 2, 3, 4", 2, 2, {1, 2}},
        {u"5", 3, 1, {5, kUntouched, kUntouched}},
        {u"", 2, 0, {kUntouched, kUntouched}},
        {u"g1, 2", 2, 0, {kUntouched, kUntouched}},
        {u"0x, 1", 2, 1, {0, kUntouched}},  // "0" is read, the "x" does not fit
        {u"-1, +2", 2, 2, {0xFFFFFFFF, 2}},
        {u"123456789, 1", 2, 2, {0x23456789, 1}},  // low 32 bits kept
        {u"12ab7z, 1", 2, 1, {0x12ab7, kUntouched}},
    };
    for (const auto& c : cases) {
        const std::string text = QString::fromUtf16(c.pszText).toStdString();
        std::vector<uint32_t> values(c.expected.size(), kUntouched);
        EXPECT_EQ(ScanHexFields(c.pszText, values.data(), c.nFields), c.nRead) << text;
        EXPECT_EQ(values, c.expected) << text;
    }
}

}  // namespace
