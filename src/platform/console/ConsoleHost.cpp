#include "platform/console/ConsoleHost.h"

#include <algorithm>

// ---- CConsoleSession ----

void CConsoleSession::SetCaption(const QString& caption)
{
    std::lock_guard lock(m_mutex);
    m_strCaption = caption;
}

QString CConsoleSession::Caption() const
{
    std::lock_guard lock(m_mutex);
    return m_strCaption;
}

void CConsoleSession::QueueOpenFileAnswer(std::optional<QString> path)
{
    std::lock_guard lock(m_mutex);
    m_openAnswers.push_back(std::move(path));
}

void CConsoleSession::QueueSaveFileAnswer(std::optional<QString> path)
{
    std::lock_guard lock(m_mutex);
    m_saveAnswers.push_back(std::move(path));
}

void CConsoleSession::QueueChildAnswer(int nTemplateId, ChildAnswer answer)
{
    std::lock_guard lock(m_mutex);
    m_childAnswers.emplace_back(nTemplateId, std::move(answer));
}

void CConsoleSession::SetFileAnswerer(FileAnswerer answerer)
{
    std::lock_guard lock(m_mutex);
    m_fileAnswerer = std::move(answerer);
}

void CConsoleSession::SetMessageBoxSink(std::function<void(const QString&)> sink)
{
    std::lock_guard lock(m_mutex);
    m_messageBoxSink = std::move(sink);
}

void CConsoleSession::SetTraceSink(std::function<void(const QString&)> sink)
{
    std::lock_guard lock(m_mutex);
    m_traceSink = std::move(sink);
}

std::vector<QString> CConsoleSession::MessageBoxes() const
{
    std::lock_guard lock(m_mutex);
    return m_messageBoxes;
}

std::vector<CConsoleSession::FileDialogRecord> CConsoleSession::FileDialogs() const
{
    std::lock_guard lock(m_mutex);
    return m_fileDialogs;
}

std::vector<int> CConsoleSession::ChildDialogs() const
{
    std::lock_guard lock(m_mutex);
    return m_childDialogs;
}

std::vector<QString> CConsoleSession::TraceTexts() const
{
    std::lock_guard lock(m_mutex);
    return m_traceTexts;
}

size_t CConsoleSession::PendingAnswers() const
{
    std::lock_guard lock(m_mutex);
    return m_openAnswers.size() + m_saveAnswers.size() + m_childAnswers.size();
}

void CConsoleSession::RecordMessageBox(const QString& text)
{
    std::function<void(const QString&)> sink;
    {
        std::lock_guard lock(m_mutex);
        m_messageBoxes.push_back(text);
        sink = m_messageBoxSink;
    }
    if (sink) {
        std::lock_guard sinkLock(m_sinkMutex);
        sink(text);
    }
}

void CConsoleSession::RecordTrace(const QString& text)
{
    std::function<void(const QString&)> sink;
    {
        std::lock_guard lock(m_mutex);
        m_traceTexts.push_back(text);
        sink = m_traceSink;
    }
    if (sink) {
        std::lock_guard sinkLock(m_sinkMutex);
        sink(text);
    }
}

bool CConsoleSession::AnswerFileDialog(bool bSave, const FileDialogRequest& request, QString& path)
{
    std::optional<std::optional<QString>> scripted;
    FileAnswerer answerer;
    {
        std::lock_guard lock(m_mutex);
        auto& queue = bSave ? m_saveAnswers : m_openAnswers;
        if (!queue.empty()) {
            scripted = queue.front();
            queue.pop_front();
        } else {
            answerer = m_fileAnswerer;
        }
    }
    bool bAccepted = false;
    QString chosen;
    if (scripted.has_value()) {
        if (scripted->has_value()) {
            bAccepted = true;
            chosen = **scripted;
        }
    } else if (answerer) {
        bAccepted = answerer(bSave, request, chosen);
    }
    {
        std::lock_guard lock(m_mutex);
        m_fileDialogs.push_back({bSave, request, bAccepted, bAccepted ? chosen : QString()});
    }
    if (bAccepted)
        path = chosen;
    return bAccepted;
}

