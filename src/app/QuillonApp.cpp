#include "app/QuillonApp.h"

#include "app/QuillonDlg.h"
#include "platform/DialogHost.h"
#include "platform/NativePath.h"
#include "platform/PreferenceStore.h"

#include <QFileInfo>
#include <filesystem>
#include <memory>

bool CQuillonApp::InitInstance(IHostFactory& factory, CQuillonEnv& env)
{
    if (env.strExecutablePath.isEmpty())
        env.strExecutablePath = ReadExecutablePath();
    if (env.strAppTitle.isEmpty())
        env.strAppTitle = ApplicationTitleFromPath(env.strExecutablePath);
    if (env.strAppTitle.isEmpty())
        env.strAppTitle = QStringLiteral("Quillon");

    std::unique_ptr<IPreferenceStore> pOwnPrefs;
    if (env.pPrefs == nullptr) {
        pOwnPrefs = CreateSettingsPreferenceStore(env.strAppTitle);
        env.pPrefs = pOwnPrefs.get();
    }

    {
        CQuillonDlg dlg(env);
        factory.RunModal(dlg);
    }

    if (pOwnPrefs)
        env.pPrefs = nullptr;
    return false;
}

// /proc/self/exe names the file actually running, so an installed link (bin/quillon pointing to
// lib/quillon/Quillon) leads to the directory that holds the data files.
QString ReadExecutablePath()
{
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::canonical("/proc/self/exe", ec);
    return ec ? QString() : PathFromNative(path.string());
}

QString ApplicationTitleFromPath(const QString& executablePath)
{
    return QFileInfo(executablePath).completeBaseName();
}
