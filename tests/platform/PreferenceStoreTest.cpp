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
    EXPECT_EQ(store->GetProfileInt("Options", "MatchPolicy", 0), 0u);  // first use: nothing stored
    EXPECT_TRUE(store->WriteProfileInt("Options", "MatchPolicy", 0x10F));
    EXPECT_TRUE(store->WriteProfileInt("Options", "AutoVerify", 0xFFFFFFFFu));
    EXPECT_EQ(store->GetProfileInt("Options", "MatchPolicy", 0), 0x10Fu);
    EXPECT_EQ(store->GetProfileInt("Options", "AutoVerify", 0), 0xFFFFFFFFu);

    // A fresh store (the next start of the program) sees them too, in the ZEL/<title> file, group Options.
    EXPECT_EQ(CreateSettingsPreferenceStore(title)->GetProfileInt("Options", "MatchPolicy", 0), 0x10Fu);
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
    {
        QSettings settings(QStringLiteral("ZEL"), title);
        settings.setValue("Options/Text", "verify");
        settings.setValue("Options/Fraction", "1.5");
        settings.setValue("Options/Wide", "4294967296");
        settings.setValue("Options/Negative", "-2147483649");
        settings.setValue("Options/Decimal", "261");
        settings.setValue("Options/MinusOne", "-1");
        settings.setValue("Options/List", QStringList{"1", "2"});
    }
    auto store = CreateSettingsPreferenceStore(title);
    EXPECT_EQ(store->GetProfileInt("Options", "Text", 3), 3u);
    EXPECT_EQ(store->GetProfileInt("Options", "Fraction", 3), 3u);
    EXPECT_EQ(store->GetProfileInt("Options", "Wide", 3), 3u);
    EXPECT_EQ(store->GetProfileInt("Options", "Negative", 3), 3u);
    EXPECT_EQ(store->GetProfileInt("Options", "List", 3), 3u);
    EXPECT_EQ(store->GetProfileInt("Options", "Decimal", 3), 261u);
    EXPECT_EQ(store->GetProfileInt("Options", "MinusOne", 3), 0xFFFFFFFFu);
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
    EXPECT_EQ(store.GetProfileInt("Options", "AutoVerify", 0), 0u);
    EXPECT_TRUE(store.WriteProfileInt("Options", "AutoVerify", 5));
    EXPECT_EQ(store.GetProfileInt("Options", "AutoVerify", 0), 5u);
    EXPECT_EQ(store.GetProfileInt("Other", "AutoVerify", 0), 0u);

    store.SetRawValue("Options", "Wide", QVariant(qulonglong(0x100000000ull)));
    store.SetRawValue("Options", "Real", QVariant(2.0));
    store.SetRawValue("Options", "Text", QVariant(QStringLiteral("12")));
    store.SetRawValue("Options", "Max", QVariant(qulonglong(0xFFFFFFFFull)));
    EXPECT_EQ(store.GetProfileInt("Options", "Wide", 7), 7u);
    EXPECT_EQ(store.GetProfileInt("Options", "Real", 7), 7u);
    EXPECT_EQ(store.GetProfileInt("Options", "Text", 7), 12u);
    EXPECT_EQ(store.GetProfileInt("Options", "Max", 7), 0xFFFFFFFFu);

    store.SetFailWrites(true);
    EXPECT_FALSE(store.WriteProfileInt("Options", "AutoVerify", 1));
    EXPECT_EQ(store.GetProfileInt("Options", "AutoVerify", 0), 5u);
    EXPECT_EQ(store.WriteCount(), 2);
}

}  // namespace
