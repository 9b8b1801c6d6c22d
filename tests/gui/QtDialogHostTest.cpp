// The Qt host on a dialog of the tests' own: layout from dialog units, widgets per control kind, user
// input turned into messages, and the hand-over of calls from another thread.
#include "gui/QtTestSupport.h"

#include "platform/qt/DialogUnits.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

constexpr int IDC_T_COMBO = 10;
constexpr int IDC_T_FIELD = 11;
constexpr int IDC_T_FIRST = 12;
constexpr int IDC_T_INSIDE = 13;
constexpr int IDC_T_SECOND = 14;
constexpr int IDC_T_GO = 15;
constexpr int IDC_T_OTHER = 16;
constexpr int IDC_T_TRACE = 17;
constexpr int IDC_T_PROGRESS = 18;
constexpr int IDC_T_DISABLED = 19;
constexpr int IDC_T_CHILD_CHECK = 30;
constexpr int ID_T_OPEN = 700;
constexpr int ID_T_EXIT = 701;
constexpr int ID_T_ABOUT = 702;
constexpr int IDR_T_ICON = 900;
constexpr int ID_T_WORKER_DONE = 999;

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
        {
            {-1, ControlKind::GroupBox, "Group", 5, 5, 100, 60, CS_NONE},
            {IDC_T_COMBO, ControlKind::DropDownList, "", 10, 15, 80, 48, CS_VSCROLL | CS_TABSTOP},
            {-1, ControlKind::Label, "Name:", 10, 32, 30, 10, CS_NONE},
            {IDC_T_FIELD, ControlKind::IdentityField, "", 45, 32, 50, 12, CS_READONLY},
            {IDC_T_FIRST, ControlKind::RadioButton, "First", 110, 10, 60, 10, CS_GROUP | CS_TABSTOP},
            {IDC_T_INSIDE, ControlKind::CheckBox, "Inside", 120, 22, 60, 10, CS_TABSTOP},
            {IDC_T_SECOND, ControlKind::RadioButton, "Second", 110, 34, 60, 10, CS_TABSTOP},
            {IDC_T_GO, ControlKind::PushButton, "Go", 110, 46, 40, 14, CS_TABSTOP},
            {IDC_T_OTHER, ControlKind::RadioButton, "Other", 155, 46, 40, 10, CS_GROUP | CS_TABSTOP},
            {-1, ControlKind::Label, "Left", 5, 68, 30, 10, CS_ALIGN_LEFT | CS_GROUP},
            {IDC_T_TRACE, ControlKind::MultiLineEdit, "", 5, 80, 100, 36, kTraceStyle},
            {IDC_T_PROGRESS, ControlKind::ProgressBar, "", 110, 80, 85, 10, CS_BORDER},
            {IDC_T_DISABLED, ControlKind::CheckBox, "Disabled", 110, 95, 60, 10, CS_DISABLED | CS_TABSTOP},
            {-1, ControlKind::Icon, "IDR_T_ICON", 175, 5, 20, 20, CS_NONE},
        },
        {
            {"&File", {{"&Open", ID_T_OPEN}, {nullptr, 0}, {"E&xit", ID_T_EXIT}}},
            {"&Help", {{"&About", ID_T_ABOUT}}},
        },
    };
    return tpl;
}

const DialogTemplate& ChildTemplate()
{
    static const DialogTemplate tpl{
        501,
        "Child",
        100,
        60,
        "MS Shell Dlg",
        8,
        DS_SYSMENU | DS_CENTER,
        0,
        {
            {IDOK, ControlKind::DefPushButton, "OK", 5, 40, 40, 14, CS_TABSTOP},
            {IDCANCEL, ControlKind::PushButton, "Cancel", 50, 40, 40, 14, CS_TABSTOP},
            {IDC_T_CHILD_CHECK, ControlKind::CheckBox, "Check", 5, 10, 60, 10, CS_TABSTOP},
        },
        {},
    };
    return tpl;
}

// A child with one field bound to its check box.
class CChildDialog : public CRecordingDialog {
public:
    CChildDialog() : CRecordingDialog(ChildTemplate()) {}
    void DoDataExchange(CDataExchange& dx) override { DDX_Check(dx, IDC_T_CHILD_CHECK, m_bCheck); }
    int32_t m_bCheck = 0;
};