std::optional<CConsoleSession::ChildAnswer> CConsoleSession::TakeChildAnswer(int nTemplateId)
{
    std::lock_guard lock(m_mutex);
    m_childDialogs.push_back(nTemplateId);
    for (auto it = m_childAnswers.begin(); it != m_childAnswers.end(); ++it) {
        if (it->first == nTemplateId) {
            ChildAnswer answer = std::move(it->second);
            m_childAnswers.erase(it);
            return answer;
        }
    }
    return std::nullopt;
}

// ---- CConsoleHost ----

CConsoleHost::CConsoleHost(CConsoleSession& session, CDialog& dialog) : m_session(session), m_dialog(dialog)
{
    const DialogTemplate& tpl = dialog.Template();
    for (const ControlTemplate& ctl : tpl.controls) {
        if (ctl.nId == -1)
            continue;
        Control control;
        control.kind = ctl.kind;
        control.nStyle = ctl.nStyle;
        control.bEnabled = (ctl.nStyle & CS_DISABLED) == 0;
        if (ctl.kind != ControlKind::DropDownList && ctl.kind != ControlKind::Icon && ctl.pszText != nullptr)
            control.text = QString::fromUtf8(ctl.pszText);
        m_controls.emplace(ctl.nId, std::move(control));
    }
    for (const MenuTemplate& menu : tpl.menu)
        for (const MenuItemTemplate& item : menu.items)
            if (item.nCommand != 0)
                m_menu[item.nCommand] = true;
}

CConsoleHost::~CConsoleHost()
{
    if (m_bCreated && !m_bDestroyed)
        Destroy();
}

void CConsoleHost::Create()
{
    {
        std::lock_guard lock(m_mutex);
        m_uiThread = std::this_thread::get_id();
        m_bCreated = true;
        // Focus starts on the first enabled tab stop, as a dialog manager would place it.
        for (const ControlTemplate& ctl : m_dialog.Template().controls) {
            if (ctl.nId != -1 && (ctl.nStyle & CS_TABSTOP) != 0 && (ctl.nStyle & CS_DISABLED) == 0) {
                m_nFocus = ctl.nId;
                break;
            }
        }
    }
    m_dialog.AttachHost(this);
    m_dialog.OnInitDialog();
}

void CConsoleHost::RunMessageLoop()
{
    for (;;) {
        Message msg;
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [this] { return m_bEnded || !m_queue.empty(); });
            if (m_bEnded)
                return;
            msg = m_queue.front();
            m_queue.pop_front();
        }
        m_dialog.OnWndMsg(msg);
    }
}

int CConsoleHost::PumpMessages()
{
    int nDelivered = 0;
    for (;;) {
        Message msg;
        {
            std::lock_guard lock(m_mutex);
            if (m_bEnded || m_bDestroyed || m_queue.empty())
                return nDelivered;
            msg = m_queue.front();
            m_queue.pop_front();
        }
        m_dialog.OnWndMsg(msg);
        ++nDelivered;
    }
}

bool CConsoleHost::DeliverNext(std::chrono::milliseconds timeout)
{
    Message msg;
    {
        std::unique_lock lock(m_mutex);
        if (!m_cv.wait_for(lock, timeout, [this] { return m_bEnded || m_bDestroyed || !m_queue.empty(); }))
            return false;
        if (m_bEnded || m_bDestroyed)
            return false;
        msg = m_queue.front();
        m_queue.pop_front();
    }
    m_dialog.OnWndMsg(msg);
    return true;
}

void CConsoleHost::Destroy()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_bCreated || m_bDestroyed)
            return;
    }
    Message msg;
    msg.kind = MessageKind::Destroy;
    m_dialog.OnWndMsg(msg);
    {
        std::lock_guard lock(m_mutex);
        m_bDestroyed = true;
        m_timers.clear();
        m_queue.clear();
    }
    m_cv.notify_all();
    m_dialog.AttachHost(nullptr);
}

bool CConsoleHost::IsEnded() const
{
    std::lock_guard lock(m_mutex);
    return m_bEnded;
}

int CConsoleHost::Result() const
{
    std::lock_guard lock(m_mutex);
    return m_nResult;
}

intptr_t CConsoleHost::Send(const Message& msg)
{
    return m_dialog.OnWndMsg(msg);
}

