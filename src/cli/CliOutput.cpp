#include "cli/CliOutput.h"

#include "cli/CliOptions.h"

#include "platform/FileIo.h"
#include "platform/NativePath.h"

#include <QDateTime>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace {

int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string Json(const QString& text)
{
    return PrintableText(text);
}

}  // namespace

int TerminalColumns()
{
    if (const char* pszColumns = std::getenv("COLUMNS"); pszColumns != nullptr && std::atoi(pszColumns) > 0)
        return std::atoi(pszColumns);
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

std::string ProgressText(uint64_t nDone, uint64_t nTotal, double dSeconds, int nColumns)
{
    const uint64_t nPercent = nTotal ? std::min(nDone, nTotal) * 100 / nTotal : 0;
    std::vector<std::string> parts = {std::to_string(nPercent) + "%",
                                      std::to_string(nDone) + "/" + std::to_string(nTotal) + " bytes"};
    if (dSeconds > 0.05 && nDone > 0) {
        const double dRate = static_cast<double>(nDone) / dSeconds;
        char szPart[48];
        std::snprintf(szPart, sizeof szPart, "%.1f KiB/s", dRate / 1024);
        parts.emplace_back(szPart);
        const auto nLeft =
            static_cast<uint64_t>(std::llround(static_cast<double>(nTotal - std::min(nDone, nTotal)) / dRate));
        std::snprintf(szPart, sizeof szPart, "%llu:%02llu left", static_cast<unsigned long long>(nLeft / 60),
                      static_cast<unsigned long long>(nLeft % 60));
        parts.emplace_back(szPart);
    }
    // The last column stays free: a terminal wraps a line that fills it.
    const size_t nWidth = static_cast<size_t>(std::max(nColumns, 2)) - 1;
    std::string text;
    for (const std::string& part : parts) {
        if (text.size() + 1 + part.size() > nWidth)
            break;
        text += (text.empty() ? "" : " ") + part;
    }
    constexpr size_t kMinBar = 10, kMaxBar = 40;
    if (text.size() + kMinBar + 3 <= nWidth) {
        const size_t nBar = std::min(kMaxBar, nWidth - text.size() - 3);
        const size_t nFilled = static_cast<size_t>(nPercent) * nBar / 100;
        text = "[" + std::string(nFilled, '#') + std::string(nBar - nFilled, ' ') + "] " + text;
    }
    return text.substr(0, nWidth);
}

std::string LogStamp(const QDateTime& time)
{
    const int nOffset = time.offsetFromUtc() / 60;
    char szOffset[16];
    std::snprintf(szOffset, sizeof szOffset, "%c%02d%02d", nOffset < 0 ? '-' : '+', std::abs(nOffset) / 60,
                  std::abs(nOffset) % 60);
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")).toStdString() + szOffset;
}

std::string TerminalLine(const QString& text)
{
    std::string line = PrintableText(text);
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
        line.erase(line.size() - 2, 1);
    else
        line += '\n';
    return line;
}

CCliOutput::CCliOutput(std::ostream& out, std::ostream& err, bool bJson, bool bQuiet, bool bProgressBar)
    : m_out(out), m_err(err), m_bJson(bJson), m_bQuiet(bQuiet), m_bProgressBar(bProgressBar && !bJson && !bQuiet)
{}

CCliOutput::~CCliOutput()
{
    if (m_nLogFd >= 0)
        ::close(m_nLogFd);
}

bool CCliOutput::OpenLog(const std::string& path, std::string& strReason)
{
    struct stat st {};
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        // A pipe without a reader refuses a non-blocking open (ENXIO): say what it is.
        const int nError = errno;
        const bool bSpecial = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
        strReason = bSpecial ? "not a regular file" : std::strerror(nError);
        return false;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        strReason = "not a regular file";
        ::close(fd);
        return false;
    }
    const int nFlags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, nFlags & ~O_NONBLOCK);
    m_nLogFd = fd;
    return true;
}

