#include "config/ProfileAccess.h"

#include "platform/ProfileReader.h"

uint32_t ReadIniInt(const ProfileSource& profile, const QString& section, const QString& key, int32_t nDefault)
{
    if (!profile.pReader)
        return static_cast<uint32_t>(nDefault);
    return profile.pReader->GetPrivateProfileInt(section, key, nDefault, profile.strPath);
}

QString ReadIniString(const ProfileSource& profile, const QString& section, const QString& key)
{
    if (!profile.pReader)
        return QString();
    return profile.pReader->GetPrivateProfileString(section, key, QString(), kProfileStringCapacity, profile.strPath);
}
