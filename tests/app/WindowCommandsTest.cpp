// Ending the window, refusals while an operation runs, keys, menu commands and the About box.
#include "app/MainWindowFixture.h"
#include "app/Resource.h"
#include "app/Resources.h"

namespace {

const QString kRefused = QStringLiteral("Do NOT exit while DFU is running!");

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

class EndRefusedTest : public MainWindowTest,
                       public ::testing::WithParamInterface<std::tuple<EndRequest, bool>> {};

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
    EXPECT_EQ(Boxes(), std::vector<QString>{kRefused});

    // Once the operation is over the same request ends the window.
    Dlg().m_bBusy = false;
    Dlg().m_bWorkerRunning = false;
    request.pfnRequest(Host());
    EXPECT_TRUE(Host().IsEnded());
    EXPECT_EQ(Boxes().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, EndRefusedTest,
    ::testing::Combine(
        ::testing::Values(EndRequest{"CloseBox", [](CConsoleHost& h) { h.RequestClose(); }},
                          EndRequest{"Escape", [](CConsoleHost& h) { h.PressEscape(); }},
                          EndRequest{"EnterOnTheList",
                                     [](CConsoleHost& h) {
                                         h.SetFocus(IDC_DEVICE_COMBO);
                                         h.PressEnter();
                                     }},
                          EndRequest{"FileExit", [](CConsoleHost& h) {
                                         Message msg;
                                         msg.kind = MessageKind::Command;
                                         msg.nId = ID_APP_EXIT;
                                         h.Send(msg);
                                     }}),
        ::testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).pszName) + (std::get<1>(info.param) ? "Busy" : "Preparing");
    });

TEST_F(MainWindowTest, EnterOnOkStoresTheControlsAndEndsWithOk)
{
    Open();
    ASSERT_TRUE(Host().Click(IDC_UPLOAD));
    Host().SetFocus(IDC_UPLOAD);
    Host().PressEnter();
    EXPECT_TRUE(Host().IsEnded());
    EXPECT_EQ(Host().Result(), IDOK);
    EXPECT_EQ(Dlg().m_nOperation, 1);
}

TEST_F(MainWindowTest, EnterOnClearTraceClearsAndStaysOpen)
{
    Open();
    ASSERT_FALSE(TraceText().isEmpty());
    Host().SetFocus(IDC_CLEAR_TRACE);
    Host().PressEnter();
    EXPECT_FALSE(Host().IsEnded());
    EXPECT_EQ(TraceText(), QString());
}

TEST_F(MainWindowTest, FileExitWhenIdleEnds)
{
    Open();
    ASSERT_TRUE(Host().ChooseMenuItem(ID_APP_EXIT));
    EXPECT_TRUE(Host().IsEnded());
}

TEST_F(MainWindowTest, UploadRadioLeavesUpdateAllAlone)
{
    backend.Plug(u"/dev/hidraw0");   // boot loader: "Update All" unchecked and enabled
    Open();
    ASSERT_EQ(Host().GetCheck(IDC_UPDATE_ALL), 0);
    ASSERT_TRUE(Host().Click(IDC_UPLOAD));
    EXPECT_EQ(Host().GetCheck(IDC_DOWNLOAD), 0);
    EXPECT_EQ(Host().GetCheck(IDC_UPLOAD), 1);
    EXPECT_EQ(Host().GetCheck(IDC_UPDATE_ALL), 0);
    ASSERT_TRUE(Host().Click(IDC_UPDATE_ALL));
    ASSERT_TRUE(Dlg().UpdateData(true));
    EXPECT_EQ(Dlg().m_nOperation, 1);
    EXPECT_EQ(Dlg().m_bUpdateAll, 1);
}

TEST_F(MainWindowTest, NoRadioCheckedStoresMinusOne)
{
    Open();
    Host().SetCheck(IDC_DOWNLOAD, 0);
    ASSERT_TRUE(Dlg().UpdateData(true));
    EXPECT_EQ(Dlg().m_nOperation, -1);
}