std::vector<int> CConsoleHost::RadioGroupOf(int nId) const
{
    const auto& controls = m_dialog.Template().controls;
    size_t nAt = controls.size();
    for (size_t i = 0; i < controls.size(); ++i)
        if (controls[i].nId == nId)
            nAt = i;
    if (nAt == controls.size())
        return {};
    size_t nBegin = nAt;
    while (nBegin > 0 && (controls[nBegin].nStyle & CS_GROUP) == 0)
        --nBegin;
    std::vector<int> group;
    for (size_t i = nBegin; i < controls.size(); ++i) {
        if (i != nBegin && (controls[i].nStyle & CS_GROUP) != 0)
            break;
        if (controls[i].kind == ControlKind::RadioButton && controls[i].nId != -1)
            group.push_back(controls[i].nId);
    }
    return group;
}

bool CConsoleHost::Click(int nId)
{
    Message msg;
    msg.kind = MessageKind::Command;
    msg.nId = nId;
    msg.nCode = BN_CLICKED;
    {
        std::lock_guard lock(m_mutex);
        Control* pControl = Find(nId);
        if (pControl == nullptr || !pControl->bEnabled)
            return false;
        switch (pControl->kind) {
        case ControlKind::RadioButton:
            for (int nOther : RadioGroupOf(nId))
                if (Control* pOther = Find(nOther))
                    pOther->nCheck = nOther == nId ? 1 : 0;
            break;
        case ControlKind::CheckBox:
            pControl->nCheck = pControl->nCheck != 0 ? 0 : 1;
            break;
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
            break;
        default:
            return false;
        }
        m_nFocus = nId;
    }
    Send(msg);
    return true;
}

bool CConsoleHost::SelectComboItem(int nId, int nIndex)
{
    {
        std::lock_guard lock(m_mutex);
        Control* pControl = Find(nId);
        if (pControl == nullptr || !pControl->bEnabled || nIndex < 0 ||
            nIndex >= static_cast<int>(pControl->items.size()))
            return false;
        pControl->nCurSel = nIndex;
    }
    Message msg;
    msg.kind = MessageKind::Command;
    msg.nId = nId;
    msg.nCode = CBN_SELCHANGE;
    Send(msg);
    return true;
}

bool CConsoleHost::ChooseMenuItem(int nCommand)
{
    {
        std::lock_guard lock(m_mutex);
        auto it = m_menu.find(nCommand);
        if (it == m_menu.end() || !it->second)
            return false;
    }
    Message msg;
    msg.kind = MessageKind::Command;
    msg.nId = nCommand;
    msg.nCode = BN_CLICKED;
    Send(msg);
    return true;
}

void CConsoleHost::RequestClose()
{
    Message msg;
    msg.kind = MessageKind::Close;
    Send(msg);
}

void CConsoleHost::SetFocus(int nId)
{
    std::lock_guard lock(m_mutex);
    m_nFocus = nId;
}

int CConsoleHost::Focus() const
{
    std::lock_guard lock(m_mutex);
    return m_nFocus;
}

// Enter clicks the focused push button when it can take the click; anywhere else it is the OK command,
// whether or not the dialog has a button with that identifier.
void CConsoleHost::PressEnter()
{
    bool bClickFocused = false;
    int nFocus = -1;
    {
        std::lock_guard lock(m_mutex);
        nFocus = m_nFocus;
        const Control* pControl = Find(nFocus);
        bClickFocused = pControl != nullptr && pControl->bEnabled &&
                        (pControl->kind == ControlKind::PushButton || pControl->kind == ControlKind::DefPushButton);
    }
    Message msg;
    msg.kind = MessageKind::Command;
    msg.nId = bClickFocused ? nFocus : IDOK;
    msg.nCode = BN_CLICKED;
    Send(msg);
}

void CConsoleHost::PressEscape()
{
    Message msg;
    msg.kind = MessageKind::Command;
    msg.nId = IDCANCEL;
    msg.nCode = BN_CLICKED;
    Send(msg);
}

void CConsoleHost::PressF1()
{
    Message msg;
    msg.kind = MessageKind::Command;
    msg.nId = ID_HELP;
    msg.nCode = BN_CLICKED;
    Send(msg);
}

