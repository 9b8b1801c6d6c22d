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
    EXPECT_EQ(ApplicationTitleFromPath(QStringLiteral("/tmp/Quillon.exe")), QStringLiteral("Quillon"));
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

    // A path far beyond the old 260-unit limit is taken whole.
    env.strExecutablePath = QStringLiteral("/") + QString(300, QLatin1Char('d')) + QStringLiteral("/Quillon");
    EXPECT_TRUE(ResolveModuleDirectory(&window));
    EXPECT_EQ(window.m_strModuleDir.size(), 302);

    env.strExecutablePath.clear();
    CQuillonDlg unreadable(env);
    EXPECT_FALSE(ResolveModuleDirectory(&unreadable));
    EXPECT_TRUE(unreadable.m_strModuleDir.isEmpty());
    Open();
    EXPECT_EQ(Dlg().m_strIniPath, QStringLiteral("Quillon.ini"));
}

// The application runs the window once per start and returns false. Without a store of the caller's it
// keeps the preferences under its title, and a value written by OK is read back at the next start.
TEST_F(MainWindowTest, InitInstanceRunsTheWindowOnceWithPreferencesUnderTheTitleAcrossRuns)
{
    // A title of this run's own, so that earlier runs have stored nothing under it.
    const QString title = QStringLiteral("QuillonPrefsRun%1").arg(::getpid());
    PlugExample(kZa1200, u"/dev/hidraw0");
    env.pPrefs = nullptr;
    env.strAppTitle.clear();
    env.strExecutablePath = QStringLiteral("/opt/quillon/%1.exe").arg(title);
    CConsoleHostFactory factory(session);
    int nRuns = 0;
    bool bVerifyAtStart = true;
    factory.onCreated = [&](CConsoleHost& appHost) {
        ++nRuns;
        EXPECT_EQ(appHost.ComboGetCount(IDC_DEVICE_COMBO), 1);
        auto& window = static_cast<CQuillonDlg&>(appHost.Dialog());
        bVerifyAtStart = window.m_bAutoVerify;
        if (!bVerifyAtStart) {
            session.QueueChildAnswer(IDD_OPTIONS, [](CConsoleHost& options) {
                options.Click(IDC_AUTO_VERIFY);
                return IDOK;
            });
            appHost.ChooseMenuItem(ID_CONFIG_OPTIONS);
        }
        appHost.RequestClose();
    };
    CQuillonApp app;
    EXPECT_FALSE(app.InitInstance(factory, env));
    EXPECT_EQ(nRuns, 1);
    EXPECT_FALSE(bVerifyAtStart) << "first start: nothing stored";
    EXPECT_EQ(env.strAppTitle, title);
    EXPECT_EQ(env.pPrefs, nullptr) << "the application's own store does not outlive it";
    EXPECT_EQ(notifier.nUnregistrations, 1);
    EXPECT_EQ(backend.log.back(), "ReleaseAll");

    app.InitInstance(factory, env);
    EXPECT_TRUE(bVerifyAtStart);
    EXPECT_EQ(
        CreateSettingsPreferenceStore(title)->GetProfileInt(QStringLiteral("Options"), QStringLiteral("AutoVerify"), 0),
        1u);
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
