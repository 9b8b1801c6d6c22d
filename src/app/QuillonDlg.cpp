#include "app/QuillonDlg.h"

#include "app/AboutDlg.h"
#include "app/DeviceList.h"
#include "app/Resource.h"
#include "app/Resources.h"
#include "app/WindowConfig.h"
#include "platform/PreferenceStore.h"

namespace {

const char16_t kExitRefused[] = u"Do NOT exit while DFU is running!";

CQuillonDlg& Self(CDialog& dialog)
{
    return static_cast<CQuillonDlg&>(dialog);
}

template <void (CQuillonDlg::*Handler)()>
intptr_t Call(CDialog& dialog, const Message&)
{
    (Self(dialog).*Handler)();
    return 0;
}

intptr_t OnSysCommandEntry(CDialog& dialog, const Message& msg)
{
    return dialog.DefWindowProc(msg);
}

intptr_t OnQueryDragIconEntry(CDialog& dialog, const Message&)
{
    return Self(dialog).OnQueryDragIcon();
}

intptr_t OnDeviceChangeEntry(CDialog& dialog, const Message& msg)
{
    return Self(dialog).OnDeviceChange(msg.notice) ? 1 : 0;
}

intptr_t OnSelChangeEntry(CDialog& dialog, const Message&)
{
    ShowSelectedDeviceInfo(&Self(dialog));
    return 0;
}

intptr_t OnTimerEntry(CDialog& dialog, const Message& msg)
{
    Self(dialog).OnTimer(static_cast<unsigned>(msg.nId));
    return 0;
}

const MessageMapEntry kMessageMap[] = {
    {MessageKind::SysCommand, -1, -1, &OnSysCommandEntry},
    {MessageKind::Paint, -1, -1, &Call<&CQuillonDlg::OnPaint>},
    {MessageKind::QueryDragIcon, -1, -1, &OnQueryDragIconEntry},
    {MessageKind::Destroy, -1, -1, &Call<&CQuillonDlg::OnDestroy>},
    {MessageKind::DeviceChange, -1, -1, &OnDeviceChangeEntry},
    {MessageKind::Command, ID_HELP_ABOUT, BN_CLICKED, &Call<&CQuillonDlg::OnAbout>},
    {MessageKind::Command, ID_FILE_OPEN_IMAGE, BN_CLICKED, &Call<&CQuillonDlg::OnOpenImage>},
    {MessageKind::Command, IDC_DEVICE_COMBO, CBN_SELCHANGE, &OnSelChangeEntry},
    {MessageKind::Command, IDC_START, BN_CLICKED, &Call<&CQuillonDlg::OnStart>},
    {MessageKind::Command, ID_CONFIG_OPTIONS, BN_CLICKED, &Call<&CQuillonDlg::OnOptions>},
    {MessageKind::Close, -1, -1, &Call<&CQuillonDlg::OnClose>},
    {MessageKind::Timer, -1, -1, &OnTimerEntry},
    {MessageKind::Command, IDC_CLEAR_TRACE, BN_CLICKED, &Call<&CQuillonDlg::ClearTrace>},
    {MessageKind::Command, 0, 0, nullptr},
};

// Asks the operator's window to stay open; true when ending it now would leave a worker behind.
bool RefuseEndWhileWorking(CQuillonDlg* pDlg)
{
    if (!pDlg->m_bBusy.load() && !pDlg->m_bWorkerRunning.load())
        return false;
    if (IDialogHost* pHost = pDlg->Host())
        pHost->MessageBox(QString::fromUtf16(kExitRefused));
    return true;
}

}  // namespace

CQuillonDlg::CQuillonDlg(CQuillonEnv& env) : CDialog(QuillonDialogTemplate()), m_hIcon(IDR_MAINFRAME), m_env(env) {}

CQuillonDlg::~CQuillonDlg()
{
    // The window never ends while a worker runs; what may be left is a thread at its very last
    // instructions, whose handle is released here.
    if (m_hWorkerThread.joinable())
        m_hWorkerThread.join();
}