void CConsoleHost::SetEditSelection(int nId, int nStart, int nEnd)
{
    std::lock_guard lock(m_mutex);
    if (Control* pControl = Find(nId)) {
        const int nLength = static_cast<int>(pControl->text.size());
        pControl->nSelStart = std::clamp(nStart, 0, nLength);
        pControl->nSelEnd = std::clamp(nEnd, pControl->nSelStart, nLength);
    }
}

std::pair<int, int> CConsoleHost::EditSelection(int nId) const
{
    std::lock_guard lock(m_mutex);
    const Control* pControl = Find(nId);
    return pControl != nullptr ? std::make_pair(pControl->nSelStart, pControl->nSelEnd) : std::make_pair(0, 0);
}

bool CConsoleHost::FireTimer(uint32_t nIdEvent)
{
    Message msg;
    msg.kind = MessageKind::Timer;
    msg.nId = static_cast<int>(nIdEvent);
    {
        std::lock_guard lock(m_mutex);
        if (m_bDestroyed || m_timers.count(nIdEvent) == 0)
            return false;
        m_queue.push_back(msg);
    }
    m_cv.notify_all();
    return true;
}

bool CConsoleHost::HasControl(int nId) const
{
    std::lock_guard lock(m_mutex);
    return Find(nId) != nullptr;
}

std::vector<CConsoleHost::ComboItem> CConsoleHost::ComboItems(int nId) const
{
    std::lock_guard lock(m_mutex);
    const Control* pControl = Find(nId);
    return pControl != nullptr ? pControl->items : std::vector<ComboItem>{};
}

std::pair<int, int> CConsoleHost::ProgressRange(int nId) const
{
    std::lock_guard lock(m_mutex);
    const Control* pControl = Find(nId);
    return pControl != nullptr ? std::make_pair(pControl->nLower, pControl->nUpper) : std::make_pair(0, 0);
}

std::map<uint32_t, uint32_t> CConsoleHost::ActiveTimers() const
{
    std::lock_guard lock(m_mutex);
    return m_timers;
}

int CConsoleHost::Icon(bool bBig) const
{
    std::lock_guard lock(m_mutex);
    return bBig ? m_nBigIcon : m_nSmallIcon;
}

size_t CConsoleHost::QueuedMessages() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

CConsoleHost::Control* CConsoleHost::Find(int nId)
{
    auto it = m_controls.find(nId);
    return it != m_controls.end() ? &it->second : nullptr;
}

const CConsoleHost::Control* CConsoleHost::Find(int nId) const
{
    auto it = m_controls.find(nId);
    return it != m_controls.end() ? &it->second : nullptr;
}

// ---- IDialogHost: controls ----

void CConsoleHost::SetDlgItemText(int nId, const QString& text)
{
    std::lock_guard lock(m_mutex);
    if (Control* pControl = Find(nId)) {
        pControl->text = text;
        pControl->nSelStart = pControl->nSelEnd = 0;
    }
}

QString CConsoleHost::GetDlgItemText(int nId)
{
    std::lock_guard lock(m_mutex);
    const Control* pControl = Find(nId);
    if (pControl == nullptr)
        return {};
    if (pControl->kind == ControlKind::DropDownList)
        return pControl->nCurSel >= 0 ? pControl->items[static_cast<size_t>(pControl->nCurSel)].text : QString();
    return pControl->text;
}

void CConsoleHost::EnableDlgItem(int nId, bool bEnable)
{
    std::lock_guard lock(m_mutex);
    if (Control* pControl = Find(nId))
        pControl->bEnabled = bEnable;
}

bool CConsoleHost::IsDlgItemEnabled(int nId)
{
    std::lock_guard lock(m_mutex);
    const Control* pControl = Find(nId);
    return pControl != nullptr && pControl->bEnabled;
}

int CConsoleHost::GetCheck(int nId)
{
    std::lock_guard lock(m_mutex);
    const Control* pControl = Find(nId);
    return pControl != nullptr ? pControl->nCheck : 0;
}

void CConsoleHost::SetCheck(int nId, int nCheck)
{
    std::lock_guard lock(m_mutex);
    if (Control* pControl = Find(nId))
        pControl->nCheck = nCheck != 0 ? 1 : 0;
}

