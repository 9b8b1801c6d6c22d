// The composition root of both programs: the device backend and its hot-plug source (real devices, or
// the emulator's folder), the profile reader, the preference store and the clock that the main window
// runs with. While it lives, its backend serves the device library.
#pragma once

#include "app/QuillonEnv.h"

#include <QString>
#include <memory>
#include <string>

class IDeviceNotifier;
class IPreferenceStore;
class IProfileReader;
class IZelHidBackend;

class CProgramServices {
public:
    // strSimDir empty: real devices through hidapi and udev. strAppTitle names the preference store.
    // strOnlyDevice: the interface path of the one device served (quillon-cli's parallel runs); empty: all.
    CProgramServices(const std::string& strSimDir, const QString& strAppTitle, const std::string& strOnlyDevice = {});
    // The previous backend serves the library again.
    ~CProgramServices();
    CProgramServices(const CProgramServices&) = delete;
    CProgramServices& operator=(const CProgramServices&) = delete;

    IPreferenceStore& Preferences() { return *m_pPrefs; }
    // The window's environment: the title, the executable's path and these services (no progress
    // observer).
    CQuillonEnv Env(const QString& strExecutablePath) const;

private:
    QString m_strAppTitle;
    std::unique_ptr<IZelHidBackend> m_pBackend;
    std::unique_ptr<IDeviceNotifier> m_pNotifier;
    IZelHidBackend* m_pPrevious = nullptr;
    std::unique_ptr<IProfileReader> m_pProfile;
    std::unique_ptr<IPreferenceStore> m_pPrefs;
};
