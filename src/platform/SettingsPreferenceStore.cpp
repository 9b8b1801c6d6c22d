// The preference store over QSettings: organization "ZEL", the application title as application name.
#include "platform/PreferenceStore.h"
#include "platform/PreferenceValue.h"

#include <QSettings>
#include <QVariant>

namespace {

class CSettingsPreferenceStore : public IPreferenceStore {
public:
    explicit CSettingsPreferenceStore(const QString& appTitle) : m_appTitle(appTitle) {}

    uint32_t GetProfileInt(const QString& section, const QString& entry, uint32_t nDefault) override
    {
        QSettings settings(QStringLiteral("ZEL"), m_appTitle);
        settings.beginGroup(section);
        return PreferenceValueToInt(settings.value(entry), nDefault);
    }

    bool WriteProfileInt(const QString& section, const QString& entry, uint32_t nValue) override
    {
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
