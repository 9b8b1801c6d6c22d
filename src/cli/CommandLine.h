// quillon-cli's command table: one CLI11 app that parses the line, prints --help and feeds the manual
// page and the shell completion, so that the three never disagree.
#pragma once

#include "cli/CliOptions.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

// Option texts converted after parsing, and the flags whose absence matters.
struct CliRawOptions {
    std::string strMatchPolicy, strVid, strPid, strVersion, strSubVersion, strChip;
    std::vector<std::string> helpWords;
    bool bVerifyFlag = false;
    bool bUpdateAllFlag = false;
    CLI::Option* pVerify = nullptr;
    CLI::Option* pUpdateAll = nullptr;
};

// Which global options a command uses: shown in its --help and in the manual page.
struct CliCommandGlobals {
    const char* pszCommand;  // "download", "image stamp"
    std::vector<const char*> globals;
};
const std::vector<CliCommandGlobals>& CommandGlobals();

std::unique_ptr<CLI::App> BuildCommandLine(CliOptions& options, CliRawOptions& raw);

// Every runnable command of the app as its words ("image stamp"), in the order of the help.
std::vector<std::pair<std::string, CLI::App*>> LeafCommands(CLI::App& app);
// The option's names as the help shows them, without the flag values CLI11 would add ("--verify, --no-verify").
std::string OptionNames(const CLI::Option& option);
// The distance of two words counting a swap of neighbours as one edit.
size_t EditDistance(const std::string& a, const std::string& b);
