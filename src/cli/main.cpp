// quillon-cli: the main window's logic on the headless host, for scripts, production lines and CI.
#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "cli/CliOutput.h"

#include "platform/NativePath.h"

#include <QCoreApplication>
#include <csignal>
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
    case CliCommand::Watch:
        return RunWatch(options, output);
    case CliCommand::Help:
    case CliCommand::None:
        break;
    }
    return EXIT_USAGE;
}

const char* CommandName(CliCommand command)
{
    switch (command) {
    case CliCommand::List:
        return "list";
    case CliCommand::Info:
        return "info";
    case CliCommand::Download:
        return "download";
    case CliCommand::Upload:
        return "upload";
    case CliCommand::ImageInfo:
        return "image info";
    case CliCommand::ImageStamp:
        return "image stamp";
    case CliCommand::FlashTableEncrypt:
        return "flash-table encrypt";
    case CliCommand::FlashTableDecrypt:
        return "flash-table decrypt";
    case CliCommand::FlashTableShow:
        return "flash-table show";
    case CliCommand::ConfigCheck:
        return "config check";
    case CliCommand::Doctor:
        return "doctor";
    case CliCommand::Watch:
        return "watch";
    case CliCommand::Help:
    case CliCommand::None:
        break;
    }
    return "";
}

}  // namespace

int main(int argc, char** argv)
{
    // A reader that goes away (`| head`, a closed terminal under `| tee`) must not end an operation
    // half-way: a failed write is remembered instead, and reported at the end.
    std::signal(SIGPIPE, SIG_IGN);
    CliOptions options;
    const int nParsed = ParseCommandLine(argc, argv, options, std::cout, std::cerr);
    if (nParsed >= 0)
        return nParsed;

    QCoreApplication app(argc, argv);
    CCliOutput output(std::cout, std::cerr, options.bJson, options.bQuiet, isatty(STDERR_FILENO) != 0);
    std::string strReason;
    if (!options.strLogFile.empty() && !output.OpenLog(options.strLogFile, strReason)) {
        output.Error("cannot open the log file " + PrintablePath(options.strLogFile) + ": " + strReason);
        output.Finish(CommandName(options.command), EXIT_NOT_FOUND);
        return EXIT_NOT_FOUND;
    }
    const int nExit = Dispatch(options, output);
    output.Finish(CommandName(options.command), output.Lost().empty() ? nExit : EXIT_OUTPUT_LOST);
    const std::string lost = output.Lost();
    if (lost.empty())
        return nExit;
    output.ReportLost("output lost (" + lost + "); the command ran to its end with status " + std::to_string(nExit));
    return EXIT_OUTPUT_LOST;
}
