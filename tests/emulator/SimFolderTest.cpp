#include "emulator/SimFolder.h"

#include "emulator/SimTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

std::vector<std::string> Paths(CSimFolder& folder)
{
    std::vector<std::string> paths;
    for (const auto& [path, device] : folder.Scan())
        paths.push_back(path);
    return paths;
}

TEST(SimFolder, FilesPlugUnplugAndReplugDevices)
{
    simtest::CTempSimDir dir;
    CSimFolder folder(dir.Path());
    auto device = folder.Find(dir.File("za1200.json"));
    ASSERT_TRUE(device);
    dir.Remove("za1200.json");
    EXPECT_EQ(folder.Find(dir.File("za1200.json")), nullptr);
    EXPECT_FALSE(device->IsPlugged()) << "the old session is pulled out";
    EXPECT_EQ(Paths(folder).size(), 3u);
    EXPECT_EQ(folder.Find(dir.File("nothing.json")), nullptr);
    EXPECT_EQ(folder.Find("/elsewhere/za2400.json"), nullptr);

    // A rewritten file is a replug.
    auto first = folder.Find(dir.File("za4800.json"));
    ASSERT_TRUE(first);
    dir.WriteVariant("za4800.json", "za4800.json", {{"version", "0x0101"}});
    auto second = folder.Find(dir.File("za4800.json"));
    ASSERT_TRUE(second);
    EXPECT_NE(first, second);
    EXPECT_FALSE(first->IsPlugged());
    EXPECT_EQ(second->Description().nVersion, 0x0101u);

    // A device file that cannot be read is skipped (and named: HostileCliDataTest.SimFolderWithHostileFiles);
    // mended, it plugs in and is no problem any more.
    dir.Write("broken.json", "{\"vendorId\": 1");
    EXPECT_EQ(Paths(folder).size(), 3u);
    dir.Write("broken.json", R"({"vendorId": 1, "productId": 2})");
    EXPECT_EQ(Paths(folder).size(), 4u);
    EXPECT_TRUE(folder.Problems().empty());
}

// The flash file is made whole beside its name and renamed into place on first use, nothing else left
// behind; what an earlier run left is what the next run finds.
TEST(SimFolder, FlashFileIsMadeWholeOnceAndReadAfterwards)
{
    simtest::CTempSimDir dir(false);
    dir.WriteVariant("za1200.json", "dev.json", nlohmann::json::object());
    {
        CSimFolder folder(dir.Path());
        ASSERT_TRUE(folder.Find(dir.File("dev.json")));
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"dev.flash", "dev.json"}));
        EXPECT_EQ(std::filesystem::file_size(dir.File("dev.flash")), 1024u * 1024);
    }
    const std::vector<uint8_t> contents = simtest::Pattern(1024 * 1024, 9);
    dir.Write("dev.flash", std::string(contents.begin(), contents.end()));
    CSimFolder folder(dir.Path());
    auto device = folder.Find(dir.File("dev.json"));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->FlashContents(), contents);
}

// A flash file that cannot be the chip's contents (what a kill during its first creation left) or that
// lies outside the folder is refused with the reason; the device is not plugged in.
TEST(SimFolder, FlashFileThatIsNotTheChipsIsRefused)
{
    struct Case {
        const char* pszFile;  // "flash.file"
        int64_t nExisting;    // bytes of a file already there, or -1
        bool bLinkOut;        // the file is a symbolic link out of the folder
        const char* pszReason;
    };
    const Case cases[] = {
        {"dev.flash", 0, false, "holds 0 bytes"},
        {"dev.flash", 1024 * 1024 + 1, false, "holds 1048577 bytes"},
        {"../dev.flash", -1, false, "outside the device folder"},
        {"dev.flash", -1, true, "outside the device folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszFile) + " " + std::to_string(c.nExisting));
        simtest::CTempSimDir dir(false);
        if (c.nExisting >= 0)
            dir.Write(c.pszFile, std::string(static_cast<size_t>(c.nExisting), '\xff'));
        if (c.bLinkOut)
            std::filesystem::create_symlink("/dev/null", dir.File(c.pszFile));
        dir.WriteVariant("za1200.json", "dev.json", {{"flash", {{"file", c.pszFile}}}});
        CSimFolder folder(dir.Path());
        EXPECT_TRUE(folder.Scan().empty());
        const auto problems = folder.Problems();
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems.begin()->second.find(c.pszReason), std::string::npos) << problems.begin()->second;
        if (c.nExisting >= 0) {
            EXPECT_EQ(std::filesystem::file_size(dir.File(c.pszFile)), static_cast<uintmax_t>(c.nExisting)) << "kept";
        }
    }
}

TEST(SimFolder, FaultUnplugParksTheFile)
{
    simtest::CTempSimDir dir(false);
    dir.WriteVariant("za1200.json", "dev.json", {{"faults", {{"unplugAfterReports", 1}}}});
    CSimFolder folder(dir.Path());
    auto device = folder.Find(dir.File("dev.json"));
    ASSERT_TRUE(device);
    const uint64_t link = device->OpenLink();
    uint8_t report[zelproto::kReportSize] = {zelproto::kReportIdCommand, zelproto::kProtocolVersion, 1,
                                             zelproto::CMD_IDENTIFY};
    EXPECT_EQ(device->Write(link, report), 1);
    EXPECT_EQ(device->Read(link, report, 100), -1);
    EXPECT_FALSE(dir.Exists("dev.json"));
    EXPECT_TRUE(dir.Exists("dev.json.unplugged"));
    EXPECT_TRUE(folder.Scan().empty());
    // Putting the file back plugs the device in again.
    std::filesystem::rename(dir.File("dev.json.unplugged"), dir.File("dev.json"));
    EXPECT_EQ(folder.Scan().size(), 1u);
}

}  // namespace
