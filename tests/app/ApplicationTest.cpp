// The application object: title, executable directory, preference store and the one modal run.
#include "app/QuillonApp.h"
#include "platform/PreferenceStore.h"
#include "support/WindowFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <unistd.h>

TEST(ApplicationPaths, TitleIsTheFileNameWithoutExtensionAndTheExecutablePathIsResolved)
{
    EXPECT_EQ(ApplicationTitleFromPath(QStringLiteral("/usr/lib/quillon/Quillon")), QStringLiteral("Quillon"));
    EXPECT_EQ(ApplicationTitleFromPath(QStringLiteral("/tmp/my.tool.bin")), QStringLiteral("my.tool"));
    const QFileInfo info(ReadExecutablePath());
    EXPECT_TRUE(info.isAbsolute());
    EXPECT_FALSE(info.isSymLink());
    EXPECT_TRUE(info.isExecutable());
}

TEST_F(MainWindowTest, ModuleDirectoryKeepsItsTrailingSeparatorAndIsEmptyWhenUnreadable)
{
    CQuillonDlg window(env);
    EXPECT_TRUE(ResolveModuleDirectory(&window));
    EXPECT_EQ(window.m_strModuleDir, QStringLiteral("/opt/quillon/"));

    env.strExecutablePath.clear();
    CQuillonDlg unreadable(env);
    EXPECT_FALSE(ResolveModuleDirectory(&unreadable));
    EXPECT_TRUE(unreadable.m_strModuleDir.isEmpty());
    Open();
    EXPECT_EQ(Dlg().m_strIniPath, QStringLiteral("Quillon.ini"));
}

// The application runs the window once and returns false. Without a store of the caller's it keeps the
// preferences under its title (what the Options dialog's OK writes there is the Options test's).
TEST_F(MainWindowTest, InitInstanceRunsTheWindowOnceWithPreferencesUnderTheTitle)
{
    // A title of this run's own, so that earlier runs have stored nothing under it.
    const QString title = QStringLiteral("QuillonPrefsRun%1").arg(::getpid());
    CreateSettingsPreferenceStore(title)->WriteProfileInt(QStringLiteral("Options"), QStringLiteral("AutoVerify"), 1);
    PlugExample(kZa1200, u"/dev/hidraw0");
    env.pPrefs = nullptr;
    env.strAppTitle.clear();
    env.strExecutablePath = QStringLiteral("/opt/quillon/%1.exe").arg(title);
    CConsoleHostFactory factory(session);
    int nRuns = 0;
    bool bVerifyAtStart = false;
    factory.onCreated = [&](CConsoleHost& appHost) {
        ++nRuns;
        EXPECT_EQ(appHost.ComboGetCount(IDC_DEVICE_COMBO), 1);
        bVerifyAtStart = static_cast<CQuillonDlg&>(appHost.Dialog()).m_bAutoVerify;
        appHost.RequestClose();
    };
    CQuillonApp app;
    EXPECT_FALSE(app.InitInstance(factory, env));
    EXPECT_EQ(nRuns, 1);
    EXPECT_TRUE(bVerifyAtStart);
    EXPECT_EQ(env.strAppTitle, title);
    EXPECT_EQ(env.pPrefs, nullptr) << "the application's own store does not outlive it";
    EXPECT_EQ(notifier.nUnregistrations, 1);
    QSettings settings(QStringLiteral("ZEL"), title);
    settings.clear();
    settings.sync();
    QFile::remove(settings.fileName());
}

// The headless host delivers nothing after destruction: a worker may still post when the window is gone.
TEST_F(MainWindowTest, HostDropsPostsAfterDestroyAndStopsTimers)
{
    Open();
    EXPECT_EQ(Host().SetTimer(1, 1000), 1u);
    EXPECT_EQ(Host().SetTimer(0, 1000), 0u);
    Host().Destroy();
    EXPECT_TRUE(Host().ActiveTimers().empty());
    Message msg;
    msg.kind = MessageKind::Timer;
    Host().PostMessage(msg);
    EXPECT_EQ(Host().QueuedMessages(), 0u);
    EXPECT_EQ(Dlg().Host(), nullptr);
}
