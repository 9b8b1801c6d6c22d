#include "platform/Dialog.h"

namespace {

const ControlTemplate* FindControl(const DialogTemplate& tpl, int nId, size_t& nIndex)
{
    for (size_t i = 0; i < tpl.controls.size(); ++i) {
        if (tpl.controls[i].nId == nId) {
            nIndex = i;
            return &tpl.controls[i];
        }
    }
    return nullptr;
}

const MessageMapEntry kEmptyMessageMap[] = {
    {MessageKind::Command, 0, 0, nullptr},
};

}  // namespace

// The group runs from the first control up to (not including) the next control that starts a group;
// only radio buttons are counted, so a check box inside the group keeps its own state.
void DDX_Radio(CDataExchange& dx, int nFirstId, int32_t& value)
{
    IDialogHost* pHost = dx.m_dialog.Host();
    const DialogTemplate& tpl = dx.m_dialog.Template();
    size_t nFirst = 0;
    if (pHost == nullptr || FindControl(tpl, nFirstId, nFirst) == nullptr)
        return;

    if (dx.m_bSaveAndValidate)
        value = -1;
    int32_t nIndex = 0;
    for (size_t i = nFirst; i < tpl.controls.size(); ++i) {
        const ControlTemplate& ctl = tpl.controls[i];
        if (i != nFirst && (ctl.nStyle & CS_GROUP) != 0)
            break;
        if (ctl.kind != ControlKind::RadioButton)
            continue;
        if (dx.m_bSaveAndValidate) {
            if (pHost->GetCheck(ctl.nId) != 0)
                value = nIndex;
        } else {
            pHost->SetCheck(ctl.nId, nIndex == value ? 1 : 0);
        }
        ++nIndex;
    }
}

void DDX_Check(CDataExchange& dx, int nId, int32_t& value)
{
    IDialogHost* pHost = dx.m_dialog.Host();
    if (pHost == nullptr)
        return;
    if (dx.m_bSaveAndValidate)
        value = pHost->GetCheck(nId);
    else
        pHost->SetCheck(nId, value != 0 ? 1 : 0);
}

CDialog::CDialog(const DialogTemplate& dialogTemplate) : m_template(dialogTemplate) {}

CDialog::~CDialog() = default;

bool CDialog::OnInitDialog()
{
    UpdateData(false);
    return true;
}

void CDialog::DoDataExchange(CDataExchange&) {}

void CDialog::OnOK()
{
    if (!UpdateData(true))
        return;
    if (m_pHost != nullptr)
        m_pHost->EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    if (m_pHost != nullptr)
        m_pHost->EndDialog(IDCANCEL);
}

const MessageMapEntry* CDialog::GetMessageMap() const
{
    return kEmptyMessageMap;
}

intptr_t CDialog::OnWndMsg(const Message& msg)
{
    for (const MessageMapEntry* pEntry = GetMessageMap(); pEntry != nullptr && pEntry->pfnHandler != nullptr;
         ++pEntry) {
        if (pEntry->kind != msg.kind)
            continue;
        if (pEntry->nId != -1 && pEntry->nId != msg.nId)
            continue;
        if (pEntry->nCode != -1 && pEntry->nCode != msg.nCode)
            continue;
        return pEntry->pfnHandler(*this, msg);
    }
    return DefWindowProc(msg);
}

// The default handling: a close request is the Cancel command; the commands 1 and 2 are OK and
// Cancel. Everything else has no effect of the dialog's own.
intptr_t CDialog::DefWindowProc(const Message& msg)
{
    switch (msg.kind) {
    case MessageKind::Close:
        OnCancel();
        return 0;
    case MessageKind::Command:
        if (msg.nCode != BN_CLICKED)
            return 0;
        if (msg.nId == IDOK)
            OnOK();
        else if (msg.nId == IDCANCEL)
            OnCancel();
        return 0;
    default:
        return 0;
    }
}

bool CDialog::UpdateData(bool bSaveAndValidate)
{
    if (m_pHost == nullptr)
        return false;
    CDataExchange dx(*this, bSaveAndValidate);
    DoDataExchange(dx);
    return true;
}

int CDialog::DoModal(CDialog& owner)
{
    IDialogHost* pOwnerHost = owner.Host();
    if (pOwnerHost == nullptr)
        return -1;
    return pOwnerHost->RunModalChild(*this);
}
