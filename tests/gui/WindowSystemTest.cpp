// The windows on a real X server (Xvfb, the xcb platform): F1, the Tab order of every dialog, Escape
// after a menu, the DFU File field and the greyed check boxes. Keys enter where the window system
// delivers them (the dialog's window), so Qt routes them to an open menu or the focused control as it
// does for a real key.
#include "gui/QtTestSupport.h"

#include "app/AboutDlg.h"
#include "app/OptionsDlg.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QMenuBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>
#include <string>

namespace {

void Press(QWidget* pWindow, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(pWindow->windowHandle(), key, modifiers);
}

void Activate(QWidget* pWindow)
{
    pWindow->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(pWindow));
}

// The control that has the window's focus, whether or not the window system keeps the window active.
std::string FocusName(QWidget* pWindow)
{
    QWidget* pFocus = pWindow->focusWidget();
    return pFocus != nullptr ? pFocus->objectName().toStdString() : "(none)";
}

class WindowSystemTest : public MainWindowTest {
protected:
    WindowSystemTest() : factory(QStringLiteral("Quillon"))
    {
        TestApp();
        UseExampleIni();
        PlugExample(kZa1200, u"/tmp/sim/za1200.json");
        factory.SetMessageBoxObserver([](const QString&, const QString& text) { ADD_FAILURE() << text.toStdString(); });
    }

    int RunMain(const std::function<void(CQtDialogHost&)>& script)
    {
        CQuillonDlg dlg(env);
        return RunModalWithScript(factory, dlg, [&](CQtDialogHost& host) {
            Activate(host.Window());
            script(host);
        });
    }

    CQtHostFactory factory;
};

TEST_F(WindowSystemTest, F1ShowsTheAboutBoxOnBothHosts)
{
    Open();
    Host().PressF1();
    EXPECT_EQ(session.ChildDialogs(), std::vector<int>{IDD_ABOUTBOX});
    Close();

    int nAboutBoxes = 0;
    const int nResult = RunMain([&](CQtDialogHost& host) {
        WhenModal([&](QWidget* pModal) {
            CQtDialogHost* pAbout = factory.TopHost();
            if (pAbout == &host || pModal != pAbout->Window())
                return false;
            ++nAboutBoxes;
            EXPECT_EQ(pAbout->Dialog().Template().nId, IDD_ABOUTBOX);
            EXPECT_EQ(pModal->parentWidget(), host.Window());
            Activate(pModal);
            Press(pModal, Qt::Key_F1);  // the About box has no Help of its own
            EXPECT_EQ(factory.OpenHosts().size(), 2u);
            Press(pModal, Qt::Key_Escape);
            if (factory.TopHost() == pAbout)
                pAbout->EndDialog(kLeftOpen);  // Escape failed: the check below says so
            return true;
        });
        Press(host.Window(), Qt::Key_F1);
        EXPECT_EQ(factory.TopHost(), &host);
    });
    EXPECT_EQ(nAboutBoxes, 1);
    EXPECT_EQ(nResult, kLeftOpen);
}

