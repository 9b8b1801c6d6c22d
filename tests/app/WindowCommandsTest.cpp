// Ending the window, refusals while an operation runs, keys and the operation radio buttons.
#include "app/Resource.h"
#include "support/WindowFixture.h"

namespace {

const char* const kRefused = "Do NOT exit while DFU is running!";

}  // namespace

TEST_F(MainWindowTest, CloseWhenIdleEndsWithCancelWithoutQuestion)
{
    Open();
    Host().RequestClose();
    EXPECT_TRUE(Host().IsEnded());
    EXPECT_EQ(Host().Result(), IDCANCEL);
    EXPECT_TRUE(Boxes().empty());
}

// Every way of ending the window is refused while a worker exists, busy or still preparing.
struct EndRequest {
    const char* pszName;
    void (*pfnRequest)(CConsoleHost& host);
};
void PrintTo(const EndRequest& row, std::ostream* os)
{
    *os << row.pszName;
}

class EndRefusedTest : public MainWindowTest, public ::testing::WithParamInterface<std::tuple<EndRequest, bool>> {};

TEST_P(EndRefusedTest, WhileAWorkerRuns)
{
    const auto& [request, bBusy] = GetParam();
    Open();
    if (bBusy)
        Dlg().m_bBusy = true;
    else
        Dlg().m_bWorkerRunning = true;
    request.pfnRequest(Host());
    EXPECT_FALSE(Host().IsEnded());
    EXPECT_EQ(Boxes(), std::vector<std::string>{kRefused});

    // Once the operation is over the same request ends the window.
    Dlg().m_bBusy = false;
    Dlg().m_bWorkerRunning = false;
    request.pfnRequest(Host());
    EXPECT_TRUE(Host().IsEnded());
    EXPECT_EQ(Boxes().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, EndRefusedTest,
    ::testing::Combine(::testing::Values(EndRequest{"CloseBox", [](CConsoleHost& h) { h.RequestClose(); }},
                                         EndRequest{"Escape", [](CConsoleHost& h) { h.PressEscape(); }},
                                         EndRequest{"EnterOnTheList",
                                                    [](CConsoleHost& h) {
                                                        h.SetFocus(IDC_DEVICE_COMBO);
                                                        h.PressEnter();
                                                    }},
                                         EndRequest{"FileExit",
                                                    [](CConsoleHost& h) {
                                                        Message msg;
                                                        msg.kind = MessageKind::Command;
                                                        msg.nId = ID_APP_EXIT;
                                                        h.Send(msg);
                                                    }}),
                       ::testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).pszName) + (std::get<1>(info.param) ? "Busy" : "Preparing");
    });

// The Upload radio button leaves "Update All" alone; Enter (OK) stores the controls and ends the window.
TEST_F(MainWindowTest, UploadRadioLeavesUpdateAllAloneAndEnterStoresTheControls)
{
    backend.Plug(u"/dev/hidraw0");  // boot loader: "Update All" unchecked and enabled
    Open();
    ASSERT_EQ(Host().GetCheck(IDC_UPDATE_ALL), 0);
    ASSERT_TRUE(Host().Click(IDC_UPLOAD));
    EXPECT_EQ(Host().GetCheck(IDC_DOWNLOAD), 0);
    EXPECT_EQ(Host().GetCheck(IDC_UPDATE_ALL), 0);
    ASSERT_TRUE(Host().Click(IDC_UPDATE_ALL));
    Host().SetFocus(IDC_UPLOAD);
    Host().PressEnter();
    EXPECT_EQ(Host().Result(), IDOK);
    EXPECT_EQ(Dlg().m_nOperation, 1);
    EXPECT_EQ(Dlg().m_bUpdateAll, 1);
}
