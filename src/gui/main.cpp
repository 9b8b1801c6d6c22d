// Quillon: the operator's window. Picks the devices (real ones, or the emulator's folder), sets up the
// platform services and runs the main window through the Qt host.
#include "app/QuillonApp.h"
#include "app/Resource.h"
#include "compose/ProgramServices.h"
#include "gui/ProgramOptions.h"
#include "platform/NativePath.h"
#include "platform/PreferenceStore.h"
#include "platform/qt/QtHostFactory.h"

#include <QApplication>
#include <QIcon>
#include <iostream>

namespace {

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int nSize : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/quillon/quillon-%1.png").arg(nSize), QSize(nSize, nSize));
    return icon;
}

}  // namespace

int main(int argc, char** argv)
{
    // The title comes from the executable's own name, resolved through links.
    const QString executablePath = ReadExecutablePath();
    QString title = ApplicationTitleFromPath(executablePath);
    if (title.isEmpty())
        title = QStringLiteral("Quillon");

    // Before the window system is reached, so that --help and --version work without a display.
    const ProgramOptions options = ParseProgramOptions(argc, argv, title.toStdString());
    if (options.bExit)
        return options.nExitCode;
    if (const QString problem = SettingsStoreProblem(title); !problem.isEmpty())
        std::cerr << title.toStdString() << ": " << PrintableText(problem) << "; the stored preferences are not used\n";

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("ZEL"));
    QApplication::setApplicationName(title);
    QApplication::setApplicationVersion(QStringLiteral(QUILLON_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("quillon"));
    // Only the main window's end ends the program, whatever windows come and go before it.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    const QIcon icon = ApplicationIcon();
    QApplication::setWindowIcon(icon);

    CProgramServices services(options.strSimDir, title);
    CQuillonEnv env = services.Env(executablePath);

    CQtHostFactory factory(title);
    factory.RegisterIcon(IDR_MAINFRAME, QStringLiteral("IDR_MAINFRAME"), icon);

    CQuillonApp quillon;
    quillon.InitInstance(factory, env);

    // The window released every device when it ended; the notifier stopped with it.
    return 0;
}