QIcon TestIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::darkCyan);
    return QIcon(pixmap);
}

class QtDialogHostTest : public ::testing::Test {
protected:
    QtDialogHostTest() : factory(QStringLiteral("QuillonTest"))
    {
        TestApp();
        factory.RegisterIcon(IDR_T_ICON, QStringLiteral("IDR_T_ICON"), TestIcon());
        factory.SetMessageBoxObserver([this](const QString& caption, const QString& text) {
            boxes.push_back(caption + QStringLiteral("|") + text);
            boxThreads.push_back(std::this_thread::get_id());
        });
    }

    QWidget* W(CQtDialogHost& host) { return host.Window(); }

    CQtHostFactory factory;
    CRecordingDialog dialog{TestTemplate()};
    std::vector<QString> boxes;
    std::vector<std::thread::id> boxThreads;
};

bool IsCommand(const Message& msg, int nId, int nCode)
{
    return msg.kind == MessageKind::Command && msg.nId == nId && msg.nCode == nCode;
}

TEST_F(QtDialogHostTest, ControlsArePlacedInDialogUnitsOfTheDialogFont)
{
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        QWidget* pWindow = W(host);
        const DialogBaseUnits units = BaseUnitsOf(DialogFont(TestTemplate()));
        EXPECT_GT(units.nX, 0);
        EXPECT_GT(units.nY, units.nX);
        EXPECT_EQ(host.BaseUnits().nX, units.nX);
        EXPECT_EQ(host.BaseUnits().nY, units.nY);

        // The client area has the template's size; the window is that plus the menu bar, and fixed.
        QWidget* pClient = pWindow->findChild<QWidget*>(QStringLiteral("client"));
        ASSERT_NE(pClient, nullptr);
        EXPECT_EQ(pClient->size(), QSize(DialogUnitsToPixelsX(units, 200), DialogUnitsToPixelsY(units, 120)));
        EXPECT_EQ(pWindow->minimumSize(), pWindow->maximumSize());
        EXPECT_FALSE(pWindow->windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_TRUE(pWindow->windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_EQ(pWindow->windowTitle(), QStringLiteral("Test dialog"));

        // Every control except the drop-down list (whose height is the dropped list's) and the icon
        // (shown at its own size) sits exactly at its converted rectangle on the client area.
        for (const ControlTemplate& control : TestTemplate().controls) {
            if (control.nId == -1 || control.kind == ControlKind::DropDownList)
                continue;
            QWidget* pControl = FindControl<QWidget>(pWindow, control.nId);
            ASSERT_NE(pControl, nullptr) << control.nId;
            EXPECT_EQ(pControl->parentWidget(), pClient) << control.nId;
            EXPECT_EQ(pControl->geometry(), DialogUnitsToPixels(units, control.x, control.y, control.cx, control.cy))
                << control.nId;
        }
        auto* pCombo = FindControl<QComboBox>(pWindow, IDC_T_COMBO);
        ASSERT_NE(pCombo, nullptr);
        EXPECT_EQ(pCombo->pos(), QPoint(DialogUnitsToPixelsX(units, 10), DialogUnitsToPixelsY(units, 15)));
        EXPECT_LT(pCombo->height(), DialogUnitsToPixelsY(units, 48));
        EXPECT_FALSE(pCombo->isEditable());

        // The group box is only a frame: nothing is reparented into it.
        auto* pGroup = pClient->findChild<QGroupBox*>();
        ASSERT_NE(pGroup, nullptr);
        EXPECT_EQ(pGroup->title(), QStringLiteral("Group"));
        EXPECT_TRUE(pGroup->findChildren<QWidget*>().isEmpty());
    });
}

