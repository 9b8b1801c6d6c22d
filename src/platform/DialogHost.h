// The window layer the logic talks to. A host instantiates a dialog template, keeps its controls and
// delivers messages to the dialog's message table. Implementations: the Qt host (widgets) and the
// headless host (in-memory state, for tests and the command line).
//
// Threads: every operation may be called from the user-interface thread or the worker thread. A host
// carries a worker's call out on the user-interface thread and returns when it is done; message boxes
// and file dialogs asked for by the worker are modal to the dialog while the worker waits.
#pragma once

#include "platform/DeviceNotifier.h"

#include <QString>
#include <QStringList>
#include <cstdint>

class CDialog;

enum class MessageKind {
    Command,  // nId: control or command id; nCode: notification (BN_CLICKED, CBN_SELCHANGE)
    SysCommand,
    Paint,
    QueryDragIcon,
    Destroy,
    DeviceChange,  // notice: the device notice
    Close,
    Timer,  // nId: timer identifier
};

constexpr int BN_CLICKED = 0;
constexpr int CBN_SELCHANGE = 1;

struct Message {
    MessageKind kind = MessageKind::Command;
    int nId = 0;
    int nCode = 0;
    DeviceNotice notice;
};

// One file dialog: its filter in the "Label|pattern|Label|pattern||" form, and its options.
struct FileDialogRequest {
    QString strFilter;
    QString strDefaultExt;  // empty: none
    bool bOverwritePrompt = false;
    bool bHideReadOnly = true;
};

class IDialogHost {
public:
    virtual ~IDialogHost() = default;

    // Controls, by identifier.
    virtual void SetDlgItemText(int nId, const QString& text) = 0;
    virtual QString GetDlgItemText(int nId) = 0;
    virtual void EnableDlgItem(int nId, bool bEnable) = 0;
    virtual bool IsDlgItemEnabled(int nId) = 0;
    virtual int GetCheck(int nId) = 0;  // 0 unchecked, 1 checked
    virtual void SetCheck(int nId, int nCheck) = 0;

    // Drop-down list.
    virtual int ComboGetCount(int nId) = 0;
    virtual int ComboAddString(int nId, const QString& text) = 0;  // new position
    virtual int ComboInsertString(int nId, int nIndex, const QString& text) = 0;
    virtual void ComboDeleteString(int nId, int nIndex) = 0;
    virtual void ComboResetContent(int nId) = 0;
    virtual void ComboSetItemData(int nId, int nIndex, void* pData) = 0;
    virtual void* ComboGetItemData(int nId, int nIndex) = 0;
    virtual QString ComboGetText(int nId, int nIndex) = 0;
    virtual int ComboGetCurSel(int nId) = 0;  // -1: none
    virtual void ComboSetCurSel(int nId, int nIndex) = 0;

    // Multi-line edit: caret to the very end, scroll there, insert (not undoable).
    virtual void EditAppendText(int nId, const QString& text) = 0;

    // Progress bar.
    virtual void ProgressSetRange(int nId, int nLower, int nUpper) = 0;
    virtual void ProgressSetPos(int nId, int nPos) = 0;
    virtual int ProgressGetPos(int nId) = 0;

    // Menu items by command identifier (0 is the separator and changes nothing visible).
    virtual void EnableMenuItem(int nCommand, bool bEnable) = 0;
    virtual bool IsMenuItemEnabled(int nCommand) = 0;

    // Window timers: a Timer message every nElapseMs on the user-interface thread.
    virtual uint32_t SetTimer(uint32_t nIdEvent, uint32_t nElapseMs) = 0;  // 0: failed
    virtual void KillTimer(uint32_t nIdEvent) = 0;

    // Big and small icon of the window.
    virtual void SetIcon(int nIconId, bool bBig) = 0;

    // Modal pieces, owned by this dialog; the caption is the application title.
    virtual void MessageBox(const QString& text) = 0;
    virtual bool GetOpenFileName(const FileDialogRequest& request, QString& path) = 0;  // false: cancelled
    virtual bool GetSaveFileName(const FileDialogRequest& request, QString& path) = 0;
    virtual int RunModalChild(CDialog& dialog) = 0;  // IDOK, IDCANCEL, ...

    // Ends this dialog's modal run with the result.
    virtual void EndDialog(int nResult) = 0;

    // Queues a message for the dialog; callable from any thread, delivered on the user-interface thread.
    virtual void PostMessage(const Message& msg) = 0;

    // True on the thread that runs this dialog's messages.
    virtual bool IsUiThread() = 0;
};

// Runs a top-level dialog modally: creates its window, initialises it, delivers its messages until
// EndDialog, destroys it, and returns the result.
class IHostFactory {
public:
    virtual ~IHostFactory() = default;
    virtual int RunModal(CDialog& dialog) = 0;
};
