#include "cli/CliOutput.h"

#include <QDateTime>

std::string TerminalLine(const QString& text)
{
    std::string line = text.toStdString();
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
        line.erase(line.size() - 2, 1);
    else
        line += '\n';
    return line;
}

CCliOutput::CCliOutput(std::ostream& out, std::ostream& err, bool bJson, bool bQuiet, bool bProgressBar)
    : m_out(out), m_err(err), m_bJson(bJson), m_bQuiet(bQuiet), m_bProgressBar(bProgressBar && !bJson && !bQuiet)
{
}

bool CCliOutput::OpenLog(const std::string& path)
{
    m_log.open(path, std::ios::out | std::ios::app | std::ios::binary);
    return m_log.is_open();
}

void CCliOutput::Log(const char* pszKind, const QString& text)
{
    if (!m_log.is_open())
        return;
    const QString stamp = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    m_log << stamp.toStdString() << ' ' << pszKind << ' ' << TerminalLine(text);
    m_log.flush();
}

void CCliOutput::ClearBarLocked()
{
    if (m_bBarShown) {
        m_err << "\r\033[K" << std::flush;
        m_bBarShown = false;
        m_nLastPercent = -1;
    }
}

void CCliOutput::WriteJsonLocked(const nlohmann::json& object)
{
    m_out << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
}

void CCliOutput::Trace(const QString& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_seen.trace.append(text);
    Log("trace", text);
    if (!m_bTraceShown)
        return;
    if (m_bJson) {
        WriteJsonLocked({{"event", "trace"}, {"text", text.toStdString()}});
        return;
    }
    if (m_bQuiet)
        return;
    ClearBarLocked();
    m_out << TerminalLine(text) << std::flush;
}

void CCliOutput::Message(const QString& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_seen.messages.append(text);
    Log("message", text);
    if (m_bJson) {
        WriteJsonLocked({{"event", "message"}, {"text", text.toStdString()}});
        return;
    }
    ClearBarLocked();
    m_out << std::flush;
    m_err << TerminalLine(text) << std::flush;
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
