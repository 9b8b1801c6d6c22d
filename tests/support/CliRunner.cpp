#include "support/CliRunner.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <signal.h>
#include <sstream>
#include <sys/prctl.h>

std::vector<std::string> CliRun::OutLines() const
{
    std::vector<std::string> lines;
    std::istringstream in(strOut);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<nlohmann::json> CliRun::JsonLines() const
{
    std::vector<nlohmann::json> objects;
    for (const std::string& line : OutLines()) {
        nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        EXPECT_FALSE(object.is_discarded()) << "not JSON: " << line;
        EXPECT_TRUE(object.is_object()) << line;
        if (!object.is_discarded())
            objects.push_back(object);
    }
    return objects;
}

nlohmann::json CliRun::Event(const std::string& event) const
{
    for (const std::string& line : OutLines()) {
        const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        if (object.is_object() && object.value("event", "") == event)
            return object;
    }
    return nullptr;
}

std::ostream& operator<<(std::ostream& out, const CliRun& run)
{
    return out << "exit " << run.nExit << "\nstdout: " << run.strOut << "\nstderr: " << run.strErr;
}

CCliScratch::CCliScratch()
{
    std::filesystem::copy(SourceDir() + "/examples/sim", SimDir(), std::filesystem::copy_options::recursive);
}

CliRun CCliScratch::Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                        const std::string& program) const
{
    const std::string path = program.empty() ? Program() : program;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QUILLON_SIM_DIR"));
    for (const auto& [name, value] : env)
        environment.insert(QString::fromStdString(name), QString::fromStdString(value));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QString::fromStdString(Dir()));
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.setStandardInputFile(QProcess::nullDevice());
    QStringList arguments;
    for (const std::string& a : args)
        arguments << QString::fromStdString(a);
    process.start(QString::fromStdString(path), arguments);
    CliRun run;
    if (!process.waitForStarted(10000) || !process.waitForFinished(240000)) {
        ADD_FAILURE() << path << " did not run to its end";
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.nExit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.strOut = process.readAllStandardOutput().toStdString();
    run.strErr = process.readAllStandardError().toStdString();
    return run;
}

CliRun CCliScratch::RunSim(std::vector<std::string> args) const
{
    args.insert(args.begin(), {"--sim", SimDir()});
    return Run(args);
}

std::string ReadFileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}
