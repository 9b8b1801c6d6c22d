// Ending the window, refusals while an operation runs, keys and the operation radio buttons; the trace box
// and the activity indicator.
#include "app/Trace.h"
#include "support/ParamNames.h"
#include "support/WindowFixture.h"

namespace {

const char* const kRefused = "Do NOT exit while DFU is running!";

class TraceProgressTest : public MainWindowTest {
protected:
    void SetUp() override { Open(); }
    // Delivers one tick of the running timer and returns the bar's position.
    int Tick()
    {
        EXPECT_TRUE(Host().FireTimer(PROGRESS_TIMER_ID));
        Host().PumpMessages();
        return Host().ProgressGetPos(IDC_PROGRESS);
    }
};

}  // namespace

// Every way of ending the window is refused while the window is busy (the worker's threads test refuses
// them while it prepares); once it is over the same request ends the window without a question.
struct EndRequest {
    const char* pszName;
    void (*pfnRequest)(CConsoleHost& host);
    friend void PrintTo(const EndRequest& row, std::ostream* os) { *os << row.pszName; }
};

class EndRefusedTest : public MainWindowTest, public ::testing::WithParamInterface<EndRequest> {};

TEST_P(EndRefusedTest, WhileBusy)
{
    Open();
    Dlg().m_bBusy = true;
    GetParam().pfnRequest(Host());
    EXPECT_FALSE(Host().IsEnded());
    EXPECT_EQ(Boxes(), std::vector<std::string>{kRefused});

    Dlg().m_bBusy = false;
    GetParam().pfnRequest(Host());
    EXPECT_TRUE(Host().IsEnded());
    EXPECT_EQ(Boxes().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Requests, EndRefusedTest,
                         ::testing::Values(EndRequest{"CloseBox", [](CConsoleHost& h) { h.RequestClose(); }},
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
                         RowName());

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

// (Clear Trace empties the box in HotPlugTest, and stays enabled while the controls are locked in
// DfuTest.OperationUiLockAndUnlock.)
TEST_F(TraceProgressTest, AppendGoesToTheEndWhereverTheCaretIs)
{
    Host().SetEditSelection(IDC_TRACE, 3, 9);  // the operator selected part of the census
    AppendTrace(&Dlg(), QStringLiteral("second\r\n"));
    Host().SetEditSelection(IDC_TRACE, 0, 0);
    AppendTrace(&Dlg(), QStringLiteral("third\r\n"));
    EXPECT_EQ(TraceText(), QStringLiteral("Total 0 devices found!\r\nsecond\r\nthird\r\n"));
    const int nEnd = static_cast<int>(TraceText().size());
    EXPECT_EQ(Host().EditSelection(IDC_TRACE), std::make_pair(nEnd, nEnd)) << "scrolled to the insertion";
}

// A cycle of ticks and the first tick of the next; a stop is final even with a tick queued, and the next
// operation starts from zero.
TEST_F(TraceProgressTest, TicksCycleThenAFinalStop)
{
    StartProgressIndicator(&Dlg());
    EXPECT_EQ(Dlg().m_nTimerId, PROGRESS_TIMER_ID);
    EXPECT_EQ(Host().ActiveTimers(), (std::map<uint32_t, uint32_t>{{PROGRESS_TIMER_ID, PROGRESS_TIMER_PERIOD_MS}}));
    std::vector<int> shown;
    for (int i = 0; i < 12; ++i)
        shown.push_back(Tick());
    EXPECT_EQ(shown, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 0, 10}));
    ASSERT_TRUE(Host().FireTimer(PROGRESS_TIMER_ID));  // on its way when the worker stops
    StopProgressIndicator(&Dlg());
    EXPECT_EQ(Host().PumpMessages(), 1);
    EXPECT_EQ(Host().ProgressGetPos(IDC_PROGRESS), 0);
    EXPECT_EQ(Dlg().m_nProgressPos, 0);
    EXPECT_EQ(Dlg().m_nTimerId, 0u);
    EXPECT_TRUE(Host().ActiveTimers().empty());

    StartProgressIndicator(&Dlg());
    EXPECT_EQ(Tick(), 10);
}
