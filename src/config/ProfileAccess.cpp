#include "config/ProfileAccess.h"

#include "app/QuillonDlg.h"
#include "platform/ProfileReader.h"

uint32_t ReadIniInt(CQuillonDlg* pDlg, const QString& section, const QString& key, int32_t nDefault)
{
    IProfileReader* pProfile = pDlg->Env().pProfile;
    if (!pProfile)
        return static_cast<uint32_t>(nDefault);
    return pProfile->GetPrivateProfileInt(section, key, nDefault, pDlg->m_strIniPath);
}

QString ReadIniString(CQuillonDlg* pDlg, const QString& section, const QString& key)
{
    IProfileReader* pProfile = pDlg->Env().pProfile;
    if (!pProfile)
        return QString();
    return pProfile->GetPrivateProfileString(section, key, QString(), kProfileStringCapacity, pDlg->m_strIniPath);
}
