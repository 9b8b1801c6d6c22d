// The headless host delivers nothing after destruction: a worker may still post when the window is gone.
#include "platform/console/ConsoleHost.h"
#include "app/Resources.h"

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