// ---- drop-down list: indices outside the list are refused (-1, null, nothing changed) ----

int CConsoleHost::ComboGetCount(int nId)
{
    std::lock_guard lock(m_mutex);
    const Control* pControl = Find(nId);
    return pControl != nullptr ? static_cast<int>(pControl->items.size()) : 0;
}

int CConsoleHost::ComboAddString(int nId, const QString& text)
{
    return ComboInsertString(nId, -1, text);
}

// Inserting at or before the selection moves the selection with its entry.
int CConsoleHost::ComboInsertString(int nId, int nIndex, const QString& text)
{
    std::lock_guard lock(m_mutex);
    Control* pControl = Find(nId);
    if (pControl == nullptr)
        return -1;
    const int nCount = static_cast<int>(pControl->items.size());
    if (nIndex < 0)
        nIndex = nCount;
    if (nIndex > nCount)
        return -1;
    pControl->items.insert(pControl->items.begin() + nIndex, ComboItem{text, nullptr});
    if (pControl->nCurSel >= nIndex)
        ++pControl->nCurSel;
    return nIndex;
}

// Deleting the selected entry leaves no selection; deleting one before it moves the selection up.
void CConsoleHost::ComboDeleteString(int nId, int nIndex)
{
    std::lock_guard lock(m_mutex);
    Control* pControl = Find(nId);
    if (pControl == nullptr || nIndex < 0 || nIndex >= static_cast<int>(pControl->items.size()))
        return;
    pControl->items.erase(pControl->items.begin() + nIndex);
    if (pControl->nCurSel == nIndex)
        pControl->nCurSel = -1;
    else if (pControl->nCurSel > nIndex)
        --pControl->nCurSel;
}

void CConsoleHost::ComboResetContent(int nId)
{
    std::lock_guard lock(m_mutex);
    if (Control* pControl = Find(nId)) {
        pControl->items.clear();
        pControl->nCurSel = -1;
    }
}

void CConsoleHost::ComboSetItemData(int nId, int nIndex, void* pData)
{
    std::lock_guard lock(m_mutex);
    Control* pControl = Find(nId);
    if (pControl != nullptr && nIndex >= 0 && nIndex < static_cast<int>(pControl->items.size()))
        pControl->items[static_cast<size_t>(nIndex)].pData = pData;
}

void* CConsoleHost::ComboGetItemData(int nId, int nIndex)
{
    std::lock_guard lock(m_mutex);
    const Control* pControl = Find(nId);
    if (pControl == nullptr || nIndex < 0 || nIndex >= static_cast<int>(pControl->items.size()))
        return nullptr;
    return pControl->items[static_cast<size_t>(nIndex)].pData;
}

QString CConsoleHost::ComboGetText(int nId, int nIndex)
{
    std::lock_guard lock(m_mutex);
    const Control* pControl = Find(nId);
    if (pControl == nullptr || nIndex < 0 || nIndex >= static_cast<int>(pControl->items.size()))
        return {};
    return pControl->items[static_cast<size_t>(nIndex)].text;
}

int CConsoleHost::ComboGetCurSel(int nId)
{
    std::lock_guard lock(m_mutex);
    const Control* pControl = Find(nId);
    return pControl != nullptr ? pControl->nCurSel : -1;
}

void CConsoleHost::ComboSetCurSel(int nId, int nIndex)
{
    std::lock_guard lock(m_mutex);
    if (Control* pControl = Find(nId))
        pControl->nCurSel = nIndex >= 0 && nIndex < static_cast<int>(pControl->items.size()) ? nIndex : -1;
}

// ---- multi-line edit, progress bar, menu, timers, icon ----

void CConsoleHost::EditAppendText(int nId, const QString& text)
{
    {
        std::lock_guard lock(m_mutex);
        Control* pControl = Find(nId);
        if (pControl == nullptr)
            return;
        // Wherever the operator left the caret or selection, the text goes at the very end.
        pControl->text.append(text);
        pControl->nSelStart = pControl->nSelEnd = static_cast<int>(pControl->text.size());
    }
    m_session.RecordTrace(text);
}