void CCliOutput::Log(const char* pszKind, const QString& text)
{
    if (m_nLogFd < 0 || m_bLogLost)
        return;
    const std::string line = LogStamp(QDateTime::currentDateTime()) + ' ' + pszKind + ' ' + TerminalLine(text);
    if (!WriteFully(m_nLogFd, line.data(), line.size())) {
        m_bLogLost = true;
        m_strLost += std::string(m_strLost.empty() ? "" : "; ") + "the log file: " + std::strerror(errno);
    }
}

void CCliOutput::CheckLocked(std::ostream& stream, const char* pszName)
{
    if (stream.good())
        return;
    const int nError = errno;
    bool& bLost = &stream == &m_out ? m_bOutLost : m_bErrLost;
    if (!bLost) {
        bLost = true;
        m_strLost += std::string(m_strLost.empty() ? "" : "; ") + pszName + ": " + std::strerror(nError);
    }
}

std::string CCliOutput::Lost()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strLost;
}

void CCliOutput::ClearBarLocked()
{
    if (m_nBoardLines > 0) {
        m_err << '\r';
        if (m_nBoardLines > 1)
            m_err << "\033[" << m_nBoardLines - 1 << 'A';
        m_err << "\033[J" << std::flush;
        CheckLocked(m_err, "stderr");
        m_nBoardLines = 0;
    }
    if (m_bBarShown) {
        m_err << "\r\033[K" << std::flush;
        CheckLocked(m_err, "stderr");
        m_bBarShown = false;
        m_nLastPercent = -1;
    }
}

void CCliOutput::WriteJsonLocked(const nlohmann::json& object)
{
    nlohmann::json line = object;
    line["schema"] = kJsonSchema;
    m_out << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
    CheckLocked(m_out, "stdout");
}

void CCliOutput::Trace(const QString& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_seen.trace.append(text);
    Log("trace", text);
    if (!m_bTraceShown)
        return;
    if (m_bJson) {
        WriteJsonLocked({{"event", "trace"}, {"text", Json(text)}});
        return;
    }
    if (m_bQuiet)
        return;
    ClearBarLocked();
    m_out << TerminalLine(text) << std::flush;
    CheckLocked(m_out, "stdout");
}

void CCliOutput::Message(const QString& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_seen.messages.append(text);
    Log("message", text);
    if (m_bJson) {
        WriteJsonLocked({{"event", "message"}, {"text", Json(text)}});
        return;
    }
    ClearBarLocked();
    m_out << std::flush;
    CheckLocked(m_out, "stdout");
    m_err << TerminalLine(text) << std::flush;
    CheckLocked(m_err, "stderr");
}

void CCliOutput::Result(const nlohmann::json& object, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bJson) {
        // Written at the end, when the exit status it carries is known.
        if (!m_pendingResult.is_null())
            WriteJsonLocked(m_pendingResult);
        m_pendingResult = object;
        m_pendingResult["event"] = "result";
        return;
    }
    ClearBarLocked();
    m_out << text << std::flush;
    CheckLocked(m_out, "stdout");
}

void CCliOutput::Finish(const std::string& command, int nStatus)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bJson)
        return;
    nlohmann::json result = m_pendingResult;
    if (result.is_null())
        result = {{"event", "result"}, {"command", command}, {"ok", nStatus == EXIT_OK}};
    result["status"] = nStatus;
    WriteJsonLocked(result);
    m_pendingResult = nullptr;
}

void CCliOutput::Event(const nlohmann::json& object, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bJson) {
        WriteJsonLocked(object);
        return;
    }
    ClearBarLocked();
    m_out << text << std::flush;
    CheckLocked(m_out, "stdout");
}

void CCliOutput::Reason(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const QString line = QStringLiteral("Reason: ") + QString::fromStdString(text);
    Log("reason", QString::fromStdString(text));
    if (m_bJson)
        return;
    ClearBarLocked();
    m_out << TerminalLine(line) << std::flush;
    CheckLocked(m_out, "stdout");
}

