// Filters and default extensions of the file dialogs.
#include "platform/qt/FileFilter.h"

#include <gtest/gtest.h>

namespace {

struct FilterCase {
    const char* pszFilter;
    QStringList expected;
};

TEST(FileFilterTest, PairsBecomeQtNameFilters)
{
    const FilterCase cases[] = {
        {"Firmware Files (*.bin)|*.bin|All Files (*.*)|*.*||", {"Firmware Files (*.bin)", "All Files (*)"}},
        {"Images (*.bin;*.img)|*.bin; *.img|", {"Images (*.bin *.img)"}},
        {"Everything|*.*;*||", {"Everything (*)"}},
        {"First|*.a|Broken|", {"First (*.a)"}},
        {"", {"All files (*)"}},
    };
    for (const FilterCase& c : cases)
        EXPECT_EQ(QtNameFilters(QString::fromUtf8(c.pszFilter)), c.expected) << c.pszFilter;
}

TEST(FileFilterTest, DefaultExtensionOnlyWhenTheNameHasNone)
{
    struct Case {
        const char* pszPath;
        const char* pszExt;
        const char* pszExpected;
    };
    const Case cases[] = {
        {"/tmp/upload", "bin", "/tmp/upload.bin"},
        {"/tmp/upload", ".bin", "/tmp/upload.bin"},
        {"/tmp/upload.img", "bin", "/tmp/upload.img"},
        {"/tmp/v1.2/upload", "bin", "/tmp/v1.2/upload.bin"},
        {"/tmp/upload.", "bin", "/tmp/upload."},
        {"/tmp/upload", "", "/tmp/upload"},
        {"", "bin", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WithDefaultExtension(QString::fromUtf8(c.pszPath), QString::fromUtf8(c.pszExt)),
                  QString::fromUtf8(c.pszExpected))
            << c.pszPath << " + " << c.pszExt;
    }
}

}  // namespace
