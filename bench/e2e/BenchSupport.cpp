#include "BenchSupport.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>

namespace e2e {

void WriteBenchDevice(const std::string& strSimDir, bool bRealTime, bool bFlashCrc)
{
    std::ofstream out(strSimDir + "/bench.json", std::ios::trunc);
    out << R"({
  "comment": "End-to-end benchmarks: every block of a 128 KB image is selected.",
  "product": "ZEL ZA1200 Audio",
  "serialNumber": "ZA1200-BENCH",
  "vendorId": "0x2fe3",
  "productId": "0x1200",
  "version": "0x0105",
  "subVersion": "0x12010134",
  "chipsetType": "0x0001",
  "usage": "0xff000001",
  "defaultSerialNumberAddr": "0x0000",
  "hidDfu": true,
  "bootLoader": true,
  "flashCrc": )"
        << (bFlashCrc ? "true" : "false") << R"(,
  "controller": {"index": 0, "name": "ZA1200"},
  "flagOffset": "0x3000",
  "flash": {"chip": "W25Q80DV", "initial": "firmware"},
  "timing": {"realTime": )"
        << (bRealTime ? "true" : "false") << "}\n}\n";
}

ChildRun RunChild(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env, const std::string& strStopAfterLine)
{
    ChildRun run;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        for (const auto& [name, value] : env)
            ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    bool bStopped = false;
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        run.strOut.append(buffer, static_cast<size_t>(n));
        if (!bStopped && !strStopAfterLine.empty() &&
            (run.strOut.rfind(strStopAfterLine, 0) == 0 ||
             run.strOut.find("\n" + strStopAfterLine) != std::string::npos)) {
            run.dWallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            bStopped = true;
            ::kill(pid, SIGKILL);
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    if (!bStopped)
        run.dWallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    run.nExit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.dCpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    run.nMaxRssKb = usage.ru_maxrss;
    return run;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace e2e
