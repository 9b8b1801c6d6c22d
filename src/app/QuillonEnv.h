// The platform services a main window works with, chosen by its owner (the programs or a test).
#pragma once

#include <QString>
#include <cstdint>

class IProfileReader;
class IPreferenceStore;
class IClock;
class IDeviceNotifier;

// Real progress of a running operation, for front ends that show it (the command line's bar).
class IProgressObserver {
public:
    virtual ~IProgressObserver() = default;
    virtual void OnProgress(uint64_t nDone, uint64_t nTotal) = 0;
};

struct CQuillonEnv {
    QString strExecutablePath;  // resolved through links; empty when it cannot be read
    QString strAppTitle;        // caption of every message box, name of the preference key
    IProfileReader* pProfile = nullptr;
    IPreferenceStore* pPrefs = nullptr;
    IClock* pClock = nullptr;
    IDeviceNotifier* pNotifier = nullptr;    // null: no hot-plug notices
    IProgressObserver* pProgress = nullptr;  // null: nobody watches
    // An existing file chosen in a save dialog may be replaced (its overwrite question was answered);
    // false for an operator who never replaces a file (quillon-cli without --force).
    bool bReplaceConfirmed = true;
};
