// The headless host's own rules: list selection bookkeeping, scripted modal answers and records.
#include "app/OptionsDlg.h"
#include "app/Resource.h"
#include "app/Resources.h"
#include "platform/console/ConsoleHost.h"

#include <gtest/gtest.h>

namespace {

// A dialog on the main window's template with no handlers of its own.
class CBareDialog : public CDialog {
public:
    CBareDialog() : CDialog(QuillonDialogTemplate()) {}
};

class ConsoleHostTest : public ::testing::Test {
protected:
    ConsoleHostTest() : host(session, dialog) { host.Create(); }
    CConsoleSession session;
    CBareDialog dialog;
    CConsoleHost host;
};

}  // namespace

TEST_F(ConsoleHostTest, SelectionFollowsItsEntryAndDeletingItClearsIt)
{
    for (const char* psz : {"a", "b", "c"})
        host.ComboAddString(IDC_DEVICE_COMBO, QString::fromUtf8(psz));
    host.ComboSetCurSel(IDC_DEVICE_COMBO, 1);
    host.ComboInsertString(IDC_DEVICE_COMBO, 0, QStringLiteral("z"));
    EXPECT_EQ(host.ComboGetCurSel(IDC_DEVICE_COMBO), 2);
    host.ComboDeleteString(IDC_DEVICE_COMBO, 0);
    EXPECT_EQ(host.ComboGetCurSel(IDC_DEVICE_COMBO), 1);
    EXPECT_EQ(host.GetDlgItemText(IDC_DEVICE_COMBO), QStringLiteral("b"));
    host.ComboDeleteString(IDC_DEVICE_COMBO, 1);
    EXPECT_EQ(host.ComboGetCurSel(IDC_DEVICE_COMBO), -1);
    host.ComboSetCurSel(IDC_DEVICE_COMBO, 7);
    EXPECT_EQ(host.ComboGetCurSel(IDC_DEVICE_COMBO), -1);
    EXPECT_EQ(host.ComboGetItemData(IDC_DEVICE_COMBO, 5), nullptr);
    EXPECT_EQ(host.ComboInsertString(IDC_DEVICE_COMBO, 9, QStringLiteral("x")), -1);
    EXPECT_EQ(host.ComboGetCount(IDC_DEVICE_COMBO), 2);
}

TEST_F(ConsoleHostTest, DisabledControlsAndMenuItemsTakeNoClicks)
{
    host.EnableDlgItem(IDC_START, false);
    EXPECT_FALSE(host.Click(IDC_START));
    host.EnableMenuItem(ID_FILE_OPEN_IMAGE, false);
    EXPECT_FALSE(host.ChooseMenuItem(ID_FILE_OPEN_IMAGE));
    EXPECT_TRUE(host.ChooseMenuItem(ID_CONFIG_OPTIONS));
    EXPECT_FALSE(host.ChooseMenuItem(12345));
    host.EnableMenuItem(0, false);   // the separator: nothing happens
    EXPECT_FALSE(host.IsMenuItemEnabled(0));
}

TEST_F(ConsoleHostTest, ProgressPositionStaysInRange)
{
    host.ProgressSetRange(IDC_PROGRESS, 0, 100);
    host.ProgressSetPos(IDC_PROGRESS, 150);
    EXPECT_EQ(host.ProgressGetPos(IDC_PROGRESS), 100);
    host.ProgressSetPos(IDC_PROGRESS, -5);
    EXPECT_EQ(host.ProgressGetPos(IDC_PROGRESS), 0);
}

TEST_F(ConsoleHostTest, FileDialogsTakeScriptedAnswersThenTheAnswererAndRecordEveryRequest)
{
    session.QueueOpenFileAnswer(QStringLiteral("/tmp/a.bin"));
    session.QueueOpenFileAnswer(std::nullopt);
    int nAsked = 0;
    session.SetFileAnswerer([&](bool bSave, const FileDialogRequest&, QString& path) {
        ++nAsked;
        path = QStringLiteral("/tmp/answered.bin");
        return bSave;
    });
    FileDialogRequest request;
    request.strFilter = QStringLiteral("X|*.x||");
    request.bOverwritePrompt = true;
    QString path;
    EXPECT_TRUE(host.GetOpenFileName(request, path));
    EXPECT_EQ(path, QStringLiteral("/tmp/a.bin"));
    EXPECT_FALSE(host.GetOpenFileName(request, path));
    EXPECT_EQ(path, QStringLiteral("/tmp/a.bin")) << "a cancelled dialog leaves the path alone";
    EXPECT_FALSE(host.GetOpenFileName(request, path));
    EXPECT_TRUE(host.GetSaveFileName(request, path));
    EXPECT_EQ(nAsked, 2);

    const auto records = session.FileDialogs();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_FALSE(records[0].bSave);
    EXPECT_EQ(records[0].request.strFilter, QStringLiteral("X|*.x||"));
    EXPECT_TRUE(records[0].request.bOverwritePrompt);
    EXPECT_TRUE(records[0].bAccepted);
    EXPECT_FALSE(records[1].bAccepted);
    EXPECT_TRUE(records[3].bSave);
    EXPECT_EQ(records[3].strPath, QStringLiteral("/tmp/answered.bin"));
}

TEST_F(ConsoleHostTest, SinksSeeMessageBoxesAndTraceText)
{
    std::vector<QString> boxes, traces;
    session.SetMessageBoxSink([&](const QString& text) { boxes.push_back(text); });
    session.SetTraceSink([&](const QString& text) { traces.push_back(text); });
    host.MessageBox(QStringLiteral("m"));
    host.EditAppendText(IDC_TRACE, QStringLiteral("t\r\n"));
    host.SetDlgItemText(IDC_TRACE, QString());
    EXPECT_EQ(boxes, std::vector<QString>{QStringLiteral("m")});
    EXPECT_EQ(traces, std::vector<QString>{QStringLiteral("t\r\n")});
    EXPECT_EQ(session.TraceTexts(), traces) << "the record outlives Clear Trace";
}

TEST_F(ConsoleHostTest, ChildDialogOkRunsItsDataExchange)
{
    COptionsDlg options;
    options.m_bMatchPid = 1;
    session.QueueChildAnswer(IDD_OPTIONS, [](CConsoleHost& child) {
        EXPECT_EQ(child.GetCheck(IDC_MATCH_PID), 1);
        child.SetCheck(IDC_AUTO_VERIFY, 1);
        return IDOK;
    });
    EXPECT_EQ(options.DoModal(dialog), IDOK);
    EXPECT_EQ(options.m_bVerify, 1);
    EXPECT_EQ(options.Host(), nullptr) << "detached after the run";
}

TEST_F(ConsoleHostTest, PostsAfterDestroyAreDroppedAndTimersStop)
{
    EXPECT_EQ(host.SetTimer(1, 1000), 1u);
    EXPECT_EQ(host.SetTimer(0, 1000), 0u);
    host.Destroy();
    EXPECT_TRUE(host.ActiveTimers().empty());
    Message msg;
    msg.kind = MessageKind::Timer;
    host.PostMessage(msg);
    EXPECT_EQ(host.QueuedMessages(), 0u);
    EXPECT_EQ(dialog.Host(), nullptr);
}

TEST_F(ConsoleHostTest, FocusStartsOnTheFirstEnabledTabStop)
{
    EXPECT_EQ(host.Focus(), IDC_DEVICE_COMBO);
}