TEST_F(QtDialogHostTest, ControlKindsBecomeTheirWidgets)
{
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        QWidget* pWindow = W(host);
        const QList<QLabel*> labels = pWindow->findChildren<QLabel*>();
        const QLabel* pName = nullptr;
        const QLabel* pLeft = nullptr;
        const QLabel* pIcon = nullptr;
        for (const QLabel* pLabel : labels) {
            if (pLabel->text() == QStringLiteral("Name:"))
                pName = pLabel;
            else if (pLabel->text() == QStringLiteral("Left"))
                pLeft = pLabel;
            else if (!pLabel->pixmap().isNull())
                pIcon = pLabel;
        }
        ASSERT_NE(pName, nullptr);
        ASSERT_NE(pLeft, nullptr);
        EXPECT_TRUE(pName->alignment() & Qt::AlignRight);
        EXPECT_TRUE(pLeft->alignment() & Qt::AlignLeft);
        ASSERT_NE(pIcon, nullptr);
        EXPECT_EQ(pIcon->pixmap().size(), QSize(32, 32));

        auto* pField = FindControl<QLineEdit>(pWindow, IDC_T_FIELD);
        ASSERT_NE(pField, nullptr);
        EXPECT_TRUE(pField->isReadOnly());
        EXPECT_FALSE(pField->hasFrame());
        EXPECT_FALSE(pField->focusPolicy() & Qt::TabFocus);

        auto* pTrace = FindControl<QPlainTextEdit>(pWindow, IDC_T_TRACE);
        ASSERT_NE(pTrace, nullptr);
        EXPECT_TRUE(pTrace->isReadOnly());
        EXPECT_EQ(pTrace->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        EXPECT_EQ(pTrace->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        EXPECT_EQ(pTrace->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_FALSE(pTrace->focusPolicy() & Qt::TabFocus);

        auto* pBar = FindControl<QProgressBar>(pWindow, IDC_T_PROGRESS);
        ASSERT_NE(pBar, nullptr);
        EXPECT_EQ(pBar->minimum(), 0);
        EXPECT_EQ(pBar->maximum(), 100);
        EXPECT_FALSE(pBar->isTextVisible());

        EXPECT_NE(FindControl<QRadioButton>(pWindow, IDC_T_FIRST), nullptr);
        EXPECT_NE(FindControl<QCheckBox>(pWindow, IDC_T_INSIDE), nullptr);
        EXPECT_NE(FindControl<QPushButton>(pWindow, IDC_T_GO), nullptr);
        EXPECT_FALSE(FindControl<QCheckBox>(pWindow, IDC_T_DISABLED)->isEnabled());
        EXPECT_FALSE(host.IsDlgItemEnabled(IDC_T_DISABLED));
        host.EnableDlgItem(IDC_T_DISABLED, true);
        EXPECT_TRUE(FindControl<QCheckBox>(pWindow, IDC_T_DISABLED)->isEnabled());
    });
}

TEST_F(QtDialogHostTest, MainWindowIsCentredOnTheScreenAndAChildOverItsOwner)
{
    CChildDialog child;
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        QWidget* pWindow = W(host);
        const QRect screen = pWindow->screen()->availableGeometry();
        EXPECT_LE(qAbs(pWindow->geometry().center().x() - screen.center().x()), 2);
        EXPECT_LE(qAbs(pWindow->geometry().center().y() - screen.center().y()), 40);   // frame and menu

        WhenModalOpens(factory, [&](CQtDialogHost& childHost) {
            EXPECT_EQ(childHost.Window()->parentWidget(), pWindow);
            EXPECT_TRUE(childHost.Window()->isModal());
            EXPECT_LE(qAbs(childHost.Window()->geometry().center().x() - pWindow->frameGeometry().center().x()), 2);
            EXPECT_LE(qAbs(childHost.Window()->geometry().center().y() - pWindow->frameGeometry().center().y()), 2);
            childHost.EndDialog(IDCANCEL);
        });
        EXPECT_EQ(host.RunModalChild(child), IDCANCEL);
    });
}

