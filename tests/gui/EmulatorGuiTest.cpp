// The whole stack behind the window: the emulator's example devices (a scratch copy of examples/sim),
// the real configuration beside the built program, the folder's hot-plug notices, and a download
// started from the window's widgets.
#include "gui/QtTestSupport.h"

#include "app/MainWindowFixture.h"
#include "app/Resource.h"
#include "emulator/hid/EmulatorBackend.h"
#include "platform/ProfileReader.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class EmulatorGuiTest : public MainWindowTest {
protected:
    EmulatorGuiTest() : factory(QStringLiteral("Quillon"))
    {
        TestApp();
        const QDir examples(QStringLiteral(QUILLON_SOURCE_DIR "/examples/sim"));
        for (const QString& name : examples.entryList({QStringLiteral("*.json")}, QDir::Files))
            EXPECT_TRUE(QFile::copy(examples.filePath(name), simDir.filePath(name))) << name.toStdString();
        pBackend = CreateEmulatorBackend(simDir.path().toStdString());
        pNotifier = CreateSimFolderNotifier(simDir.path().toStdString());
        pPrevious = SetZelHidBackend(pBackend.get());
        pProfile = CreateFileProfileReader();

        env.strExecutablePath = QStringLiteral(QUILLON_BINARY_DIR "/bin/Quillon");
        env.pProfile = pProfile.get();
        env.pNotifier = pNotifier.get();
        factory.SetMessageBoxObserver([this](const QString&, const QString& text) { boxes.push_back(text); });
    }

    ~EmulatorGuiTest() override { SetZelHidBackend(pPrevious); }

    static QString Trace(CQtDialogHost& host)
    {
        return FindControl<QPlainTextEdit>(host.Window(), IDC_TRACE)->toPlainText();
    }
    static QString Field(CQtDialogHost& host, int nId) { return FindControl<QLineEdit>(host.Window(), nId)->text(); }

    QTemporaryDir simDir;
    std::unique_ptr<IZelHidBackend> pBackend;
    std::unique_ptr<IDeviceNotifier> pNotifier;
    IZelHidBackend* pPrevious = nullptr;
    std::unique_ptr<IProfileReader> pProfile;
    CQtHostFactory factory;
    std::vector<QString> boxes;
};

TEST_F(EmulatorGuiTest, DownloadsAnExampleImageAndFollowsTheFolder)
{
    ASSERT_TRUE(simDir.isValid());
    const QString image = QStringLiteral(QUILLON_SOURCE_DIR "/examples/images/za1200-fw-0106.bin");
    const QString za1200 = QDir::cleanPath(simDir.filePath(QStringLiteral("za1200.json")));

    CQuillonDlg dlg(env);
    const int nResult = RunModalWithScript(factory, dlg, [&](CQtDialogHost& host) {
        QWidget* pWindow = host.Window();
        auto* pCombo = FindControl<QComboBox>(pWindow, IDC_DEVICE_COMBO);
        ASSERT_EQ(pCombo->count(), 4);
        EXPECT_EQ(pCombo->itemText(0), QStringLiteral("ZEL ZA1200 Audio"));
        EXPECT_TRUE(Trace(host).startsWith(QStringLiteral("Total 4 devices found!\nNo.0: ")));
        EXPECT_EQ(Field(host, IDC_DEV_CHIPSET), QStringLiteral("ZA1200+ZH880"));

        // File > Open Image, answered in the real file dialog.
        WhenModal([&](QWidget* pModal) {
            auto* pDialog = qobject_cast<QFileDialog*>(pModal);
            if (pDialog == nullptr)
                return false;
            EXPECT_EQ(pDialog->nameFilters(),
                      QStringList({QStringLiteral("DFU Files (*.bin)"), QStringLiteral("All Files (*)")}));
            pDialog->selectFile(image);
            QMetaObject::invokeMethod(pDialog, "accept");
            return true;
        });
        host.MenuAction(ID_FILE_OPEN_IMAGE)->trigger();
        EXPECT_EQ(Field(host, IDC_IMG_FILE), image);
        EXPECT_EQ(Field(host, IDC_IMG_VID), QStringLiteral("0x2fe3"));
        EXPECT_EQ(Field(host, IDC_IMG_VERSION), QStringLiteral("0x0106"));

        QTest::mouseClick(FindControl<QPushButton>(pWindow, IDC_CLEAR_TRACE), Qt::LeftButton);
        QTest::mouseClick(FindControl<QPushButton>(pWindow, IDC_START), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.IsWorkerRunning(); }, 60000));
        EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? std::string() : boxes[0].toStdString());
        EXPECT_TRUE(Trace(host).contains(QStringLiteral("Firmware upgrade succeeded....\n")))
            << Trace(host).toStdString();
        EXPECT_TRUE(Trace(host).endsWith(QStringLiteral("Device is switched to normal mode successfully!\n")));
        EXPECT_TRUE(FindControl<QPushButton>(pWindow, IDC_START)->isEnabled());

        // A device file that appears in the folder is a plugged device.
        QTest::mouseClick(FindControl<QPushButton>(pWindow, IDC_CLEAR_TRACE), Qt::LeftButton);
        const QString copy = QDir::cleanPath(simDir.filePath(QStringLiteral("za1200-second.json")));
        QFile deviceFile(za1200);
        ASSERT_TRUE(deviceFile.open(QIODevice::ReadOnly));
        QByteArray bytes = deviceFile.readAll();
        bytes.replace("ZA1200-000101", "ZA1200-000102");
        QFile target(copy);
        ASSERT_TRUE(target.open(QIODevice::WriteOnly));
        target.write(bytes);
        target.close();
        ASSERT_TRUE(QTest::qWaitFor([&] { return pCombo->count() == 5; }, 20000)) << Trace(host).toStdString();
        EXPECT_EQ(Trace(host), QStringLiteral("Device %1 is plugged in\n").arg(copy));
    });
    EXPECT_EQ(nResult, kLeftOpen);
}

}  // namespace
