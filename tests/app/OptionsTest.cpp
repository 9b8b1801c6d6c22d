// The Options dialog and the two stored preferences.
#include "support/WindowFixture.h"

namespace {

const QString kOptions = QStringLiteral("Options");

class OptionsTest : public MainWindowTest {
protected:
    struct Shown {
        std::map<int, int> checks;
        std::map<int, bool> enabled;
    };

    // Opens Config > Options; the answer sees the dialog as shown, may switch "Automatically verify"
    // and then presses OK or Cancel.
    Shown RunOptions(int nButton, bool bToggleVerify)
    {
        Shown shown;
        session.QueueChildAnswer(IDD_OPTIONS, [&](CConsoleHost& options) {
            for (int nId : {IDC_MATCH_VID, IDC_MATCH_PID, IDC_MATCH_VERSION, IDC_MATCH_SUBVERSION, IDC_MATCH_CHIPSET,
                            IDC_AUTO_VERIFY}) {
                shown.checks[nId] = options.GetCheck(nId);
                shown.enabled[nId] = options.IsDlgItemEnabled(nId);
            }
            if (bToggleVerify) {
                EXPECT_TRUE(options.Click(IDC_AUTO_VERIFY));
            }
            EXPECT_FALSE(options.Click(IDC_MATCH_VID)) << "the match boxes cannot be switched";
            return nButton;
        });
        EXPECT_TRUE(Host().ChooseMenuItem(ID_CONFIG_OPTIONS));
        EXPECT_EQ(session.PendingAnswers(), 0u);
        return shown;
    }
};

}  // namespace

TEST_F(OptionsTest, FirstUseOkWritesBothValues)
{
    Open();
    const int nWritesBefore = prefs.WriteCount();
    const Shown shown = RunOptions(IDOK, true);
    EXPECT_EQ(prefs.WriteCount(), nWritesBefore + 2);
    for (const auto& [nId, nCheck] : shown.checks)
        EXPECT_EQ(nCheck, 0) << nId;
    for (int nId : {IDC_MATCH_VID, IDC_MATCH_PID, IDC_MATCH_VERSION, IDC_MATCH_SUBVERSION, IDC_MATCH_CHIPSET})
        EXPECT_FALSE(shown.enabled.at(nId)) << nId;
    EXPECT_TRUE(shown.enabled.at(IDC_AUTO_VERIFY));
    EXPECT_TRUE(Dlg().m_bAutoVerify);
    EXPECT_EQ(prefs.GetProfileInt(kOptions, QStringLiteral("MatchPolicy"), 99), 0u);
    EXPECT_EQ(prefs.GetProfileInt(kOptions, QStringLiteral("AutoVerify"), 99), 1u);
}

TEST_F(OptionsTest, UnknownBitsAreDroppedOnOkAndKeptOnCancelAndFailedWritesKeepTheValues)
{
    prefs.WriteProfileInt(kOptions, QStringLiteral("MatchPolicy"), 0xFFFFFFFF);
    Open();
    const int nWritesBefore = prefs.WriteCount();
    const Shown shown = RunOptions(IDCANCEL, true);
    for (int nId : {IDC_MATCH_VID, IDC_MATCH_PID, IDC_MATCH_VERSION, IDC_MATCH_SUBVERSION, IDC_MATCH_CHIPSET})
        EXPECT_EQ(shown.checks.at(nId), 1) << nId;
    EXPECT_EQ(Dlg().m_nMatchPolicy, 0xFFFFFFFFu);
    EXPECT_FALSE(Dlg().m_bAutoVerify) << "Cancel after switching leaves the window's value";
    EXPECT_EQ(prefs.WriteCount(), nWritesBefore);

    RunOptions(IDOK, false);
    EXPECT_EQ(Dlg().m_nMatchPolicy, 0x10Fu);
    EXPECT_EQ(prefs.GetProfileInt(kOptions, QStringLiteral("MatchPolicy"), 0), 0x10Fu);

    // A failed write keeps the new values in force, without a message.
    prefs.SetFailWrites(true);
    RunOptions(IDOK, true);
    EXPECT_TRUE(Dlg().m_bAutoVerify);
    EXPECT_TRUE(session.MessageBoxes().empty());
}