TEST_F(QtDialogHostTest, ClicksBecomeCommandsAndRadioButtonsExcludeWithinTheirGroup)
{
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        QWidget* pWindow = W(host);
        host.SetCheck(IDC_T_FIRST, 1);
        host.SetCheck(IDC_T_INSIDE, 1);
        host.SetCheck(IDC_T_OTHER, 1);

        QTest::mouseClick(FindControl<QRadioButton>(pWindow, IDC_T_SECOND), Qt::LeftButton);
        QTest::mouseClick(FindControl<QPushButton>(pWindow, IDC_T_GO), Qt::LeftButton);
        QTest::mouseClick(FindControl<QCheckBox>(pWindow, IDC_T_INSIDE), Qt::LeftButton);

        EXPECT_EQ(host.GetCheck(IDC_T_FIRST), 0);
        EXPECT_EQ(host.GetCheck(IDC_T_SECOND), 1);
        EXPECT_EQ(host.GetCheck(IDC_T_INSIDE), 0);   // toggled by its own click only
        EXPECT_EQ(host.GetCheck(IDC_T_OTHER), 1);    // another group
        EXPECT_EQ(host.GetCheck(IDC_T_GO), 0);       // a push button has no check state

        const std::vector<Message> commands = dialog.Commands();
        ASSERT_EQ(commands.size(), 3u);
        EXPECT_TRUE(IsCommand(commands[0], IDC_T_SECOND, BN_CLICKED));
        EXPECT_TRUE(IsCommand(commands[1], IDC_T_GO, BN_CLICKED));
        EXPECT_TRUE(IsCommand(commands[2], IDC_T_INSIDE, BN_CLICKED));

        // Setting states by hand sends nothing, and a radio button can be cleared by hand.
        host.SetCheck(IDC_T_SECOND, 0);
        EXPECT_EQ(host.GetCheck(IDC_T_SECOND), 0);
        EXPECT_EQ(host.GetCheck(IDC_T_FIRST), 0);
        EXPECT_EQ(dialog.Commands().size(), 3u);
    });
}

TEST_F(QtDialogHostTest, DropDownListChangesByTheUserAreNotifiedAndByTheProgramAreNot)
{
    int devices[3] = {};
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        auto* pCombo = FindControl<QComboBox>(W(host), IDC_T_COMBO);
        EXPECT_EQ(host.ComboAddString(IDC_T_COMBO, QStringLiteral("alpha")), 0);
        EXPECT_EQ(host.ComboAddString(IDC_T_COMBO, QStringLiteral("beta")), 1);
        EXPECT_EQ(host.ComboAddString(IDC_T_COMBO, QStringLiteral("gamma")), 2);
        EXPECT_EQ(host.ComboGetCurSel(IDC_T_COMBO), -1);   // adding selects nothing
        for (int i = 0; i < 3; ++i)
            host.ComboSetItemData(IDC_T_COMBO, i, &devices[i]);
        host.ComboSetCurSel(IDC_T_COMBO, 1);
        EXPECT_EQ(pCombo->currentText(), QStringLiteral("beta"));
        EXPECT_TRUE(dialog.Commands().empty());

        pCombo->setFocus();
        QTest::keyClick(pCombo, Qt::Key_Down);
        EXPECT_EQ(host.ComboGetCurSel(IDC_T_COMBO), 2);
        ASSERT_EQ(dialog.Commands().size(), 1u);
        EXPECT_TRUE(IsCommand(dialog.Commands()[0], IDC_T_COMBO, CBN_SELCHANGE));
        EXPECT_EQ(host.ComboGetItemData(IDC_T_COMBO, host.ComboGetCurSel(IDC_T_COMBO)), &devices[2]);
        EXPECT_EQ(host.GetDlgItemText(IDC_T_COMBO), QStringLiteral("gamma"));

        // Insertion keeps the selected entry; deleting it leaves no selection.
        EXPECT_EQ(host.ComboInsertString(IDC_T_COMBO, 0, QStringLiteral("first")), 0);
        EXPECT_EQ(host.ComboGetCurSel(IDC_T_COMBO), 3);
        EXPECT_EQ(host.ComboGetItemData(IDC_T_COMBO, 3), &devices[2]);
        host.ComboDeleteString(IDC_T_COMBO, 3);
        EXPECT_EQ(host.ComboGetCurSel(IDC_T_COMBO), -1);
        EXPECT_EQ(host.ComboGetCount(IDC_T_COMBO), 3);
        EXPECT_EQ(host.ComboGetText(IDC_T_COMBO, 2), QStringLiteral("beta"));
        EXPECT_EQ(host.ComboGetItemData(IDC_T_COMBO, 7), nullptr);
        host.ComboResetContent(IDC_T_COMBO);
        EXPECT_EQ(host.ComboGetCount(IDC_T_COMBO), 0);
        EXPECT_EQ(dialog.Commands().size(), 1u);
    });
}

