// Both preference stores: 32-bit integers in, 32-bit integers out, anything else reads as the default.
#include "platform/PreferenceStore.h"
#include "platform/MemoryPreferenceStore.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The test's home folder outlives a run; every test starts from an empty store of its own title.
void ClearStore(const QString& title)
{
    QSettings settings(QStringLiteral("ZEL"), title);
    settings.clear();
    settings.sync();
}

TEST(SettingsPreferenceStoreTest, WrittenValuesReadBackAndLiveUnderZelAndTheTitle)
{
    const QString title = QStringLiteral("QuillonPrefRoundTrip");
    ClearStore(title);
    auto store = CreateSettingsPreferenceStore(title);
    EXPECT_TRUE(store->WriteProfileInt("Options", "MatchPolicy", 0x10F));
    EXPECT_TRUE(store->WriteProfileInt("Options", "AutoVerify", 0xFFFFFFFFu));
    EXPECT_EQ(store->GetProfileInt("Options", "AutoVerify", 0), 0xFFFFFFFFu);

    // In the ZEL/<title> file, group Options (a store made anew reads them: the program's start in
    // ApplicationTest's InitInstanceRunsTheWindowOnceWithPreferences...).
    QSettings settings(QStringLiteral("ZEL"), title);
    EXPECT_TRUE(settings.fileName().endsWith(QStringLiteral("/ZEL/QuillonPrefRoundTrip.conf")))
        << settings.fileName().toStdString();
    EXPECT_EQ(settings.value("Options/MatchPolicy").toInt(), 0x10F);
    EXPECT_TRUE(QFileInfo::exists(settings.fileName()));

    // Another title is another store.
    EXPECT_EQ(CreateSettingsPreferenceStore("OtherTitle")->GetProfileInt("Options", "MatchPolicy", 0), 0u);
}

TEST(SettingsPreferenceStoreTest, ValuesThatAreNotThirtyTwoBitIntegersReadAsTheDefault)
{
    const QString title = QStringLiteral("QuillonPrefForeign");
    ClearStore(title);
    const struct {
        const char* pszKey;
        QVariant value;
        uint32_t nExpected;
    } cases[] = {{"Text", "verify", 3u},          {"Wide", "4294967296", 3u},
                 {"Negative", "-2147483649", 3u}, {"List", QStringList{"1", "2"}, 3u},
                 {"Decimal", "261", 261u},        {"MinusOne", "-1", 0xFFFFFFFFu}};
    {
        QSettings settings(QStringLiteral("ZEL"), title);
        for (const auto& c : cases)
            settings.setValue(QStringLiteral("Options/") + c.pszKey, c.value);
    }
    auto store = CreateSettingsPreferenceStore(title);
    for (const auto& c : cases)
        EXPECT_EQ(store->GetProfileInt("Options", c.pszKey, 3), c.nExpected) << c.pszKey;
}

// A pipe where the store's file is would hold the program for ever: it is never opened, the values
// read as their defaults and nothing is written, until a regular file is back.
TEST(SettingsPreferenceStoreTest, PipeAtTheStoresPathIsNeverOpened)
{
    const QString title = QStringLiteral("QuillonPrefPipe");
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/ZEL";
    const QByteArray fifo = QFile::encodeName(folder + "/" + title + ".conf");
    QDir().mkpath(folder);
    QFile::remove(QString::fromUtf8(fifo));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    auto store = CreateSettingsPreferenceStore(title);
    EXPECT_EQ(store->GetProfileInt("Options", "MatchPolicy", 7), 7u);
    EXPECT_FALSE(store->WriteProfileInt("Options", "MatchPolicy", 0x10F));
    EXPECT_EQ(SettingsStoreProblem(title), QString::fromUtf8(fifo) + " is not a regular file");
    ::unlink(fifo.constData());
    EXPECT_EQ(SettingsStoreProblem(title), QString());
    EXPECT_TRUE(store->WriteProfileInt("Options", "MatchPolicy", 0x10F));
    ClearStore(title);
}

TEST(MemoryPreferenceStoreTest, SameReadingRuleAsTheSettingsStore)
{
    CMemoryPreferenceStore store;
    EXPECT_TRUE(store.WriteProfileInt("Options", "AutoVerify", 5));
    EXPECT_EQ(store.GetProfileInt("Options", "AutoVerify", 0), 5u);
    EXPECT_EQ(store.GetProfileInt("Other", "AutoVerify", 0), 0u);

    const std::tuple<const char*, QVariant, uint32_t> raw[] = {
        {"Wide", qulonglong(0x100000000ull), 7u}, {"Real", 2.0, 7u}, {"Max", qulonglong(0xFFFFFFFFull), 0xFFFFFFFFu}};
    for (const auto& [pszKey, value, nExpected] : raw) {
        store.SetRawValue("Options", pszKey, value);
        EXPECT_EQ(store.GetProfileInt("Options", pszKey, 7), nExpected) << pszKey;
    }

    store.SetFailWrites(true);
    EXPECT_FALSE(store.WriteProfileInt("Options", "AutoVerify", 1));
    EXPECT_EQ(store.GetProfileInt("Options", "AutoVerify", 0), 5u);
    EXPECT_EQ(store.WriteCount(), 2);
}

}  // namespace
