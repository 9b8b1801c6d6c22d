#include "app/OptionsDlg.h"

#include "app/QuillonDlg.h"
#include "app/Resource.h"
#include "app/Resources.h"
#include "platform/PreferenceStore.h"

namespace {

const MessageMapEntry kOptionsMessageMap[] = {
    {MessageKind::Command, 0, 0, nullptr},
};

int32_t Bit(uint32_t nPolicy, uint32_t nBit)
{
    return (nPolicy & nBit) != 0 ? 1 : 0;
}

}  // namespace

COptionsDlg::COptionsDlg() : CDialog(OptionsDialogTemplate()) {}

COptionsDlg::~COptionsDlg() = default;

const MessageMapEntry* COptionsDlg::GetMessageMap() const
{
    return kOptionsMessageMap;
}

void COptionsDlg::DoDataExchange(CDataExchange& dx)
{
    DDX_Check(dx, IDC_MATCH_VID, m_bMatchVid);
    DDX_Check(dx, IDC_MATCH_PID, m_bMatchPid);
    DDX_Check(dx, IDC_MATCH_VERSION, m_bMatchVersion);
    DDX_Check(dx, IDC_MATCH_SUBVERSION, m_bMatchSubVersion);
    DDX_Check(dx, IDC_MATCH_CHIPSET, m_bMatchChipset);
    DDX_Check(dx, IDC_AUTO_VERIFY, m_bVerify);
}

// Only OK changes anything: the window's copies first, then both stored values. Bits without a box
// are dropped from the policy on OK.
void CQuillonDlg::OnOptions()
{
    COptionsDlg options;
    options.m_bMatchVid = Bit(m_nMatchPolicy, MATCH_VID);
    options.m_bMatchPid = Bit(m_nMatchPolicy, MATCH_PID);
    options.m_bMatchVersion = Bit(m_nMatchPolicy, MATCH_VERSION);
    options.m_bMatchSubVersion = Bit(m_nMatchPolicy, MATCH_SUBVERSION);
    options.m_bMatchChipset = Bit(m_nMatchPolicy, MATCH_CHIPSET);
    options.m_bVerify = m_bAutoVerify ? 1 : 0;

    if (options.DoModal(*this) != IDOK)
        return;

    m_bAutoVerify = options.m_bVerify != 0;
    uint32_t nPolicy = 0;
    if (options.m_bMatchVid != 0)
        nPolicy |= MATCH_VID;
    if (options.m_bMatchPid != 0)
        nPolicy |= MATCH_PID;
    if (options.m_bMatchVersion != 0)
        nPolicy |= MATCH_VERSION;
    if (options.m_bMatchSubVersion != 0)
        nPolicy |= MATCH_SUBVERSION;
    if (options.m_bMatchChipset != 0)
        nPolicy |= MATCH_CHIPSET;
    m_nMatchPolicy = nPolicy;

    if (IPreferenceStore* pPrefs = Env().pPrefs) {
        pPrefs->WriteProfileInt(QStringLiteral("Options"), QStringLiteral("MatchPolicy"), m_nMatchPolicy);
        pPrefs->WriteProfileInt(QStringLiteral("Options"), QStringLiteral("AutoVerify"), m_bAutoVerify ? 1 : 0);
    }
}
