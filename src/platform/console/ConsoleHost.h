// The headless host: every control's state in memory, a message queue per window, and every modal
// piece (message boxes, file dialogs, child dialogs) behind a seam that takes scripted one-shot answers
// and records what was asked. Used by the command line (with sinks that print) and by the tests, which
// "click" by sending the same messages the Qt host sends:
//   button click, menu command      Command { nId, BN_CLICKED }   (menu commands carry code 0 too)
//   drop-down selection change      Command { nId, CBN_SELCHANGE } after the selection moved
//   close box, Alt+F4, system Close Close
//   Enter                           a click of the focused push button, else Command { IDOK }
//   Escape                          Command { IDCANCEL }
//   window timer                    Timer { nId = timer identifier }
//
// Threads: the thread that creates a window is its user-interface thread; messages are delivered there.
// Every IDialogHost operation takes the window's lock and may be called from any thread; nothing waits
// for another thread, so a worker's calls need no hand-over. Scripted answers and sinks run on the
// calling thread, outside the window's lock.
#pragma once

#include "platform/Dialog.h"
#include "platform/DialogHost.h"

#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class CConsoleHost;

// What the windows of one run share: scripted answers, records and sinks.
class CConsoleSession {
public:
    // A child dialog's answer: runs after the child's initialisation, may set its controls through the
    // host, and returns IDOK or IDCANCEL (sent as that command) or 0 when it drove the dialog itself.
    using ChildAnswer = std::function<int(CConsoleHost& child)>;
    // Asked when no scripted answer is queued: true and a path, or false (cancelled).
    using FileAnswerer = std::function<bool(bool bSave, const FileDialogRequest& request, QString& path)>;

    struct FileDialogRecord {
        bool bSave;
        FileDialogRequest request;
        bool bAccepted;
        QString strPath;
    };

    // Caption of every message box (the application title).
    void SetCaption(const QString& caption);
    QString Caption() const;

    // One-shot answers, used first in, first out. std::nullopt: the operator cancels.
    void QueueOpenFileAnswer(std::optional<QString> path);
    void QueueSaveFileAnswer(std::optional<QString> path);
    // For the next child dialog built from the template nTemplateId.
    void QueueChildAnswer(int nTemplateId, ChildAnswer answer);
    void SetFileAnswerer(FileAnswerer answerer);

    // Sinks: every message box text, every text appended to a multi-line edit.
    void SetMessageBoxSink(std::function<void(const QString&)> sink);
    void SetTraceSink(std::function<void(const QString&)> sink);

    // Records, in order.
    std::vector<QString> MessageBoxes() const;
    std::vector<FileDialogRecord> FileDialogs() const;
    std::vector<int> ChildDialogs() const;    // template ids of the child dialogs run
    std::vector<QString> TraceTexts() const;  // every appended text, Clear Trace notwithstanding
    size_t PendingAnswers() const;            // scripted answers not yet used

    // Used by the hosts.
    void RecordMessageBox(const QString& text);
    bool AnswerFileDialog(bool bSave, const FileDialogRequest& request, QString& path);
    std::optional<ChildAnswer> TakeChildAnswer(int nTemplateId);
    void RecordTrace(const QString& text);

private:
    mutable std::mutex m_mutex;
    std::recursive_mutex m_sinkMutex;  // keeps sink output in call order across threads
    QString m_strCaption;
    std::deque<std::optional<QString>> m_openAnswers, m_saveAnswers;
    std::deque<std::pair<int, ChildAnswer>> m_childAnswers;
    FileAnswerer m_fileAnswerer;
    std::function<void(const QString&)> m_messageBoxSink, m_traceSink;
    std::vector<QString> m_messageBoxes;
    std::vector<FileDialogRecord> m_fileDialogs;
    std::vector<int> m_childDialogs;
    std::vector<QString> m_traceTexts;
};

// One window built from a dialog's template.
class CConsoleHost : public IDialogHost {
public:
    struct ComboItem {
        QString text;
        void* pData;
    };

    CConsoleHost(CConsoleSession& session, CDialog& dialog);
    ~CConsoleHost() override;
    CConsoleHost(const CConsoleHost&) = delete;
    CConsoleHost& operator=(const CConsoleHost&) = delete;

    // Creates the window's controls, attaches the dialog and initialises it (OnInitDialog) on the
    // calling thread, which becomes the user-interface thread.
    void Create();
    // Delivers queued messages until EndDialog; blocks while the queue is empty.
    void RunMessageLoop();
    // Delivers the messages queued now and those they queue; never blocks. Returns how many.
    int PumpMessages();
    // Waits up to the timeout for one message and delivers it; false when none came or it has ended.
    bool DeliverNext(std::chrono::milliseconds timeout);
    // The Destroy message, then the timers stop and the dialog is detached. Later posts are dropped.
    void Destroy();

