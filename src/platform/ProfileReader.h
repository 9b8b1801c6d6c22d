// Reading INI files with the profile semantics the configuration relies on.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

class IProfileReader {
public:
    virtual ~IProfileReader() = default;
    // The key's integer (ProfileTextToInt: blanks, a sign, decimal or "0x"/"0o"/"0b" digits, wrapped to
    // 32 bits). A missing file, section or key, or an empty value, gives nDefault.
    virtual uint32_t GetPrivateProfileInt(const QString& section, const QString& key, int32_t nDefault,
                                          const QString& path) = 0;
    // The key's text, trimmed and unquoted, cut to nCapacity - 1 characters (never inside a
    // character). A missing file, section or key gives strDefault (cut the same way).
    virtual QString GetPrivateProfileString(const QString& section, const QString& key, const QString& strDefault,
                                            int nCapacity, const QString& path) = 0;
};

// Reads files from disk, keeping one parsed copy per path until the file's size or time changes. A file
// of more than 64 MiB is read as missing (a damaged file, not a configuration).
// Safe to call from two threads.
std::unique_ptr<IProfileReader> CreateFileProfileReader();
