// Runs a built program (quillon-cli) as a separate process and keeps what it printed; and a scratch
// folder holding a copy of the example emulated devices to run it in.
#pragma once

#include <QTemporaryDir>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct CliRun {
    int nExit = -1;  // -1: killed by a signal or did not end
    std::string strOut;
    std::string strErr;
    std::vector<std::string> OutLines() const;
    // Every stdout line parsed as JSON; a line that is not JSON fails the calling test.
    std::vector<nlohmann::json> JsonLines() const;
    // The JSON line of that event (null when there is none), for runs that print other lines too.
    nlohmann::json Event(const std::string& event) const;
};

std::ostream& operator<<(std::ostream& out, const CliRun& run);

class CCliScratch {
public:
    CCliScratch();
    std::string Dir() const { return m_dir.path().toStdString(); }
    std::string SimDir() const { return Dir() + "/sim"; }
    std::string Path(const std::string& name) const { return Dir() + "/" + name; }

    // quillon-cli (or the program given) with the arguments, in the scratch folder, with QUILLON_SIM_DIR
    // unset, no terminal and nothing on stdin; the child dies with the test process.
    CliRun Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
               const std::string& program = {}) const;
    // The same with "--sim <scratch>/sim" in front.
    CliRun RunSim(std::vector<std::string> args) const;

    static std::string Program() { return QUILLON_BINARY_DIR "/bin/quillon-cli"; }
    static std::string SourceDir() { return QUILLON_SOURCE_DIR; }
    static std::string ExampleImage(const std::string& name) { return SourceDir() + "/examples/images/" + name; }

private:
    QTemporaryDir m_dir;
};

std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
