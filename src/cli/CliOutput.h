// Where quillon-cli's words go: trace lines to stdout, message-box texts to stderr, or one JSON object
// per line with --json; every trace line and message also to the --log file, timestamped; a progress
// bar on a terminal.
#pragma once

#include "app/QuillonEnv.h"

#include <nlohmann/json.hpp>

#include <QString>
#include <QStringList>
#include <fstream>
#include <mutex>
#include <ostream>
#include <string>

class CCliOutput : public IProgressObserver {
public:
    CCliOutput(std::ostream& out, std::ostream& err, bool bJson, bool bQuiet, bool bProgressBar);

    // Opens the log for appending; false (and nothing logged) when it cannot be opened.
    bool OpenLog(const std::string& path);

    // A trace line of the window, exactly as the logic wrote it.
    void Trace(const QString& text);
    // The text of a message box of the window.
    void Message(const QString& text);
    // The outcome of a command: the JSON object with --json, else the human text (lines, may be empty).
    void Result(const nlohmann::json& object, const std::string& text);
    // An event of quillon-cli itself (one device's outcome in --all, a dry-run verdict...).
    void Event(const nlohmann::json& object, const std::string& text);
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

private:
    void Log(const char* pszKind, const QString& text);
    void ClearBarLocked();
    void WriteJsonLocked(const nlohmann::json& object);

    std::mutex m_mutex;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_bJson;
    bool m_bQuiet;
    bool m_bProgressBar;
    bool m_bTraceShown = true;
    bool m_bBarShown = false;
    int m_nLastPercent = -1;
    std::ofstream m_log;
    Seen m_seen;
};

// The text as a terminal line: a trailing "\r\n" becomes "\n"; a text without a line end gets one.
std::string TerminalLine(const QString& text);
