#include "cli/CliOutput.h"

#include "platform/FileIo.h"
#include "platform/NativePath.h"

#include <QDateTime>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Json(const QString& text)
{
    return PrintableText(text);
}

}  // namespace

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
    const QString stamp = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    const std::string line = stamp.toStdString() + ' ' + pszKind + ' ' + TerminalLine(text);
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
    m_out << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
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
        nlohmann::json result = object;
        result["event"] = "result";
        WriteJsonLocked(result);
        return;
    }
    ClearBarLocked();
    m_out << text << std::flush;
    CheckLocked(m_out, "stdout");
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
    constexpr int kWidth = 40;
    const int nFilled = nPercent * kWidth / 100;
    m_err << "\r[" << std::string(nFilled, '#') << std::string(kWidth - nFilled, ' ') << "] " << nPercent << "% "
          << nDone << "/" << nTotal << " bytes\033[K" << std::flush;
    CheckLocked(m_err, "stderr");
    m_bBarShown = true;
}

void CCliOutput::EndProgress()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ClearBarLocked();
    m_nLastPercent = -1;
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
    for (size_t i = 0; i < lines.size(); ++i)
        m_err << (i ? "\n" : "") << lines[i] << "\033[K";
    m_err << std::flush;
    CheckLocked(m_err, "stderr");
    m_nBoardLines = static_cast<int>(lines.size());
}
