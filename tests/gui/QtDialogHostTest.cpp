// The Qt host on a dialog of the tests' own: layout from dialog units, user input turned into messages,
// the trace box, timers, and the hand-over of calls from another thread.
#include "gui/QtTestSupport.h"

#include "platform/qt/DialogUnits.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>

#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>
#include <thread>

namespace {

constexpr int IDC_T_COMBO = 10, IDC_T_FIELD = 11, IDC_T_FIRST = 12, IDC_T_INSIDE = 13, IDC_T_SECOND = 14, IDC_T_GO = 15,
              IDC_T_OTHER = 16, IDC_T_TRACE = 17, ID_T_OPEN = 700, ID_T_EXIT = 701, ID_T_ABOUT = 702,
              ID_T_WORKER_DONE = 999;

constexpr uint32_t kTraceStyle = CS_READONLY | CS_BORDER | CS_VSCROLL | CS_AUTOVSCROLL | CS_WRAP;

const DialogTemplate& TestTemplate()
{
    static const DialogTemplate tpl{
        500,
        "Test dialog",
        200,
        120,
        "MS Shell Dlg",
        8,
        DS_MINIMIZEBOX | DS_SYSMENU | DS_CENTER | DS_APPWINDOW,
        600,
        {{-1, ControlKind::GroupBox, "Group", 5, 5, 100, 60, CS_NONE},
         {IDC_T_COMBO, ControlKind::DropDownList, "", 10, 15, 80, 48, CS_VSCROLL | CS_TABSTOP},
         {IDC_T_FIELD, ControlKind::IdentityField, "", 45, 32, 50, 12, CS_READONLY},
         {IDC_T_FIRST, ControlKind::RadioButton, "First", 110, 10, 60, 10, CS_GROUP | CS_TABSTOP},
         {IDC_T_INSIDE, ControlKind::CheckBox, "Inside", 120, 22, 60, 10, CS_TABSTOP},
         {IDC_T_SECOND, ControlKind::RadioButton, "Second", 110, 34, 60, 10, CS_TABSTOP},
         {IDC_T_GO, ControlKind::PushButton, "Go", 110, 46, 40, 14, CS_TABSTOP},
         {IDC_T_OTHER, ControlKind::RadioButton, "Other", 155, 46, 40, 10, CS_GROUP | CS_TABSTOP},
         {IDC_T_TRACE, ControlKind::MultiLineEdit, "", 5, 80, 100, 36, kTraceStyle}},
        {{"&File", {{"&Open", ID_T_OPEN}, {nullptr, 0}, {"E&xit", ID_T_EXIT}}}, {"&Help", {{"&About", ID_T_ABOUT}}}}};
    return tpl;
}

using Ids = std::vector<std::pair<int, int>>;

class QtDialogHostTest : public ::testing::Test {
protected:
    QtDialogHostTest() : factory(QStringLiteral("QuillonTest"))
    {
        TestApp();
        factory.SetMessageBoxObserver([this](const QString& caption, const QString& text) {
            boxes.push_back(caption + QStringLiteral("|") + text);
            boxThreads.push_back(std::this_thread::get_id());
        });
    }

    QWidget* W(CQtDialogHost& host) { return host.Window(); }
    // The commands received so far, as identifier and notification code.
    Ids Commands() const
    {
        Ids commands;
        for (const auto& received : dialog.Messages()) {
            if (received.msg.kind == MessageKind::Command)
                commands.emplace_back(received.msg.nId, received.msg.nCode);
        }
        return commands;
    }

