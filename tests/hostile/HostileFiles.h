// Files that no program should trust: empty, huge, unreadable, not files at all, endless links,
// pipes nobody writes to, random bytes. Made on demand in a scratch folder.
#pragma once

#include "support/CliRunner.h"
#include "support/WindowFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

enum class HostileKind {
    Empty,        // zero bytes
    Huge,         // sparse, a little over 2 GiB
    Unreadable,   // mode 000 (root reads it all the same)
    Directory,    // a folder where a file is expected
    SymlinkLoop,  // a link that leads back to itself through a second link
    Fifo,         // a named pipe with no writer: opening it for reading would wait forever
    RandomBytes,  // 4 KB of noise
};

inline const char* HostileKindName(HostileKind kind)
{
    const char* names[] = {"Empty", "Huge", "Unreadable", "Directory", "SymlinkLoop", "Fifo", "RandomBytes"};
    return names[static_cast<int>(kind)];
}
inline void PrintTo(HostileKind kind, std::ostream* os)
{
    *os << HostileKindName(kind);
}
inline std::vector<HostileKind> AllHostileKinds()
{
    return {HostileKind::Empty,       HostileKind::Huge, HostileKind::Unreadable, HostileKind::Directory,
            HostileKind::SymlinkLoop, HostileKind::Fifo, HostileKind::RandomBytes};
}

// A scratch folder (holding a copy of the example devices in sim/, where quillon-cli runs) for hostile
// things and the files beside them.
class CHostileDir : public CCliScratch {
public:
    ~CHostileDir()
    {
        for (const std::string& path : m_locked)
            ::chmod(path.c_str(), 0644);  // given their permissions back before the folder goes
    }

    // Puts a hostile thing of that kind at Path(name) and returns the path.
    std::string Make(HostileKind kind, const std::string& name)
    {
        const std::string path = Path(name);
        std::error_code error;
        std::filesystem::remove_all(path, error);
        bool bMade = true;
        if (kind == HostileKind::Empty || kind == HostileKind::Huge)
            WriteBytes(name, {});
        if (kind == HostileKind::Unreadable || kind == HostileKind::RandomBytes) {
            std::mt19937 random(kind == HostileKind::Unreadable ? 7 : 1);
            std::vector<uint8_t> bytes(4096);
            std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<uint8_t>(random()); });
            WriteBytes(name, bytes);
        }
        if (kind == HostileKind::Huge)  // sparse: no disk space, but past what a signed 32-bit length holds
            bMade = ::truncate(path.c_str(), (off_t{1} << 31) + 4096) == 0;
        if (kind == HostileKind::Unreadable) {
            bMade = ::chmod(path.c_str(), 0) == 0;
            m_locked.push_back(path);
        }
        if (kind == HostileKind::Directory)
            bMade = std::filesystem::create_directory(path);
        if (kind == HostileKind::SymlinkLoop) {
            std::filesystem::create_symlink(name + ".loop", path);
            std::filesystem::create_symlink(name, path + ".loop");
        }
        if (kind == HostileKind::Fifo)
            bMade = ::mkfifo(path.c_str(), 0644) == 0;
        EXPECT_TRUE(bMade) << path;
        return path;
    }
    std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        WriteFileBytes(Path(name), bytes);
        return Path(name);
    }
    std::string WriteText(const std::string& name, const std::string& text)
    {
        WriteFileText(Path(name), text);
        return Path(name);
    }
    std::string CopyFrom(const std::string& source, const std::string& name)
    {
        return WriteBytes(name, ReadFileBytes(source));
    }

private:
    std::vector<std::string> m_locked;
};