// Tab visits every enabled control that the template marks as a tab stop, in template order and round
// again (Shift+Tab is Qt's reverse of the same chain). The main window's "Upload Firmware" is reached
// while "Download Firmware" is checked.
TEST_F(WindowSystemTest, TabVisitsTheTabStopsOfEveryDialogInTemplateOrder)
{
    CQuillonDlg mainDlg(env);
    COptionsDlg options;
    options.m_bMatchVid = 1;
    CAboutDlg about;
    const struct {
        CDialog* pDialog;
        std::vector<std::string> expected;
    } cases[] = {
        {&mainDlg, {"1000", "1014", "1020", "1015", "1016", "1019"}},
        {&options, {"1", "2", "1024"}},
        {&about, {"1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pDialog->Template().pszCaption);
        RunModalWithScript(factory, *c.pDialog, [&](CQtDialogHost& host) {
            Activate(host.Window());
            std::vector<std::string> forward{FocusName(host.Window())};
            for (size_t i = 0; i < c.expected.size(); ++i) {
                Press(host.Window(), Qt::Key_Tab);
                forward.push_back(FocusName(host.Window()));
            }
            std::vector<std::string> round = c.expected;
            round.push_back(c.expected.front());
            EXPECT_EQ(forward, round);
            if (c.pDialog == &mainDlg) {
                // The arrow keys stay within the radio group and check the button they reach.
                host.Control(IDC_DOWNLOAD)->setFocus(Qt::TabFocusReason);
                Press(host.Window(), Qt::Key_Down);
                EXPECT_EQ(FocusName(host.Window()), "1015");
                EXPECT_EQ(host.GetCheck(IDC_UPLOAD), 1);
                EXPECT_EQ(host.GetCheck(IDC_DOWNLOAD), 0);
            }
        });
    }
}

// However a menu was opened, once Escape has closed it the keyboard is back with the control that had
// it, and the next Escape ends the window.
TEST_F(WindowSystemTest, EscapeAfterAClosedMenuIsTheDialogs)
{
    for (const bool bByMouse : {false, true}) {
        SCOPED_TRACE(bByMouse ? "menu opened by mouse" : "menu opened with Alt+F");
        const int nResult = RunMain([&](CQtDialogHost& host) {
            QWidget* pStart = host.Control(IDC_START);
            pStart->setFocus(Qt::TabFocusReason);
            QMenuBar* pBar = host.MenuBar();
            if (bByMouse)
                QTest::mouseClick(pBar, Qt::LeftButton, {}, pBar->actionGeometry(pBar->actions().front()).center());
            else
                Press(host.Window(), Qt::Key_F, Qt::AltModifier);
            ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }));
            Press(host.Window(), Qt::Key_Escape);
            EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
            QWidget* pWindow = host.Window();
            EXPECT_TRUE(QTest::qWaitFor([=] { return pWindow->focusWidget() == pStart; })) << FocusName(pWindow);
            Press(pWindow, Qt::Key_Escape);
        });
        EXPECT_EQ(nResult, IDCANCEL);
    }
}

TEST_F(WindowSystemTest, ALongImagePathShowsItsEndWithTheWholePathAsTooltip)
{
    const QString path = QStringLiteral("/home/operator/firmware/releases/2024/za1200/za1200-v0134-final.bin");
    RunMain([&](CQtDialogHost& host) {
        auto* pFile = FindControl<QLineEdit>(host.Window(), IDC_IMG_FILE);
        const QRect fileRect = pFile->geometry();
        host.SetDlgItemText(IDC_IMG_FILE, path);
        host.Window()->grab();  // paints, which scrolls the text
        EXPECT_EQ(pFile->toolTip(), path);
        EXPECT_EQ(pFile->geometry(), fileRect);
        // The end of the text is inside the field, and its start is scrolled out of it.
        const QRect end = pFile->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        EXPECT_GT(end.left(), pFile->width() / 2);
        EXPECT_LT(end.left(), pFile->width());
        // A text that fits takes the tooltip away.
        host.SetDlgItemText(IDC_IMG_FILE, QStringLiteral("/tmp/a.bin"));
        EXPECT_TRUE(pFile->toolTip().isEmpty());
    });
}

// Dark pixels inside a check box's indicator: the tick of a checked box, none for an unchecked one.
int DarkIndicatorPixels(QCheckBox* pBox)
{
    QStyleOptionButton option;
    option.initFrom(pBox);
    const QRect indicator = pBox->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, pBox);
    const QImage image = pBox->grab(indicator).toImage();
    int nDark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            nDark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
    }
    return nDark;
}

TEST_F(WindowSystemTest, GreyedMatchPolicyBoxesShowTheirStateLegibly)
{
    COptionsDlg options;
    options.m_bMatchVid = 1;
    RunModalWithScript(factory, options, [&](CQtDialogHost& host) {
        auto* pChecked = FindControl<QCheckBox>(host.Window(), IDC_MATCH_VID);
        auto* pUnchecked = FindControl<QCheckBox>(host.Window(), IDC_MATCH_PID);
        ASSERT_FALSE(pChecked->isEnabled());
        ASSERT_FALSE(pUnchecked->isEnabled());
        EXPECT_TRUE(pChecked->isChecked());
        EXPECT_GE(DarkIndicatorPixels(pChecked), 4);
        EXPECT_EQ(DarkIndicatorPixels(pUnchecked), 0);
    });
}

}  // namespace