void CConsoleHost::ProgressSetRange(int nId, int nLower, int nUpper)
{
    std::lock_guard lock(m_mutex);
    if (Control* pControl = Find(nId)) {
        pControl->nLower = nLower;
        pControl->nUpper = nUpper;
        pControl->nPos = std::clamp(pControl->nPos, nLower, std::max(nLower, nUpper));
    }
}

void CConsoleHost::ProgressSetPos(int nId, int nPos)
{
    std::lock_guard lock(m_mutex);
    if (Control* pControl = Find(nId))
        pControl->nPos = std::clamp(nPos, pControl->nLower, std::max(pControl->nLower, pControl->nUpper));
}

int CConsoleHost::ProgressGetPos(int nId)
{
    std::lock_guard lock(m_mutex);
    const Control* pControl = Find(nId);
    return pControl != nullptr ? pControl->nPos : 0;
}

void CConsoleHost::EnableMenuItem(int nCommand, bool bEnable)
{
    std::lock_guard lock(m_mutex);
    auto it = m_menu.find(nCommand);
    if (it != m_menu.end())
        it->second = bEnable;
}

bool CConsoleHost::IsMenuItemEnabled(int nCommand)
{
    std::lock_guard lock(m_mutex);
    auto it = m_menu.find(nCommand);
    return it != m_menu.end() && it->second;
}

// Ticks are never generated by time here: FireTimer queues them.
uint32_t CConsoleHost::SetTimer(uint32_t nIdEvent, uint32_t nElapseMs)
{
    std::lock_guard lock(m_mutex);
    if (nIdEvent == 0 || m_bDestroyed)
        return 0;
    m_timers[nIdEvent] = nElapseMs;
    return nIdEvent;
}

void CConsoleHost::KillTimer(uint32_t nIdEvent)
{
    std::lock_guard lock(m_mutex);
    m_timers.erase(nIdEvent);
}

void CConsoleHost::SetIcon(int nIconId, bool bBig)
{
    std::lock_guard lock(m_mutex);
    (bBig ? m_nBigIcon : m_nSmallIcon) = nIconId;
}

// ---- modal pieces ----

void CConsoleHost::MessageBox(const QString& text)
{
    m_session.RecordMessageBox(text);
}

bool CConsoleHost::GetOpenFileName(const FileDialogRequest& request, QString& path)
{
    return m_session.AnswerFileDialog(false, request, path);
}

bool CConsoleHost::GetSaveFileName(const FileDialogRequest& request, QString& path)
{
    return m_session.AnswerFileDialog(true, request, path);
}

// Without a scripted answer the child is dismissed as with its close box.
int CConsoleHost::RunModalChild(CDialog& dialog)
{
    CConsoleHost child(m_session, dialog);
    child.Create();
    std::optional<CConsoleSession::ChildAnswer> answer = m_session.TakeChildAnswer(dialog.Template().nId);
    if (answer.has_value() && *answer) {
        const int nCommand = (*answer)(child);
        if (nCommand == IDOK || nCommand == IDCANCEL) {
            Message msg;
            msg.kind = MessageKind::Command;
            msg.nId = nCommand;
            msg.nCode = BN_CLICKED;
            child.Send(msg);
        }
    }
    child.PumpMessages();
    if (!child.IsEnded())
        child.RequestClose();
    if (!child.IsEnded())
        child.EndDialog(IDCANCEL);
    child.Destroy();
    return child.Result();
}

void CConsoleHost::EndDialog(int nResult)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_bEnded)
            return;
        m_bEnded = true;
        m_nResult = nResult;
    }
    m_cv.notify_all();
}

void CConsoleHost::PostMessage(const Message& msg)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_bDestroyed)
            return;
        m_queue.push_back(msg);
    }
    m_cv.notify_all();
}

bool CConsoleHost::IsUiThread()
{
    std::lock_guard lock(m_mutex);
    return std::this_thread::get_id() == m_uiThread;
}

// ---- CConsoleHostFactory ----

int CConsoleHostFactory::RunModal(CDialog& dialog)
{
    CConsoleHost host(m_session, dialog);
    host.Create();
    if (onCreated)
        onCreated(host);
    host.RunMessageLoop();
    host.Destroy();
    return host.Result();
}
