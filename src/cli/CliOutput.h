// Where quillon-cli's words go: trace lines to stdout, message-box texts to stderr, or one JSON object
// per line with --json; every trace line and message also to the --log file, timestamped; a progress
// bar on a terminal. Output that cannot be written (a closed pipe, a terminal that went away, a full
// disk) never stops the command: the loss is remembered and reported at the end.
#pragma once

#include "app/QuillonEnv.h"

#include <nlohmann/json.hpp>

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

class CCliOutput : public IProgressObserver {
public:
    CCliOutput(std::ostream& out, std::ostream& err, bool bJson, bool bQuiet, bool bProgressBar);

    // Opens the log for appending, without waiting (a pipe there) and only if it is a regular file;
    // false with the reason (and nothing logged) otherwise.
    bool OpenLog(const std::string& path, std::string& strReason);
    ~CCliOutput() override;

    // What could not be written ("stdout: Broken pipe; ..."), "" when everything was.
    std::string Lost();
    // Says so on stderr, even with --json (stdout may be what was lost), and in the log.
    void ReportLost(const std::string& text);

    // A trace line of the window, exactly as the logic wrote it.
    void Trace(const QString& text);
    // The text of a message box of the window.
    void Message(const QString& text);
    // The outcome of a command: the JSON object with --json, else the human text (lines, may be empty).
    // With --json the object is written by Finish, which adds the exit status.
    void Result(const nlohmann::json& object, const std::string& text);
    // With --json the last line: the command's result (or, when it gave none, `command`, `ok`) with
    // `status`, the exit status.
    void Finish(const std::string& command, int nStatus);
    // An event of quillon-cli itself (one device's outcome in --all, a dry-run verdict...).
    void Event(const nlohmann::json& object, const std::string& text);
    // Why an operation failed ("Reason: " and the text on stdout, also with --quiet; the log): after the
    // window's own lines, which stay as they are. With --json the result carries it instead.
    void Reason(const std::string& text);
    // An error of quillon-cli itself (no such device or file, bad use): stderr, or a JSON "error".
    void Error(const std::string& text);

    // Real progress of the running operation: a bar on the terminal, a "progress" object with --json.
    void OnProgress(uint64_t nDone, uint64_t nTotal) override;
    // Ends the bar's line, if one is shown.
    void EndProgress();

    // Texts of message boxes and trace lines since the last call (for judging an operation's outcome).
    struct Seen {
        QStringList trace;
        QStringList messages;
    };
    Seen TakeSeen();

    // False: trace lines are logged and recorded but not printed (the start-up census of `list`).
    void SetTraceShown(bool bShown);

    // A warning of quillon-cli itself: stderr ("quillon-cli: warning: ..."), or a JSON "warning".
    void Warning(const std::string& text);
    // A line of the --log file alone, of this kind ("run", "result").
    void LogLine(const char* pszKind, const std::string& text);
    // A trace line, message or error of one device of a parallel run: the JSON object (the device's
    // fields already in it), else the text with the device's prefix on stdout (a trace line) or
    // stderr (pszKind "message" or "error"); logged either way.
    void DeviceLine(const char* pszKind, const nlohmann::json& object, const std::string& text);
    // The progress of every running device of a parallel run, one line each, on the terminal.
    void ShowBoard(const std::vector<std::string>& lines);

private:
    void Log(const char* pszKind, const QString& text);
    void ClearBarLocked();
    void WriteJsonLocked(const nlohmann::json& object);
    // Notes a stream whose write failed, once per stream.
    void CheckLocked(std::ostream& stream, const char* pszName);

    std::mutex m_mutex;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_bJson;
    bool m_bQuiet;
    bool m_bProgressBar;
    bool m_bTraceShown = true;
    bool m_bBarShown = false;
    int m_nBoardLines = 0;
    int m_nLastPercent = -1;
    int64_t m_nStartMs = -1;  // when the running operation's progress began
    uint64_t m_nDone = 0;
    int m_nLogFd = -1;
    std::string m_strLost;
    bool m_bOutLost = false;
    bool m_bErrLost = false;
    bool m_bLogLost = false;
    Seen m_seen;
    nlohmann::json m_pendingResult;
};

// The terminal's width on stderr: COLUMNS, else the terminal's own, else 80.
int TerminalColumns();
// A progress line that fits nColumns without filling the last one: a bar while there is room, the
// percentage, the bytes, and once a rate is known the rate and the time left.
std::string ProgressText(uint64_t nDone, uint64_t nTotal, double dSeconds, int nColumns);

// The --log file's time stamp: local time with milliseconds and the offset from UTC
// ("2026-12-07 13:00:00.000 +0100").
std::string LogStamp(const QDateTime& time);

// The text as a terminal line: a trailing "\r\n" becomes "\n"; a text without a line end gets one.
// Bytes of a file name that are not UTF-8 are written "\xNN".
std::string TerminalLine(const QString& text);
