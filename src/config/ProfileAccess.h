// Reads of Quillon.ini: the profile reader and the file's path, with the fixed buffer capacity.
#pragma once

#include <QString>
#include <cstdint>

class IProfileReader;

constexpr int kProfileStringCapacity = 256;  // at most 255 characters

// Where the settings come from. With no reader every read gives its default.
struct ProfileSource {
    IProfileReader* pReader = nullptr;
    QString strPath;
};

uint32_t ReadIniInt(const ProfileSource& profile, const QString& section, const QString& key, int32_t nDefault);
// The value, or the empty text when it is missing.
QString ReadIniString(const ProfileSource& profile, const QString& section, const QString& key);