const MessageMapEntry* CQuillonDlg::GetMessageMap() const
{
    return kMessageMap;
}

void CQuillonDlg::DoDataExchange(CDataExchange& dx)
{
    DDX_Radio(dx, IDC_DOWNLOAD, m_nOperation);
    int32_t nUpdateAll = m_bUpdateAll.load();
    DDX_Check(dx, IDC_UPDATE_ALL, nUpdateAll);
    m_bUpdateAll = nUpdateAll;
}

// The order matters: the three library tables are in place before the first enumeration, and the
// census describes the list as filled here.
bool CQuillonDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    IDialogHost* pHost = Host();
    pHost->SetIcon(m_hIcon, true);
    pHost->SetIcon(m_hIcon, false);

    ResolveModuleDirectory(this);
    LoadConfiguration(this);
    g_pFlashInfo = m_pFlashInfo;

    if (m_env.pPrefs != nullptr) {
        m_nMatchPolicy = m_env.pPrefs->GetProfileInt(QStringLiteral("Options"), QStringLiteral("MatchPolicy"), 0);
        m_bAutoVerify = m_env.pPrefs->GetProfileInt(QStringLiteral("Options"), QStringLiteral("AutoVerify"), 0) != 0;
    }

    pHost->ProgressSetRange(IDC_PROGRESS, 0, 100);

    g_pKnownIDs_NormalMode = m_pKnownIds;
    g_pKnownDfuPatchInfos = m_pDfuPatchInfos;

    RefreshDeviceList(this);
    WriteDeviceCensus(this);

    if (m_env.pNotifier != nullptr) {
        // Notices come on the notifier's thread and are handled as messages on the window's thread.
        m_hDevNotify = m_env.pNotifier->Register([pHost](const DeviceNotice& notice) {
            Message msg;
            msg.kind = MessageKind::DeviceChange;
            msg.notice = notice;
            pHost->PostMessage(msg);
        });
    }
    return true;
}

void CQuillonDlg::OnDestroy()
{
    if (m_hDevNotify) {
        m_env.pNotifier->Unregister();
        m_hDevNotify = false;
    }
    ReleaseZelUsbDevices();
}

void CQuillonDlg::OnOK()
{
    if (RefuseEndWhileWorking(this))
        return;
    CDialog::OnOK();
}

void CQuillonDlg::OnCancel()
{
    if (RefuseEndWhileWorking(this))
        return;
    CDialog::OnCancel();
}

void CQuillonDlg::OnClose()
{
    if (RefuseEndWhileWorking(this))
        return;
    Message msg;
    msg.kind = MessageKind::Close;
    CDialog::DefWindowProc(msg);
}

intptr_t CQuillonDlg::DefWindowProc(const Message& msg)
{
    if (msg.kind == MessageKind::Command && msg.nCode == BN_CLICKED) {
        if (msg.nId == ID_APP_EXIT) {
            // Exit is a close request, so it is refused in the same cases.
            Message close;
            close.kind = MessageKind::Close;
            return OnWndMsg(close);
        }
        if (msg.nId == ID_HELP) {
            // No help file belongs to the program; the About box names it and its version.
            OnAbout();
            return 0;
        }
    }
    return CDialog::DefWindowProc(msg);
}

void CQuillonDlg::OnAbout()
{
    CAboutDlg about;
    about.DoModal(*this);
}

// Painting, also when minimised, is the toolkit's; the window's icon was set at start-up.
void CQuillonDlg::OnPaint() {}

int CQuillonDlg::OnQueryDragIcon()
{
    return m_hIcon;
}

// The executable's path arrives resolved through links; the directory keeps its trailing separator.
bool ResolveModuleDirectory(CQuillonDlg* pDlg)
{
    const QString& path = pDlg->Env().strExecutablePath;
    if (path.isEmpty())
        return false;
    const qsizetype nSlash = path.lastIndexOf(QLatin1Char('/'));
    pDlg->m_strModuleDir = nSlash >= 0 ? path.left(nSlash + 1) : QString();
    return true;
}
