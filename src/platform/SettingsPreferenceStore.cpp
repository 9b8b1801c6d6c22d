// The preference store over QSettings: organization "ZEL", the application title as application name.
#include "platform/PreferenceStore.h"
#include "platform/PreferenceValue.h"

#include "platform/NativePath.h"

#include <QSettings>
#include <QStandardPaths>
#include <QVariant>

#include <sys/stat.h>

namespace {

// The files QSettings reads for organization "ZEL" and this application, user's and system's.
QStringList SettingsFiles(const QString& appTitle)
{
    QStringList files;
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
        files << folder + QStringLiteral("/ZEL/") + appTitle + QStringLiteral(".conf")
              << folder + QStringLiteral("/ZEL.conf");
    return files;
}

class CSettingsPreferenceStore : public IPreferenceStore {
public:
    explicit CSettingsPreferenceStore(const QString& appTitle) : m_appTitle(appTitle) {}

    uint32_t GetProfileInt(const QString& section, const QString& entry, uint32_t nDefault) override
    {
        if (!SettingsStoreProblem(m_appTitle).isEmpty())
            return nDefault;
        QSettings settings(QStringLiteral("ZEL"), m_appTitle);
        settings.beginGroup(section);
        return PreferenceValueToInt(settings.value(entry), nDefault);
    }

    bool WriteProfileInt(const QString& section, const QString& entry, uint32_t nValue) override
    {
        if (!SettingsStoreProblem(m_appTitle).isEmpty())
            return false;
        QSettings settings(QStringLiteral("ZEL"), m_appTitle);
        settings.beginGroup(section);
        // A signed 32-bit value is a DWORD in a registry and plain decimal text in an INI file.
        settings.setValue(entry, static_cast<int32_t>(nValue));
        settings.endGroup();
        settings.sync();
        return settings.status() == QSettings::NoError;
    }

private:
    QString m_appTitle;
};

}  // namespace

std::unique_ptr<IPreferenceStore> CreateSettingsPreferenceStore(const QString& appTitle)
{
    return std::make_unique<CSettingsPreferenceStore>(appTitle);
}

QString SettingsStoreProblem(const QString& appTitle)
{
    for (const QString& file : SettingsFiles(appTitle)) {
        struct stat st {};
        if (::stat(PathToNative(file).constData(), &st) == 0 && !S_ISREG(st.st_mode))
            return file + QStringLiteral(" is not a regular file");
    }
    return {};
}
