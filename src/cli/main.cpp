// quillon-cli: the main window's logic on the headless host, for scripts, production lines and CI.
#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "cli/CliOutput.h"

#include <QCoreApplication>
#include <iostream>
#include <unistd.h>

namespace {

int Dispatch(const CliOptions& options, CCliOutput& output)
{
    switch (options.command) {
    case CliCommand::List:
        return RunList(options, output);
    case CliCommand::Info:
        return RunInfo(options, output);
    case CliCommand::Download:
        return RunDownload(options, output);
    case CliCommand::Upload:
        return RunUpload(options, output);
    case CliCommand::ImageInfo:
        return RunImageInfo(options, output);
    case CliCommand::ImageStamp:
        return RunImageStamp(options, output);
    case CliCommand::FlashTableEncrypt:
        return RunFlashTableEncrypt(options, output);
    case CliCommand::FlashTableDecrypt:
        return RunFlashTableDecrypt(options, output);
    case CliCommand::FlashTableShow:
        return RunFlashTableShow(options, output);
    case CliCommand::ConfigCheck:
        return RunConfigCheck(options, output);
    case CliCommand::Doctor:
        return RunDoctor(options, output);
    case CliCommand::None:
        break;
    }
    return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv)
{
    CliOptions options;
    const int nParsed = ParseCommandLine(argc, argv, options, std::cout, std::cerr);
    if (nParsed >= 0)
        return nParsed;

    QCoreApplication app(argc, argv);
    CCliOutput output(std::cout, std::cerr, options.bJson, options.bQuiet, isatty(STDERR_FILENO) != 0);
    if (!options.strLogFile.empty() && !output.OpenLog(options.strLogFile)) {
        output.Error("cannot open the log file " + options.strLogFile);
        return EXIT_NOT_FOUND;
    }
    if (!options.strSimDir.empty() && access(options.strSimDir.c_str(), F_OK) != 0) {
        output.Error("no such emulator folder: " + options.strSimDir);
        return EXIT_NOT_FOUND;
    }
    return Dispatch(options, output);
}