    CQtHostFactory factory;
    CRecordingDialog dialog{TestTemplate()};
    std::vector<QString> boxes;
    std::vector<std::thread::id> boxThreads;
};

TEST_F(QtDialogHostTest, LayoutIsInDialogUnitsOnAFixedClientAreaAndTheTraceAppendsAtTheEnd)
{
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        QWidget* pWindow = W(host);
        const DialogBaseUnits units = BaseUnitsOf(DialogFont(TestTemplate()));

        QWidget* pClient = pWindow->findChild<QWidget*>(QStringLiteral("client"));
        ASSERT_NE(pClient, nullptr);
        EXPECT_EQ(pClient->size(), QSize(DialogUnitsToPixelsX(units, 200), DialogUnitsToPixelsY(units, 120)));
        EXPECT_EQ(pWindow->minimumSize(), pWindow->maximumSize());
        EXPECT_FALSE(pWindow->windowFlags() & Qt::WindowMaximizeButtonHint);
        auto* pTrace = FindControl<QPlainTextEdit>(pWindow, IDC_T_TRACE);
        ASSERT_NE(pTrace, nullptr);
        EXPECT_EQ(pTrace->parentWidget(), pClient);
        EXPECT_EQ(pTrace->geometry(), DialogUnitsToPixels(units, 5, 80, 100, 36));

        // The group box is only a frame: nothing is reparented into it.
        auto* pGroup = pClient->findChild<QGroupBox*>();
        ASSERT_NE(pGroup, nullptr);
        EXPECT_TRUE(pGroup->findChildren<QWidget*>().isEmpty());

        // The trace appends at the very end whatever the selection.
        host.EditAppendText(IDC_T_TRACE, QStringLiteral("one\r\n"));

        // The operator selects the first line and puts the caret at the start.
        QTextCursor cursor = pTrace->textCursor();
        cursor.movePosition(QTextCursor::Start);
        cursor.movePosition(QTextCursor::EndOfLine, QTextCursor::KeepAnchor);
        pTrace->setTextCursor(cursor);
        host.EditAppendText(IDC_T_TRACE, QStringLiteral("three\r\n"));
        EXPECT_EQ(host.GetDlgItemText(IDC_T_TRACE), QStringLiteral("one\r\nthree\r\n"));

        // Many lines: the box scrolls to the end; a long line wraps instead of widening the box.
        for (int i = 0; i < 60; ++i)
            host.EditAppendText(IDC_T_TRACE, QString(i * 10, QLatin1Char('x')) + QStringLiteral("\r\n"));
        QScrollBar* pScroll = pTrace->verticalScrollBar();
        EXPECT_GT(pScroll->maximum(), 0);
        EXPECT_EQ(pScroll->value(), pScroll->maximum());
        EXPECT_EQ(pTrace->horizontalScrollBar()->maximum(), 0);
    });
}

TEST_F(QtDialogHostTest, ClicksAndMenuItemsBecomeCommandsAndRadioButtonsExcludeWithinTheirGroup)
{
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        QWidget* pWindow = W(host);
        host.SetCheck(IDC_T_FIRST, 1);
        host.SetCheck(IDC_T_INSIDE, 1);
        host.SetCheck(IDC_T_OTHER, 1);

        QTest::mouseClick(FindControl<QRadioButton>(pWindow, IDC_T_SECOND), Qt::LeftButton);
        QTest::mouseClick(FindControl<QCheckBox>(pWindow, IDC_T_INSIDE), Qt::LeftButton);

        EXPECT_EQ(host.GetCheck(IDC_T_FIRST), 0);
        EXPECT_EQ(host.GetCheck(IDC_T_SECOND), 1);
        EXPECT_EQ(host.GetCheck(IDC_T_INSIDE), 0);  // toggled by its own click only
        EXPECT_EQ(host.GetCheck(IDC_T_OTHER), 1);   // another group
        EXPECT_EQ(host.GetCheck(IDC_T_GO), 0);      // a push button has no check state

        // A push button's click: MainWindowGuiTest's upload clicks Clear Trace and Start.
        const Ids clicks{{IDC_T_SECOND, BN_CLICKED}, {IDC_T_INSIDE, BN_CLICKED}};
        EXPECT_EQ(Commands(), clicks);

        // Setting states by hand sends nothing, and a radio button can be cleared by hand.
        host.SetCheck(IDC_T_SECOND, 0);
        EXPECT_EQ(host.GetCheck(IDC_T_SECOND), 0);
        EXPECT_EQ(host.GetCheck(IDC_T_FIRST), 0);
        EXPECT_EQ(Commands(), clicks);

        // Menu items send their commands unless greyed.
        ASSERT_EQ(host.MenuBar()->actions().size(), 2);
        host.MenuAction(ID_T_OPEN)->trigger();
        host.EnableMenuItem(ID_T_OPEN, false);
        EXPECT_FALSE(host.IsMenuItemEnabled(ID_T_OPEN));
        EXPECT_TRUE(host.IsMenuItemEnabled(ID_T_EXIT));
        host.MenuAction(ID_T_OPEN)->trigger();  // greyed: does nothing
        host.MenuAction(ID_T_ABOUT)->trigger();
        Ids all = clicks;
        all.insert(all.end(), {{ID_T_OPEN, 0}, {ID_T_ABOUT, 0}});
        EXPECT_EQ(Commands(), all);
    });
}

TEST_F(QtDialogHostTest, DropDownListChangesByTheUserAreNotifiedAndByTheProgramAreNot)
{
    int devices[3] = {};
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        auto* pCombo = FindControl<QComboBox>(W(host), IDC_T_COMBO);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(host.ComboAddString(IDC_T_COMBO, QStringLiteral("item %1").arg(i)), i);
            host.ComboSetItemData(IDC_T_COMBO, i, &devices[i]);
        }
        EXPECT_EQ(host.ComboGetCurSel(IDC_T_COMBO), -1);  // adding selects nothing
        host.ComboSetCurSel(IDC_T_COMBO, 1);
        EXPECT_TRUE(Commands().empty());

        pCombo->setFocus();
        QTest::keyClick(pCombo, Qt::Key_Down);
        EXPECT_EQ(Commands(), (Ids{{IDC_T_COMBO, CBN_SELCHANGE}}));
        EXPECT_EQ(host.ComboGetItemData(IDC_T_COMBO, host.ComboGetCurSel(IDC_T_COMBO)), &devices[2]);

        // Insertion keeps the selected entry; deleting it leaves no selection.
        host.ComboInsertString(IDC_T_COMBO, 0, QStringLiteral("first"));
        EXPECT_EQ(host.ComboGetCurSel(IDC_T_COMBO), 3);
        host.ComboDeleteString(IDC_T_COMBO, 3);
        EXPECT_EQ(host.ComboGetCurSel(IDC_T_COMBO), -1);
        EXPECT_EQ(host.ComboGetItemData(IDC_T_COMBO, 7), nullptr);
        EXPECT_EQ(Commands().size(), 1u);
    });
}

