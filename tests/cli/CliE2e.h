// The fixture of the quillon-cli tests that run the built program: a scratch copy of the example
// devices (listed in file-name order: No.0 za1200 to No.3 za4800) and tables of runs with what each
// must give.
#pragma once

#include "support/CliRunner.h"
#include "support/ExampleDevices.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using ::testing::_;
using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

inline std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The lines as the program prints them, each ending in "\n".
inline std::string Lines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// One run and what it must give.
struct Expectation {
    std::vector<std::string> args;  // "--sim <scratch>/sim" goes in front unless they begin with a --sim of their own
    int nExit;
    ::testing::Matcher<const std::string&> out = _, err = _;
};

class CliE2e : public ::testing::Test {
protected:
    std::string DevicePath(int nIndex) const
    {
        return scratch.SimDir() + "/" + kExampleDevices[nIndex].pszStem + ".json";
    }

    // The start-up census as the window traces it.
    std::vector<std::string> Census() const
    {
        std::vector<std::string> lines = {"Total 4 devices found!"};
        for (int i = 0; i < 4; ++i)
            lines.push_back("No." + std::to_string(i) + ": " + DevicePath(i));
        return lines;
    }

    std::map<std::string, std::string> SimFiles() const
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(scratch.SimDir()))
            if (entry.is_regular_file())
                files[entry.path().string()] = ReadFileText(entry.path().string());
        return files;
    }

    // A folder of the scratch holding copies of these example devices, each with the JSON fields given.
    std::string World(const std::string& name, const std::map<std::string, nlohmann::json>& devices) const
    {
        const std::string dir = scratch.Path(name);
        fs::create_directory(dir);
        for (const auto& [stem, fields] : devices) {
            nlohmann::json device = nlohmann::json::parse(ReadFileText(scratch.SimDir() + "/" + stem + ".json"));
            if (!fields.is_null())
                device.update(fields);
            WriteFileText(dir + "/" + stem + ".json", device.dump());
        }
        return dir;
    }

    void Expect(const std::vector<Expectation>& expectations) const
    {
        for (const Expectation& e : expectations) {
            std::vector<std::string> args = e.args;
            if (args.at(0) != "--sim")
                args.insert(args.begin(), {"--sim", scratch.SimDir()});
            const CliRun run = scratch.Run(args);
            SCOPED_TRACE(::testing::PrintToString(e.args));
            EXPECT_EQ(run.nExit, e.nExit) << run;
            EXPECT_THAT(run.strOut, e.out);
            EXPECT_THAT(run.strErr, e.err);
        }
    }

    CCliScratch scratch;
};