    bool IsEnded() const;
    int Result() const;
    CDialog& Dialog() { return m_dialog; }
    CConsoleSession& Session() { return m_session; }

    // Operator actions, on the user-interface thread. False when the control or item is disabled or
    // missing, as a click on it would do nothing.
    intptr_t Send(const Message& msg);          // delivers at once
    bool Click(int nId);                        // push button, radio button (automatic), check box
    bool SelectComboItem(int nId, int nIndex);  // then CBN_SELCHANGE
    bool ChooseMenuItem(int nCommand);
    void RequestClose();
    void SetFocus(int nId);
    int Focus() const;
    void PressEnter();
    void PressEscape();
    void PressF1();  // the Help command
    // Places the caret or selection of a multi-line edit, as the operator's mouse would.
    void SetEditSelection(int nId, int nStart, int nEnd);
    std::pair<int, int> EditSelection(int nId) const;
    // Queues a tick of an active timer; false when no such timer runs.
    bool FireTimer(uint32_t nIdEvent);

    // State, for tests and the command line.
    bool HasControl(int nId) const;
    std::vector<ComboItem> ComboItems(int nId) const;
    std::pair<int, int> ProgressRange(int nId) const;
    std::map<uint32_t, uint32_t> ActiveTimers() const;  // identifier -> period in ms
    int Icon(bool bBig) const;                          // 0: none set
    size_t QueuedMessages() const;

    // IDialogHost
    void SetDlgItemText(int nId, const QString& text) override;
    QString GetDlgItemText(int nId) override;
    void EnableDlgItem(int nId, bool bEnable) override;
    bool IsDlgItemEnabled(int nId) override;
    int GetCheck(int nId) override;
    void SetCheck(int nId, int nCheck) override;
    int ComboGetCount(int nId) override;
    int ComboAddString(int nId, const QString& text) override;
    int ComboInsertString(int nId, int nIndex, const QString& text) override;
    void ComboDeleteString(int nId, int nIndex) override;
    void ComboResetContent(int nId) override;
    void ComboSetItemData(int nId, int nIndex, void* pData) override;
    void* ComboGetItemData(int nId, int nIndex) override;
    QString ComboGetText(int nId, int nIndex) override;
    int ComboGetCurSel(int nId) override;
    void ComboSetCurSel(int nId, int nIndex) override;
    void EditAppendText(int nId, const QString& text) override;
    void ProgressSetRange(int nId, int nLower, int nUpper) override;
    void ProgressSetPos(int nId, int nPos) override;
    int ProgressGetPos(int nId) override;
    void EnableMenuItem(int nCommand, bool bEnable) override;
    bool IsMenuItemEnabled(int nCommand) override;
    uint32_t SetTimer(uint32_t nIdEvent, uint32_t nElapseMs) override;
    void KillTimer(uint32_t nIdEvent) override;
    void SetIcon(int nIconId, bool bBig) override;
    void MessageBox(const QString& text) override;
    bool GetOpenFileName(const FileDialogRequest& request, QString& path) override;
    bool GetSaveFileName(const FileDialogRequest& request, QString& path) override;
    int RunModalChild(CDialog& dialog) override;
    void EndDialog(int nResult) override;
    void PostMessage(const Message& msg) override;
    bool IsUiThread() override;

private:
    struct Control {
        ControlKind kind = ControlKind::Label;
        uint32_t nStyle = 0;
        QString text;
        bool bEnabled = true;
        int nCheck = 0;
        std::vector<ComboItem> items;
        int nCurSel = -1;
        int nLower = 0, nUpper = 100, nPos = 0;
        int nSelStart = 0, nSelEnd = 0;
    };

    Control* Find(int nId);
    const Control* Find(int nId) const;
    // The radio buttons of the group that holds nId (automatic radio behaviour).
    std::vector<int> RadioGroupOf(int nId) const;

    CConsoleSession& m_session;
    CDialog& m_dialog;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::map<int, Control> m_controls;
    std::map<int, bool> m_menu;
    std::map<uint32_t, uint32_t> m_timers;
    std::deque<Message> m_queue;
    int m_nBigIcon = 0, m_nSmallIcon = 0;
    int m_nFocus = -1;
    bool m_bCreated = false, m_bEnded = false, m_bDestroyed = false;
    int m_nResult = 0;
    std::thread::id m_uiThread;
};

// Runs top-level dialogs on the calling thread. onCreated (optional) runs after the initialisation and
// before the message loop: the place for a test or the command line to queue what the operator does.
class CConsoleHostFactory : public IHostFactory {
public:
    explicit CConsoleHostFactory(CConsoleSession& session) : m_session(session) {}
    int RunModal(CDialog& dialog) override;
    std::function<void(CConsoleHost&)> onCreated;

private:
    CConsoleSession& m_session;
};