TEST_F(QtDialogHostTest, CloseRequestIsAMessageAndTheWindowStaysUnlessTheDialogEnds)
{
    dialog.bDefaultHandling = false;
    const int nResult = RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        W(host)->close();
        EXPECT_EQ(dialog.Count(MessageKind::Close), 1u);
        EXPECT_TRUE(W(host)->isVisible());

        // With the default handling the close request is Cancel.
        dialog.bDefaultHandling = true;
        W(host)->close();
        EXPECT_FALSE(W(host)->isVisible());
    });
    EXPECT_EQ(nResult, IDCANCEL);
    EXPECT_EQ(dialog.Count(MessageKind::Close), 2u);
    EXPECT_EQ(dialog.Count(MessageKind::Destroy), 1u);
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

        const std::vector<Message> commands = dialog.Commands();
        ASSERT_EQ(commands.size(), 6u);
        EXPECT_TRUE(IsCommand(commands[0], IDCANCEL, BN_CLICKED));
        EXPECT_TRUE(IsCommand(commands[1], IDOK, BN_CLICKED));
        EXPECT_TRUE(IsCommand(commands[2], IDC_T_GO, BN_CLICKED));
        for (size_t i = 3; i < 6; ++i)
            EXPECT_TRUE(IsCommand(commands[i], IDOK, BN_CLICKED)) << i;
        EXPECT_TRUE(pWindow->isVisible());
    });
}

TEST_F(QtDialogHostTest, MenuItemsSendTheirCommandsAndGreyById)
{
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        QMenuBar* pBar = host.MenuBar();
        ASSERT_NE(pBar, nullptr);
        const QList<QAction*> menus = pBar->actions();
        ASSERT_EQ(menus.size(), 2);
        EXPECT_EQ(menus[0]->text(), QStringLiteral("&File"));
        EXPECT_EQ(menus[1]->text(), QStringLiteral("&Help"));
        const QList<QAction*> fileItems = menus[0]->menu()->actions();
        ASSERT_EQ(fileItems.size(), 3);
        EXPECT_TRUE(fileItems[1]->isSeparator());
        EXPECT_EQ(fileItems[2]->text(), QStringLiteral("E&xit"));

        host.MenuAction(ID_T_OPEN)->trigger();
        host.MenuAction(ID_T_ABOUT)->trigger();
        host.EnableMenuItem(ID_T_OPEN, false);
        EXPECT_FALSE(host.IsMenuItemEnabled(ID_T_OPEN));
        EXPECT_TRUE(host.IsMenuItemEnabled(ID_T_EXIT));
        host.MenuAction(ID_T_OPEN)->trigger();   // greyed: does nothing
        host.EnableMenuItem(0, false);           // the separator: nothing happens

        const std::vector<Message> commands = dialog.Commands();
        ASSERT_EQ(commands.size(), 2u);
        EXPECT_TRUE(IsCommand(commands[0], ID_T_OPEN, 0));
        EXPECT_TRUE(IsCommand(commands[1], ID_T_ABOUT, 0));
    });
}

