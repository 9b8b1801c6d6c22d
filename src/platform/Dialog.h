// The dialog framework: a dialog class holds its template, its fields, its data exchange and its
// message table; a host delivers messages to it.
#pragma once

#include "platform/DialogHost.h"
#include "platform/DialogTemplate.h"

#include <cstdint>

class CDialog;

// One row of a message table; the handler is a small function that calls the dialog's member.
struct MessageMapEntry {
    MessageKind kind;
    int nId;    // command or control id, timer id; -1 matches any
    int nCode;  // notification code; -1 matches any
    intptr_t (*pfnHandler)(CDialog& dialog, const Message& msg);
};

// Moves values between controls and fields, in one direction per run.
class CDataExchange {
public:
    CDataExchange(CDialog& dialog, bool bSaveAndValidate) : m_dialog(dialog), m_bSaveAndValidate(bSaveAndValidate) {}
    CDialog& m_dialog;
    bool m_bSaveAndValidate;  // true: controls to fields
};

// Radio group starting at nFirstId, up to the next control that starts a group: index of the checked
// radio button (-1 if none) or check the one with the index.
void DDX_Radio(CDataExchange& dx, int nFirstId, int32_t& value);
void DDX_Check(CDataExchange& dx, int nId, int32_t& value);

class CDialog {
public:
    explicit CDialog(const DialogTemplate& dialogTemplate);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    const DialogTemplate& Template() const { return m_template; }
    IDialogHost* Host() const { return m_pHost; }
    // Called by a host when it creates the window (non-null) and after it destroys it (null).
    void AttachHost(IDialogHost* pHost) { m_pHost = pHost; }

    virtual bool OnInitDialog();  // loads the controls from the fields
    virtual void DoDataExchange(CDataExchange& dx);
    virtual void OnOK();                                   // stores the fields, ends with IDOK
    virtual void OnCancel();                               // ends with IDCANCEL
    virtual const MessageMapEntry* GetMessageMap() const;  // ends with a null handler

    // Looks the message up in the table; unhandled messages get the default handling.
    intptr_t OnWndMsg(const Message& msg);
    virtual intptr_t DefWindowProc(const Message& msg);

    bool UpdateData(bool bSaveAndValidate);
    // Runs this dialog modally, owned by the given dialog.
    int DoModal(CDialog& owner);

private:
    const DialogTemplate& m_template;
    IDialogHost* m_pHost = nullptr;
};
