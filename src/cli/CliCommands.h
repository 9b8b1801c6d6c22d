// The commands of quillon-cli; each returns its exit status (EXIT_OK, ...).
#pragma once

#include "cli/CliOptions.h"

#include <string>

class CCliOutput;

int RunList(const CliOptions& options, CCliOutput& output);
int RunInfo(const CliOptions& options, CCliOutput& output);
int RunDownload(const CliOptions& options, CCliOutput& output);
int RunUpload(const CliOptions& options, CCliOutput& output);
int RunImageInfo(const CliOptions& options, CCliOutput& output);
int RunImageStamp(const CliOptions& options, CCliOutput& output);
int RunFlashTableEncrypt(const CliOptions& options, CCliOutput& output);
int RunFlashTableDecrypt(const CliOptions& options, CCliOutput& output);
int RunFlashTableShow(const CliOptions& options, CCliOutput& output);
int RunConfigCheck(const CliOptions& options, CCliOutput& output);
int RunDoctor(const CliOptions& options, CCliOutput& output);
int RunWatch(const CliOptions& options, CCliOutput& output);

// Whether the path (bytes as typed, links followed) names a regular file.
bool IsRegularFile(const std::string& path);

// The folder of the running program, where it looks for its data files (ending in '/').
std::string ProgramDataDir();