TEST_F(QtDialogHostTest, TraceAppendsAtTheVeryEndWhateverTheSelection)
{
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        auto* pTrace = FindControl<QPlainTextEdit>(W(host), IDC_T_TRACE);
        host.EditAppendText(IDC_T_TRACE, QStringLiteral("one\r\n"));
        host.EditAppendText(IDC_T_TRACE, QStringLiteral("two\r\n"));

        // The operator selects the first line and puts the caret at the start.
        QTextCursor cursor = pTrace->textCursor();
        cursor.movePosition(QTextCursor::Start);
        cursor.movePosition(QTextCursor::EndOfLine, QTextCursor::KeepAnchor);
        pTrace->setTextCursor(cursor);
        host.EditAppendText(IDC_T_TRACE, QStringLiteral("three\r\n"));
        EXPECT_EQ(host.GetDlgItemText(IDC_T_TRACE), QStringLiteral("one\r\ntwo\r\nthree\r\n"));

        // Many lines: the box scrolls to the end; a long line wraps instead of widening the box.
        for (int i = 0; i < 60; ++i)
            host.EditAppendText(IDC_T_TRACE, QStringLiteral("line %1\r\n").arg(i));
        host.EditAppendText(IDC_T_TRACE, QString(400, QLatin1Char('x')) + QStringLiteral("\r\n"));
        QScrollBar* pScroll = pTrace->verticalScrollBar();
        EXPECT_GT(pScroll->maximum(), 0);
        EXPECT_EQ(pScroll->value(), pScroll->maximum());
        EXPECT_EQ(pTrace->horizontalScrollBar()->maximum(), 0);
        EXPECT_FALSE(pTrace->document()->isUndoAvailable());

        host.SetDlgItemText(IDC_T_TRACE, QString());
        EXPECT_EQ(host.GetDlgItemText(IDC_T_TRACE), QString());
        host.EditAppendText(IDC_T_TRACE, QStringLiteral("again\r\n"));
        EXPECT_EQ(host.GetDlgItemText(IDC_T_TRACE), QStringLiteral("again\r\n"));
    });
}

TEST_F(QtDialogHostTest, TextsProgressAndIconReachTheWidgets)
{
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        QWidget* pWindow = W(host);
        host.SetDlgItemText(IDC_T_FIELD, QStringLiteral("0x0d8c"));
        EXPECT_EQ(FindControl<QLineEdit>(pWindow, IDC_T_FIELD)->text(), QStringLiteral("0x0d8c"));
        EXPECT_EQ(host.GetDlgItemText(IDC_T_FIELD), QStringLiteral("0x0d8c"));
        EXPECT_EQ(host.GetDlgItemText(IDC_T_GO), QStringLiteral("Go"));
        EXPECT_EQ(host.GetDlgItemText(4711), QString());

        host.ProgressSetRange(IDC_T_PROGRESS, 0, 100);
        host.ProgressSetPos(IDC_T_PROGRESS, 30);
        EXPECT_EQ(FindControl<QProgressBar>(pWindow, IDC_T_PROGRESS)->value(), 30);
        EXPECT_EQ(host.ProgressGetPos(IDC_T_PROGRESS), 30);

        EXPECT_TRUE(pWindow->windowIcon().isNull());
        host.SetIcon(IDR_T_ICON, true);
        host.SetIcon(IDR_T_ICON, false);
        EXPECT_FALSE(pWindow->windowIcon().isNull());
    });
}

TEST_F(QtDialogHostTest, TimersDeliverTimerMessagesUntilKilled)
{
    dialog.onMessage = [&](const Message& msg) {
        if (msg.kind == MessageKind::Timer && dialog.Count(MessageKind::Timer) == 3) {
            dialog.Host()->KillTimer(5);
            dialog.Host()->EndDialog(IDOK);
        }
        return false;
    };
    const int nResult = RunModalWithScript(
        factory, dialog,
        [&](CQtDialogHost& host) {
            EXPECT_EQ(host.SetTimer(5, 0), 5u);
            EXPECT_EQ(host.SetTimer(0, 10), 0u);   // no timer without an identifier
        },
        false);
    EXPECT_EQ(nResult, IDOK);
    EXPECT_EQ(dialog.Count(MessageKind::Timer), 3u);
    for (const auto& received : dialog.Messages()) {
        if (received.msg.kind == MessageKind::Timer) {
            EXPECT_EQ(received.msg.nId, 5);
        }
    }
}

