// The real main window under the Qt host, driven through its widgets: start-up on two example devices,
// selection, and an upload whose worker uses the window (the Options dialog: app/OptionsTest headless,
// WindowSystemTest on Qt).
#include "gui/QtTestSupport.h"

#include "support/WindowFixture.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class MainWindowGuiTest : public MainWindowTest {
protected:
    MainWindowGuiTest() : factory(QStringLiteral("Quillon"))
    {
        TestApp();
        UseExampleIni();
        pFirst = PlugExample(kZa1200, u"/tmp/sim/za1200.json");
        PlugExample(kZa2400, u"/tmp/sim/za2400.json");
        QPixmap icon(32, 32);
        icon.fill(Qt::darkBlue);
        factory.RegisterIcon(IDR_MAINFRAME, QStringLiteral("IDR_MAINFRAME"), QIcon(icon));
        // Neither start-up nor the upload shows a message box.
        factory.SetMessageBoxObserver([](const QString&, const QString& text) { ADD_FAILURE() << text.toStdString(); });
    }

    // Runs the main window with the script; returns how it ended.
    int Run(const std::function<void(CQtDialogHost&, CQuillonDlg&)>& script)
    {
        CQuillonDlg window(env);
        return RunModalWithScript(factory, window, [&](CQtDialogHost& qtHost) { script(qtHost, window); });
    }

    static QString Text(CQtDialogHost& qtHost, int nId) { return FindControl<QLineEdit>(qtHost.Window(), nId)->text(); }

    static QString Trace(CQtDialogHost& qtHost)
    {
        return FindControl<QPlainTextEdit>(qtHost.Window(), IDC_TRACE)->toPlainText();
    }

    CQtHostFactory factory;
    CFakeZelUsbDevice* pFirst = nullptr;
};

TEST_F(MainWindowGuiTest, StartUpShowsTheDevicesTheFirstIdentityAndTheCensusAndFollowsTheSelection)
{
    Run([&](CQtDialogHost& qtHost, CQuillonDlg&) {
        QWidget* pWindow = qtHost.Window();
        EXPECT_EQ(pWindow->windowTitle(), QStringLiteral("ZEL USB Firmware Upgrade - V2.1.0.1"));
        EXPECT_EQ(pWindow->windowIcon().cacheKey(), factory.FindIcon(IDR_MAINFRAME).cacheKey());

        auto* pCombo = FindControl<QComboBox>(pWindow, IDC_DEVICE_COMBO);
        ASSERT_EQ(pCombo->count(), 2);
        EXPECT_EQ(pCombo->itemText(0), QStringLiteral("ZEL ZA1200 Audio"));
        EXPECT_EQ(pCombo->itemText(1), QStringLiteral("ZEL ZA2400 Audio"));
        EXPECT_EQ(Text(qtHost, IDC_DEV_VID), QStringLiteral("0x2fe3"));
        EXPECT_EQ(Text(qtHost, IDC_DEV_PID), QStringLiteral("0x1200"));
        EXPECT_EQ(Text(qtHost, IDC_DEV_SUBVERSION), QStringLiteral("0x12000134"));
        EXPECT_EQ(Text(qtHost, IDC_DEV_CHIPSET), QStringLiteral("ZA1200+ZH880"));
        EXPECT_EQ(Trace(qtHost), QStringLiteral("Total 2 devices found!\nNo.0: /tmp/sim/za1200.json\n"
                                                "No.1: /tmp/sim/za2400.json\n"));
        EXPECT_TRUE(FindControl<QRadioButton>(pWindow, IDC_DOWNLOAD)->isChecked());
        EXPECT_EQ(notifier.nRegistrations, 1);

        // Choosing the other device shows its identity.
        pCombo->setFocus();
        QTest::keyClick(pCombo, Qt::Key_Down);
        EXPECT_EQ(Text(qtHost, IDC_DEV_PID), QStringLiteral("0x2400"));
        EXPECT_EQ(Text(qtHost, IDC_DEV_CHIPSET), QStringLiteral("ZA2400+ZI4344"));
    });
    EXPECT_EQ(notifier.nUnregistrations, 1);
}

// Start with "Upload Firmware": the worker asks for the file through the window (a real save dialog on
// the user-interface thread), locks the controls, writes the trace and the file, and unlocks.
TEST_F(MainWindowGuiTest, UploadRunsOnTheWorkerThroughTheWindow)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    pFirst->readData.assign(4096, 0x5a);

    // Whether Start is enabled while the device is read, asked from the worker thread.
    CQtDialogHost* pHost = nullptr;
    std::vector<bool> startEnabled;
    pFirst->onCall = [&](const std::string& name) {
        if (name == "ReadFlash" && pHost != nullptr)
            startEnabled.push_back(pHost->IsDlgItemEnabled(IDC_START));
    };

    Run([&](CQtDialogHost& qtHost, CQuillonDlg& window) {
        pHost = &qtHost;
        QWidget* pWindow = qtHost.Window();
        QTest::mouseClick(FindControl<QRadioButton>(pWindow, IDC_UPLOAD), Qt::LeftButton);
        QTest::mouseClick(FindControl<QPushButton>(pWindow, IDC_CLEAR_TRACE), Qt::LeftButton);
        WhenModal([&](QWidget* pModal) {
            auto* pDialog = qobject_cast<QFileDialog*>(pModal);
            if (pDialog == nullptr)
                return false;
            EXPECT_EQ(pDialog->acceptMode(), QFileDialog::AcceptSave);
            EXPECT_EQ(pDialog->defaultSuffix(), QStringLiteral("bin"));
            EXPECT_EQ(pDialog->nameFilters(),
                      QStringList({QStringLiteral("BIN Files (*.bin)"), QStringLiteral("All Files (*)")}));
            EXPECT_EQ(pDialog->parentWidget(), pWindow);
            pDialog->selectFile(dir.filePath(QStringLiteral("readback")));
            QMetaObject::invokeMethod(pDialog, "accept");
            return true;
        });
        QTest::mouseClick(FindControl<QPushButton>(pWindow, IDC_START), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.IsWorkerRunning(); }, 20000));

        EXPECT_TRUE(FindControl<QPushButton>(pWindow, IDC_START)->isEnabled());
        // The census went with Clear Trace; the operation's lines are checked word for word in tests/dfu.
        EXPECT_TRUE(Trace(qtHost).startsWith(QStringLiteral("Waiting until device is switched to DFU mode!\n")));
        EXPECT_TRUE(Trace(qtHost).endsWith(QStringLiteral("Device is switched to normal mode successfully!\n")));
        pHost = nullptr;
    });
    EXPECT_FALSE(startEnabled.empty());
    EXPECT_EQ(startEnabled, std::vector<bool>(startEnabled.size(), false));
    QFile file(dir.filePath(QStringLiteral("readback.bin")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray(4096, 0x5a));
}

}  // namespace