TEST_F(QtDialogHostTest, EscapeIsCancelAndEnterIsOkUnlessAPushButtonHasTheFocus)
{
    dialog.bDefaultHandling = false;
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        QWidget* pWindow = W(host);
        auto* pCheck = FindControl<QCheckBox>(pWindow, IDC_T_INSIDE);
        auto* pGo = FindControl<QPushButton>(pWindow, IDC_T_GO);

        pCheck->setFocus();
        QTest::keyClick(pCheck, Qt::Key_Escape);
        QTest::keyClick(pCheck, Qt::Key_Return);
        pGo->setFocus();
        QTest::keyClick(pGo, Qt::Key_Return);
        // The read-only boxes and the closed drop-down list leave Enter to the dialog.
        for (int nId : {IDC_T_TRACE, IDC_T_FIELD, IDC_T_COMBO}) {
            QWidget* pControl = FindControl<QWidget>(pWindow, nId);
            pControl->setFocus();
            QTest::keyClick(pControl, Qt::Key_Enter);
        }

        EXPECT_EQ(Commands(), (Ids{{IDCANCEL, BN_CLICKED},
                                   {IDOK, BN_CLICKED},
                                   {IDC_T_GO, BN_CLICKED},
                                   {IDOK, BN_CLICKED},
                                   {IDOK, BN_CLICKED},
                                   {IDOK, BN_CLICKED}}));
        EXPECT_TRUE(pWindow->isVisible());
    });
}

TEST_F(QtDialogHostTest, TimersDeliverTimerMessagesUntilKilled)
{
    int nTimers = 0;
    dialog.onMessage = [&](const Message& msg) {
        if (msg.kind == MessageKind::Timer) {
            EXPECT_EQ(msg.nId, 5);
            if (++nTimers == 3) {
                dialog.Host()->KillTimer(5);
                dialog.Host()->EndDialog(IDOK);
            }
        }
        return false;
    };
    const int nResult = RunModalWithScript(
        factory, dialog,
        [&](CQtDialogHost& host) {
            EXPECT_EQ(host.SetTimer(5, 0), 5u);
            EXPECT_EQ(host.SetTimer(0, 10), 0u);  // no timer without an identifier
        },
        false);
    EXPECT_EQ(nResult, IDOK);
    EXPECT_EQ(nTimers, 3);
}

// A worker drives the window while the user-interface thread runs the modal loop: every call is
// carried out on the user-interface thread and returns; nothing deadlocks.
TEST_F(QtDialogHostTest, WorkerThreadCallsAreCarriedOutOnTheUserInterfaceThread)
{
    std::thread worker;
    QString strReadBack;
    uint32_t nTimer = 0;
    dialog.onMessage = [&](const Message& msg) {
        if (msg.kind == MessageKind::Command && msg.nId == ID_T_WORKER_DONE) {
            worker.join();
            dialog.Host()->EndDialog(IDOK);
            return true;
        }
        return false;
    };
    const std::thread::id uiThread = std::this_thread::get_id();
    const int nResult = RunModalWithScript(
        factory, dialog,
        [&](CQtDialogHost& host) {
            worker = std::thread([&] {
                EXPECT_FALSE(host.IsUiThread());
                host.SetDlgItemText(IDC_T_FIELD, QStringLiteral("from the worker"));
                strReadBack = host.GetDlgItemText(IDC_T_FIELD);
                nTimer = host.SetTimer(1, 1000);
                host.KillTimer(1);
                host.MessageBox(QStringLiteral("Write flash failed!"));
                Message done;
                done.nId = ID_T_WORKER_DONE;
                host.PostMessage(done);
            });
        },
        false);

    EXPECT_EQ(nResult, IDOK);
    EXPECT_EQ(strReadBack, QStringLiteral("from the worker"));
    EXPECT_EQ(nTimer, 1u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], QStringLiteral("QuillonTest|Write flash failed!"));
    EXPECT_EQ(boxThreads[0], uiThread);
    for (const auto& received : dialog.Messages())
        EXPECT_EQ(received.thread, uiThread);
}

}  // namespace
