// The command line of the window program.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

struct ProgramOptions {
    std::string strSimDir;  // the emulator's device folder; empty: real devices
    bool bExit = false;     // --help or --version was answered, or the line was wrong
    int nExitCode = 0;
};

// Reads --sim DIR (or QUILLON_SIM_DIR), --help and --version; prints help, version and errors itself.
// Options of the toolkit (-platform, -style, ...) are left for it; an unknown "--" option is an error.
ProgramOptions ParseProgramOptions(int argc, char** argv, const std::string& title);

// The window's command line, as it parses it and as its manual page shows it.
std::unique_ptr<CLI::App> BuildProgramCommandLine(ProgramOptions& options, const std::string& title);