TEST_F(QtDialogHostTest, ModalChildStoresItsFieldsOnOkAndKeepsThemOnCancel)
{
    CChildDialog child;
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        // Enter on the check box is OK (the default button), which stores the field.
        WhenModalOpens(factory, [&](CQtDialogHost& childHost) {
            auto* pCheck = FindControl<QCheckBox>(childHost.Window(), IDC_T_CHILD_CHECK);
            EXPECT_FALSE(pCheck->isChecked());
            QTest::mouseClick(pCheck, Qt::LeftButton);
            pCheck->setFocus();
            QTest::keyClick(pCheck, Qt::Key_Return);
        });
        EXPECT_EQ(host.RunModalChild(child), IDOK);
        EXPECT_EQ(child.m_bCheck, 1);

        // Escape is Cancel: the field keeps its value.
        WhenModalOpens(factory, [&](CQtDialogHost& childHost) {
            auto* pCheck = FindControl<QCheckBox>(childHost.Window(), IDC_T_CHILD_CHECK);
            EXPECT_TRUE(pCheck->isChecked());   // loaded from the field
            QTest::mouseClick(pCheck, Qt::LeftButton);
            QTest::keyClick(childHost.Window(), Qt::Key_Escape);
        });
        EXPECT_EQ(host.RunModalChild(child), IDCANCEL);
        EXPECT_EQ(child.m_bCheck, 1);
        EXPECT_EQ(factory.TopHost(), &host);
    });
    EXPECT_EQ(child.Count(MessageKind::Destroy), 2u);
}

TEST_F(QtDialogHostTest, DialogEndedWhileInitialisingNeverShows)
{
    bool bShown = false;
    dialog.onInit = [&] {
        dialog.Host()->EndDialog(7);
        bShown = dialog.Host() != nullptr && static_cast<CQtDialogHost*>(dialog.Host())->Window()->isVisible();
    };
    EXPECT_EQ(factory.RunModal(dialog), 7);
    EXPECT_FALSE(bShown);
    EXPECT_EQ(dialog.Count(MessageKind::Destroy), 1u);
    EXPECT_EQ(dialog.Host(), nullptr);
    EXPECT_EQ(factory.TopHost(), nullptr);
}

// A worker drives the window while the user-interface thread runs the modal loop: every call is
// carried out on the user-interface thread and returns; nothing deadlocks.
TEST_F(QtDialogHostTest, WorkerThreadCallsAreCarriedOutOnTheUserInterfaceThread)
{
    std::thread worker;
    std::atomic<bool> bWorkerDone{false};
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
                host.EditAppendText(IDC_T_TRACE, QStringLiteral("Firmware upgrade started....\r\n"));
                host.EnableDlgItem(IDC_T_GO, false);
                host.EnableMenuItem(ID_T_OPEN, false);
                host.ComboAddString(IDC_T_COMBO, QStringLiteral("device"));
                nTimer = host.SetTimer(1, 1000);
                host.KillTimer(1);
                host.MessageBox(QStringLiteral("Write flash failed!"));
                bWorkerDone = true;
                Message done;
                done.nId = ID_T_WORKER_DONE;
                host.PostMessage(done);
            });
        },
        false);

    EXPECT_EQ(nResult, IDOK);
    EXPECT_TRUE(bWorkerDone);
    EXPECT_EQ(strReadBack, QStringLiteral("from the worker"));
    EXPECT_EQ(nTimer, 1u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], QStringLiteral("QuillonTest|Write flash failed!"));
    EXPECT_EQ(boxThreads[0], uiThread);
    for (const auto& received : dialog.Messages())
        EXPECT_EQ(received.thread, uiThread);
}

