#include "compose/ProgramServices.h"

#include "device/zelhid/ZelHidBackend.h"
#include "emulator/hid/EmulatorBackend.h"
#include "platform/Clock.h"
#include "platform/PreferenceStore.h"
#include "platform/ProfileReader.h"

CProgramServices::CProgramServices(const std::string& strSimDir, const QString& strAppTitle,
                                   const std::string& strOnlyDevice)
    : m_strAppTitle(strAppTitle)
{
    if (!strSimDir.empty()) {
        m_pBackend = CreateEmulatorBackend(strSimDir, strOnlyDevice);
        m_pNotifier = CreateSimFolderNotifier(strSimDir);
    } else {
        m_pBackend = CreateHidapiBackend(strOnlyDevice);
        m_pNotifier = CreateUdevNotifier();
    }
    m_pPrevious = SetZelHidBackend(m_pBackend.get());
    m_pProfile = CreateFileProfileReader();
    m_pPrefs = CreateSettingsPreferenceStore(strAppTitle);
}

CProgramServices::~CProgramServices()
{
    SetZelHidBackend(m_pPrevious);
}

CQuillonEnv CProgramServices::Env(const QString& strExecutablePath) const
{
    CQuillonEnv env;
    env.strExecutablePath = strExecutablePath;
    env.strAppTitle = m_strAppTitle;
    env.pProfile = m_pProfile.get();
    env.pPrefs = m_pPrefs.get();
    env.pClock = &SystemClock();
    env.pNotifier = m_pNotifier.get();
    return env;
}
