#include "gui/ProgramOptions.h"

#include "emulator/SimFolder.h"
#include "emulator/hid/EmulatorBackend.h"

#include <CLI/CLI.hpp>
#include <iostream>

#ifndef QUILLON_VERSION
#error "QUILLON_VERSION must name the program's version"
#endif

std::unique_ptr<CLI::App> BuildProgramCommandLine(ProgramOptions& options, const std::string& title)
{
    auto pApp = std::make_unique<CLI::App>(
        title + " " QUILLON_VERSION
                ": downloads firmware into HID DFU audio controllers, or reads it back into a file.",
        title);
    pApp->allow_extras();
    pApp->set_version_flag("--version", title + " " QUILLON_VERSION);
    pApp->add_option("--sim", options.strSimDir,
                     "Work on the emulated devices described in this folder instead of real devices "
                     "(default: the folder named by QUILLON_SIM_DIR)")
        ->option_text("DIR");
    pApp->footer("Without --sim or QUILLON_SIM_DIR the program works on real devices through hidraw.");
    return pApp;
}

ProgramOptions ParseProgramOptions(int argc, char** argv, const std::string& title)
{
    ProgramOptions options;
    const std::unique_ptr<CLI::App> pApp = BuildProgramCommandLine(options, title);
    CLI::App& app = *pApp;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        options.bExit = true;
        options.nExitCode = app.exit(error);
        return options;
    }

    // What is left belongs to the toolkit, whose options take one dash (-platform, -style); a
    // double-dash word that is not ours is a mistake, not something to start the window with.
    for (const std::string& extra : app.remaining()) {
        if (extra.rfind("--", 0) == 0) {
            std::cerr << title << ": unknown option " << extra << "\nRun with --help for more information.\n";
            options.bExit = true;
            options.nExitCode = 2;
            return options;
        }
    }

    const bool bFromOption = !options.strSimDir.empty();
    if (!bFromOption)
        options.strSimDir = SimDirFromEnvironment();
    if (!options.strSimDir.empty()) {
        const std::string problem = CheckSimFolder(options.strSimDir, bFromOption);
        if (!problem.empty()) {
            std::cerr << title << ": " << problem << "\n";
            options.bExit = true;
            options.nExitCode = kSimFolderExitStatus;
        }
    }
    return options;
}
