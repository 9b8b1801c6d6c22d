// Files that no program should trust: empty, huge, unreadable, not files at all, endless links,
// pipes nobody writes to, random bytes. Made on demand in a scratch folder.
#pragma once

#include <QTemporaryDir>
#include <cstdint>
#include <ostream>
#include <string>
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

const char* HostileKindName(HostileKind kind);
inline void PrintTo(HostileKind kind, std::ostream* os)
{
    *os << HostileKindName(kind);
}
std::vector<HostileKind> AllHostileKinds();

// Root reads a file of mode 000 all the same, so as root the Unreadable kind is only more random
// bytes; the Directory kind is the file that nobody can read.
#define SKIP_UNREADABLE_AS_ROOT(kind)                                                                                  \
    if ((kind) == HostileKind::Unreadable && CHostileDir::RunsAsRoot())                                                \
    GTEST_SKIP() << "running as root, which reads a file of mode 000; the Directory case is the "                      \
                    "file that cannot be read"

class CHostileDir {
public:
    CHostileDir();
    ~CHostileDir();

    std::string Dir() const { return m_dir.path().toStdString(); }
    std::string Path(const std::string& name) const { return Dir() + "/" + name; }

    // Puts a hostile thing of that kind at Path(name) and returns the path.
    std::string Make(HostileKind kind, const std::string& name);
    std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes);
    std::string WriteText(const std::string& name, const std::string& text);
    std::string CopyFrom(const std::string& source, const std::string& name);

    static bool RunsAsRoot();

private:
    QTemporaryDir m_dir;
    std::vector<std::string> m_locked;  // given their permissions back before the folder goes
};

std::vector<uint8_t> RandomBytes(size_t nSize, uint32_t nSeed);
std::vector<uint8_t> ReadBytes(const std::string& path);