void CCliOutput::Error(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Log("error", QString::fromStdString(text));
    if (m_bJson) {
        WriteJsonLocked({{"event", "error"}, {"text", text}});
        return;
    }
    ClearBarLocked();
    m_out << std::flush;
    CheckLocked(m_out, "stdout");
    m_err << "quillon-cli: " << text << '\n' << std::flush;
    CheckLocked(m_err, "stderr");
}

void CCliOutput::ReportLost(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Log("error", QString::fromStdString(text));
    m_err << "quillon-cli: " << text << '\n' << std::flush;
}

void CCliOutput::OnProgress(uint64_t nDone, uint64_t nTotal)
{
    if ((!m_bProgressBar && !m_bJson) || nTotal == 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (nDone > nTotal)
        nDone = nTotal;
    const int nPercent = static_cast<int>(nDone * 100 / nTotal);
    if (nPercent == m_nLastPercent)
        return;
    m_nLastPercent = nPercent;
    if (m_bJson) {
        WriteJsonLocked({{"event", "progress"}, {"done", nDone}, {"total", nTotal}});
        return;
    }
    if (nDone == 0 || m_nStartMs < 0)
        m_nStartMs = SteadyMs();
    m_nDone = nDone;
    m_err << '\r' << ProgressText(nDone, nTotal, (SteadyMs() - m_nStartMs) / 1000.0, TerminalColumns()) << "\033[K"
          << std::flush;
    CheckLocked(m_err, "stderr");
    m_bBarShown = true;
}

void CCliOutput::EndProgress()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ClearBarLocked();
    m_nLastPercent = -1;
    // Also when a line erased the bar before the operation ended.
    if (m_bProgressBar && m_nStartMs >= 0) {
        char szSeconds[32];
        std::snprintf(szSeconds, sizeof szSeconds, "%.1f", (SteadyMs() - m_nStartMs) / 1000.0);
        m_err << m_nDone << " bytes in " << szSeconds << " s\n" << std::flush;
        CheckLocked(m_err, "stderr");
    }
    m_nStartMs = -1;
}

CCliOutput::Seen CCliOutput::TakeSeen()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Seen seen = std::move(m_seen);
    m_seen = Seen{};
    return seen;
}

void CCliOutput::SetTraceShown(bool bShown)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bTraceShown = bShown;
}

void CCliOutput::Warning(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Log("warning", QString::fromStdString(text));
    if (m_bJson) {
        WriteJsonLocked({{"event", "warning"}, {"text", text}});
        return;
    }
    ClearBarLocked();
    m_out << std::flush;
    m_err << "quillon-cli: warning: " << text << '\n' << std::flush;
    CheckLocked(m_err, "stderr");
}

void CCliOutput::LogLine(const char* pszKind, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Log(pszKind, QString::fromStdString(text));
}

void CCliOutput::DeviceLine(const char* pszKind, const nlohmann::json& object, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool bTrace = std::string(pszKind) == "trace";
    Log(pszKind, QString::fromStdString(text));
    if (m_bJson) {
        WriteJsonLocked(object);
        return;
    }
    if (bTrace && (m_bQuiet || !m_bTraceShown))
        return;
    ClearBarLocked();
    std::ostream& stream = bTrace ? m_out : m_err;
    m_out << std::flush;
    stream << (std::string(pszKind) == "error" ? "quillon-cli: " : "") << text << '\n' << std::flush;
    CheckLocked(stream, bTrace ? "stdout" : "stderr");
}

void CCliOutput::ShowBoard(const std::vector<std::string>& lines)
{
    if (!m_bProgressBar)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    ClearBarLocked();
    if (lines.empty())
        return;
    // Never wider than the terminal: a wrapped line would break the erasing of the board.
    const size_t nColumns = static_cast<size_t>(TerminalColumns()) - 1;
    for (size_t i = 0; i < lines.size(); ++i)
        m_err << (i ? "\n" : "") << lines[i].substr(0, nColumns) << "\033[K";
    m_err << std::flush;
    CheckLocked(m_err, "stderr");
    m_nBoardLines = static_cast<int>(lines.size());
}
