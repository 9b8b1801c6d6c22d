// The application object: fixes the preference store and runs the main window once.
#pragma once

#include "app/QuillonEnv.h"

#include <QString>

class IHostFactory;

class CQuillonApp {
public:
    // The whole life of the program: fills what the environment lacks (executable path, title,
    // preference store), runs the main window modally through the factory and returns false.
    bool InitInstance(IHostFactory& factory, CQuillonEnv& env);
};

// The running executable's path, resolved through symbolic links; empty when it cannot be read.
QString ReadExecutablePath();
// The executable's file name without directory and extension.
QString ApplicationTitleFromPath(const QString& executablePath);