// Without the observer a worker's message box is a real one: modal to the main window, the
// application title as caption, no icon, only OK; the worker waits until it is answered.
TEST_F(QtDialogHostTest, WorkerMessageBoxIsModalToTheWindowWhileTheWorkerWaits)
{
    factory.SetMessageBoxObserver(nullptr);
    std::thread worker;
    std::atomic<bool> bReturned{false};
    bool bSeen = false;
    dialog.onMessage = [&](const Message& msg) {
        if (msg.kind == MessageKind::Command && msg.nId == ID_T_WORKER_DONE) {
            worker.join();
            dialog.Host()->EndDialog(IDOK);
            return true;
        }
        return false;
    };
    RunModalWithScript(
        factory, dialog,
        [&](CQtDialogHost& host) {
            WhenModal([&](QWidget* pModal) {
                auto* pBox = qobject_cast<QMessageBox*>(pModal);
                if (pBox == nullptr)
                    return false;
                bSeen = true;
                EXPECT_FALSE(bReturned);
                EXPECT_EQ(pBox->parentWidget(), host.Window());
                EXPECT_EQ(pBox->windowTitle(), QStringLiteral("QuillonTest"));
                EXPECT_EQ(pBox->text(), QStringLiteral("Do NOT exit while DFU is running!"));
                EXPECT_EQ(pBox->icon(), QMessageBox::NoIcon);
                EXPECT_EQ(pBox->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
                QTest::mouseClick(pBox->button(QMessageBox::Ok), Qt::LeftButton);
                return true;
            });
            worker = std::thread([&] {
                host.MessageBox(QStringLiteral("Do NOT exit while DFU is running!"));
                bReturned = true;
                Message done;
                done.nId = ID_T_WORKER_DONE;
                host.PostMessage(done);
            });
        },
        false);
    EXPECT_TRUE(bSeen);
    EXPECT_TRUE(bReturned);
}

TEST_F(QtDialogHostTest, SaveDialogAppendsTheDefaultExtensionAndAsksBeforeOverwriting)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    RunModalWithScript(factory, dialog, [&](CQtDialogHost& host) {
        FileDialogRequest request;
        request.strFilter = QStringLiteral("Firmware Files (*.bin)|*.bin|All Files (*.*)|*.*||");
        request.strDefaultExt = QStringLiteral("bin");
        request.bOverwritePrompt = true;
        WhenModal([&](QWidget* pModal) {
            auto* pDialog = qobject_cast<QFileDialog*>(pModal);
            if (pDialog == nullptr)
                return false;
            EXPECT_EQ(pDialog->parentWidget(), host.Window());
            EXPECT_EQ(pDialog->acceptMode(), QFileDialog::AcceptSave);
            EXPECT_EQ(pDialog->nameFilters(),
                      QStringList({QStringLiteral("Firmware Files (*.bin)"), QStringLiteral("All Files (*)")}));
            EXPECT_FALSE(pDialog->testOption(QFileDialog::DontConfirmOverwrite));
            QMetaObject::invokeMethod(pDialog, "accept");
            return true;
        });
        QString path = dir.filePath(QStringLiteral("upload"));
        ASSERT_TRUE(host.GetSaveFileName(request, path));
        EXPECT_EQ(path, dir.filePath(QStringLiteral("upload.bin")));

        // Open: only existing files, and a cancelled dialog changes nothing.
        WhenModal([&](QWidget* pModal) {
            auto* pDialog = qobject_cast<QFileDialog*>(pModal);
            if (pDialog == nullptr)
                return false;
            EXPECT_EQ(pDialog->acceptMode(), QFileDialog::AcceptOpen);
            EXPECT_EQ(pDialog->fileMode(), QFileDialog::ExistingFile);
            pDialog->reject();
            return true;
        });
        QString openPath = QStringLiteral("unchanged");
        EXPECT_FALSE(host.GetOpenFileName(request, openPath));
        EXPECT_EQ(openPath, QStringLiteral("unchanged"));
    });
}

TEST_F(QtDialogHostTest, MessagesPostedFromAnotherThreadArriveOnTheUserInterfaceThread)
{
    const std::thread::id uiThread = std::this_thread::get_id();
    dialog.onMessage = [&](const Message& msg) {
        if (msg.kind == MessageKind::DeviceChange)
            dialog.Host()->EndDialog(IDOK);
        return false;
    };
    const int nResult = RunModalWithScript(
        factory, dialog,
        [&](CQtDialogHost& host) {
            std::thread([&host] {
                Message msg;
                msg.kind = MessageKind::DeviceChange;
                msg.notice.nEvent = DBT_DEVICEARRIVAL;
                msg.notice.strPath = u"/dev/hidraw7";
                host.PostMessage(msg);
            }).join();
        },
        false);
    EXPECT_EQ(nResult, IDOK);
    bool bFound = false;
    for (const auto& received : dialog.Messages()) {
        if (received.msg.kind != MessageKind::DeviceChange)
            continue;
        bFound = true;
        EXPECT_EQ(received.thread, uiThread);
        EXPECT_EQ(received.msg.notice.strPath, u"/dev/hidraw7");
    }
    EXPECT_TRUE(bFound);
}

}  // namespace
