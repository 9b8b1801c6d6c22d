#include "HostileFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

const char* HostileKindName(HostileKind kind)
{
    switch (kind) {
    case HostileKind::Empty:
        return "Empty";
    case HostileKind::Huge:
        return "Huge";
    case HostileKind::Unreadable:
        return "Unreadable";
    case HostileKind::Directory:
        return "Directory";
    case HostileKind::SymlinkLoop:
        return "SymlinkLoop";
    case HostileKind::Fifo:
        return "Fifo";
    case HostileKind::RandomBytes:
        return "RandomBytes";
    }
    return "?";
}

std::vector<HostileKind> AllHostileKinds()
{
    return {HostileKind::Empty,       HostileKind::Huge, HostileKind::Unreadable, HostileKind::Directory,
            HostileKind::SymlinkLoop, HostileKind::Fifo, HostileKind::RandomBytes};
}

CHostileDir::CHostileDir()
{
    EXPECT_TRUE(m_dir.isValid());
}

CHostileDir::~CHostileDir()
{
    for (const std::string& path : m_locked)
        ::chmod(path.c_str(), 0644);
}

bool CHostileDir::RunsAsRoot()
{
    return ::geteuid() == 0;
}

std::string CHostileDir::Make(HostileKind kind, const std::string& name)
{
    const std::string path = Path(name);
    std::error_code error;
    fs::remove_all(path, error);
    switch (kind) {
    case HostileKind::Empty:
        WriteBytes(name, {});
        break;
    case HostileKind::Huge: {
        WriteBytes(name, {});
        // Sparse: no disk space is used, but the size is past what a signed 32-bit length can hold.
        EXPECT_EQ(::truncate(path.c_str(), (off_t{1} << 31) + 4096), 0);
        break;
    }
    case HostileKind::Unreadable:
        WriteBytes(name, RandomBytes(4096, 7));
        EXPECT_EQ(::chmod(path.c_str(), 0), 0);
        m_locked.push_back(path);
        break;
    case HostileKind::Directory:
        EXPECT_TRUE(fs::create_directory(path));
        break;
    case HostileKind::SymlinkLoop:
        fs::create_symlink(name + ".loop", path);
        fs::create_symlink(name, path + ".loop");
        break;
    case HostileKind::Fifo:
        EXPECT_EQ(::mkfifo(path.c_str(), 0644), 0);
        break;
    case HostileKind::RandomBytes:
        WriteBytes(name, RandomBytes(4096, 1));
        break;
    }
    return path;
}

std::string CHostileDir::WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes)
{
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
    return path;
}

std::string CHostileDir::WriteText(const std::string& name, const std::string& text)
{
    return WriteBytes(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string CHostileDir::CopyFrom(const std::string& source, const std::string& name)
{
    return WriteBytes(name, ReadBytes(source));
}

std::vector<uint8_t> RandomBytes(size_t nSize, uint32_t nSeed)
{
    std::vector<uint8_t> bytes(nSize);
    uint32_t state = nSeed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<uint8_t>(state >> 11);
    }
    return bytes;
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