TEST_F(MainWindowTest, AboutAndHelpShowTheAboutBox)
{
    Open();
    session.QueueChildAnswer(IDD_ABOUTBOX, [](CConsoleHost& about) {
        EXPECT_EQ(about.Dialog().Template().pszCaption, std::string("About Quillon"));
        return IDOK;
    });
    ASSERT_TRUE(Host().ChooseMenuItem(ID_HELP_ABOUT));
    Message help;
    help.kind = MessageKind::Command;
    help.nId = ID_HELP;
    Host().Send(help);
    EXPECT_EQ(session.ChildDialogs(), (std::vector<int>{IDD_ABOUTBOX, IDD_ABOUTBOX}));
    EXPECT_EQ(session.PendingAnswers(), 0u);
    EXPECT_FALSE(Host().IsEnded());
}

TEST_F(MainWindowTest, PaintAndDragIconChangeNothing)
{
    Open();
    Message paint;
    paint.kind = MessageKind::Paint;
    Host().Send(paint);
    Message drag;
    drag.kind = MessageKind::QueryDragIcon;
    EXPECT_EQ(Host().Send(drag), IDR_MAINFRAME);
    Message sys;
    sys.kind = MessageKind::SysCommand;
    Host().Send(sys);
    EXPECT_FALSE(Host().IsEnded());
}

TEST(Templates, MainWindowHasNoOkOrCancelControlAndTheRadioGroupEndsAtTrace)
{
    const DialogTemplate& tpl = QuillonDialogTemplate();
    EXPECT_EQ(tpl.nId, IDD_QUILLON_DIALOG);
    EXPECT_STREQ(tpl.pszCaption, "ZEL USB Firmware Upgrade - V2.1.0.1");
    bool bInGroup = false;
    std::vector<int> group;
    for (const ControlTemplate& ctl : tpl.controls) {
        EXPECT_NE(ctl.nId, IDOK);
        EXPECT_NE(ctl.nId, IDCANCEL);
        EXPECT_NE(ctl.kind, ControlKind::DefPushButton);
        if ((ctl.nStyle & CS_GROUP) != 0)
            bInGroup = ctl.nId == IDC_DOWNLOAD;
        if (bInGroup)
            group.push_back(ctl.nId);
    }
    EXPECT_EQ(group, (std::vector<int>{IDC_DOWNLOAD, IDC_UPDATE_ALL, IDC_UPLOAD, IDC_START}));
    ASSERT_EQ(tpl.menu.size(), 3u);
    EXPECT_EQ(tpl.menu[0].items.size(), 3u);
    EXPECT_EQ(tpl.menu[0].items[1].nCommand, 0);
}

TEST(Templates, OptionsShowsTheMatchBoxesDisabledInVisualOrder)
{
    const DialogTemplate& tpl = OptionsDialogTemplate();
    std::vector<std::pair<int, int>> boxes;   // y, id
    for (const ControlTemplate& ctl : tpl.controls) {
        if (ctl.kind == ControlKind::CheckBox)
            boxes.emplace_back(ctl.y, ctl.nId);
        if (ctl.nId >= IDC_MATCH_VID && ctl.nId <= IDC_MATCH_SUBVERSION) {
            EXPECT_NE(ctl.nStyle & CS_DISABLED, 0u) << ctl.pszText;
        }
        if (ctl.nId == IDC_AUTO_VERIFY) {
            EXPECT_EQ(ctl.nStyle & CS_DISABLED, 0u);
        }
    }
    std::sort(boxes.begin(), boxes.end());
    std::vector<int> order;
    for (const auto& box : boxes)
        order.push_back(box.second);
    EXPECT_EQ(order, (std::vector<int>{IDC_MATCH_VID, IDC_MATCH_PID, IDC_MATCH_VERSION, IDC_MATCH_SUBVERSION,
                                       IDC_MATCH_CHIPSET, IDC_AUTO_VERIFY}));
    EXPECT_EQ(FindDialogTemplate(IDD_OPTIONS), &tpl);
    EXPECT_EQ(FindDialogTemplate(12345), nullptr);
}
