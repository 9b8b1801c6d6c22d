// The headless host's own rules: list selection bookkeeping and nothing delivered after destruction.
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
    EXPECT_EQ(host.ComboInsertString(IDC_DEVICE_COMBO, 9, QStringLiteral("x")), -1);
    EXPECT_EQ(host.ComboGetCount(IDC_DEVICE_COMBO), 2);
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
