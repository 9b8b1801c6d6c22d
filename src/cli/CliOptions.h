// The command line of quillon-cli: every command, its arguments and the global options.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

enum class CliCommand {
    None,
    Help,  // answered by the parser
    List,
    Info,
    Download,
    Upload,
    ImageInfo,
    ImageStamp,
    FlashTableEncrypt,
    FlashTableDecrypt,
    FlashTableShow,
    ConfigCheck,
    Doctor,
    Watch,
};

// Exit status of every command.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;  // refused or failed: a message was shown
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_NOT_FOUND = 3;    // no such device or file
constexpr int EXIT_OUTPUT_LOST = 4;  // the command ran to its end, but its output could not all be written
constexpr int EXIT_REFUSED = 5;      // several devices: none failed, but one was refused before it was touched
constexpr int EXIT_BUSY = 6;         // a device is held by another program; it was not touched

// The version of the --json lines' shape, in every line.
constexpr int kJsonSchema = 2;

struct CliOptions {
    CliCommand command = CliCommand::None;

    // Global options.
    std::string strSimDir;  // empty: QUILLON_SIM_DIR, else real devices
    bool bJson = false;
    std::optional<uint32_t> nMatchPolicy;  // overrides the stored preference for this run
    std::optional<bool> bVerify;           // overrides the stored preference for this run
    std::string strLogFile;
    bool bQuiet = false;

    // Device selection: an index from `list` or an interface path; empty: the first device (info).
    std::string strDevice;
    bool bAll = false;
    // download, upload: every --device (index or path) and --serial given, in order; several run at once.
    std::vector<std::string> deviceList;
    std::vector<std::string> serialList;  // also info's --serial
    unsigned nJobs = 0;                   // --jobs: devices at once in a parallel run; 0: all
    unsigned nWatchSeconds = 0;           // watch --seconds; 0: until a signal
    bool bJob = false;                    // one device of a parallel run: no census, no warning

    // download
    std::string strImage;
    std::optional<bool> bUpdateAll;
    bool bDryRun = false;
    std::string strBackup;

    // upload
    std::string strFile;

    // image stamp, flash-table encrypt/decrypt: input and output files; image info, flash-table show
    // use strIn alone (show: empty means the configured zel.dat).
    std::string strIn;
    std::string strOut;
    uint16_t nVid = 0;
    uint16_t nPid = 0;
    uint32_t nVersion = 0;
    uint32_t nSubVersion = 0;
    uint8_t abyChip[2] = {0, 0};
    bool bAppend = false;  // image stamp: add the record after the image if need be
    bool bForce = false;   // upload FILE, image stamp / flash-table OUT may be replaced

    // config check: the folder holding Quillon.ini and zel.dat; empty: the program's own.
    std::string strDir;
};

// Parses argv into options. Returns -1 when a command is to run; otherwise the exit status to end
// with at once (0 after --help or --version, EXIT_USAGE after a usage error, printed to err).
int ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::ostream& out, std::ostream& err);

// A number as written on the command line: decimal, or hexadecimal after "0x"; the whole text must
// be the number and fit in 32 bits.
bool ParseCliNumber(const std::string& text, uint32_t& value);
// "B1,B2": two bytes (each a number as above, at most 0xff).
bool ParseChipBytes(const std::string& text, uint8_t abyChip[2]);

// "quillon-cli VERSION", as --version prints it.
const char* CliVersionText();
