// Runs the built quillon-cli as a separate process in a scratch folder holding a copy of the example
// emulated devices, and keeps what it printed.
#pragma once

#include <QTemporaryDir>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct CliRun {
    int nExit = -1;
    std::string strOut;
    std::string strErr;
    std::vector<std::string> OutLines() const;
    std::vector<std::string> ErrLines() const;
    // Every stdout line parsed as JSON; a line that is not JSON fails the calling test.
    std::vector<nlohmann::json> JsonLines() const;
};

class CCliScratch {
public:
    CCliScratch();
    std::string Dir() const { return m_dir.path().toStdString(); }
    std::string SimDir() const { return Dir() + "/sim"; }
    std::string Path(const std::string& name) const { return Dir() + "/" + name; }

    // quillon-cli with the arguments, in the scratch folder, with QUILLON_SIM_DIR unset.
    CliRun Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
               const std::string& program = {}) const;
    // The same with "--sim <scratch>/sim" in front.
    CliRun RunSim(std::vector<std::string> args) const;

    static std::string Program();
    static std::string SourceDir();
    static std::string ExampleImage(const std::string& name);

private:
    QTemporaryDir m_dir;
};

std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
