#include "emulator/SimFolder.h"

#include "emulator/SimTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

std::vector<std::string> Paths(CSimFolder& folder)
{
    std::vector<std::string> paths;
    for (const auto& [path, device] : folder.Scan())
        paths.push_back(path);
    return paths;
}

TEST(SimFolder, FilesPlugAndUnplugDevices)
{
    simtest::CTempSimDir dir;
    CSimFolder folder(dir.Path());
    EXPECT_EQ(Paths(folder), (std::vector<std::string>{dir.File("za1200.json"), dir.File("za2400.json"),
                                                       dir.File("za3600.json"), dir.File("za4800.json")}));
    auto device = folder.Find(dir.File("za1200.json"));
    ASSERT_TRUE(device);
    dir.Remove("za1200.json");
    EXPECT_EQ(folder.Find(dir.File("za1200.json")), nullptr);
    EXPECT_FALSE(device->IsPlugged()) << "the old session is pulled out";
    EXPECT_EQ(Paths(folder).size(), 3u);
    EXPECT_EQ(folder.Find(dir.File("nothing.json")), nullptr);
    EXPECT_EQ(folder.Find("/elsewhere/za2400.json"), nullptr);
}

TEST(SimFolder, FlashFileIsMadeOnceAndReadAfterwards)
{
    simtest::CTempSimDir dir;
    {
        CSimFolder folder(dir.Path());
        ASSERT_TRUE(folder.Find(dir.File("za1200.json")));
        EXPECT_EQ(std::filesystem::file_size(dir.File("za1200.flash")), 1024u * 1024) << "made on first use";
    }
    // What an earlier run left is what the next run finds.
    std::vector<uint8_t> contents = simtest::Pattern(1024 * 1024, 9);
    {
        std::ofstream out(dir.File("za1200.flash"), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    }
    CSimFolder folder(dir.Path());
    auto device = folder.Find(dir.File("za1200.json"));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->FlashContents(), contents);
}

TEST(SimFolder, BadDeviceFileIsReportedAndSkipped)
{
    simtest::CTempSimDir dir(false);
    dir.Write("broken.json", "{\"vendorId\": 1");
    dir.Write("notes.txt", "not a device");
    CSimFolder folder(dir.Path());
    EXPECT_TRUE(folder.Scan().empty());
    const auto problems = folder.Problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems.begin()->first, dir.File("broken.json"));
    // Mended, it plugs in.
    dir.Write("broken.json", R"({"vendorId": 1, "productId": 2})");
    EXPECT_EQ(folder.Scan().size(), 1u);
    EXPECT_TRUE(folder.Problems().empty());
}

TEST(SimFolder, RewrittenFileIsAReplug)
{
    simtest::CTempSimDir dir;
    CSimFolder folder(dir.Path());
    auto first = folder.Find(dir.File("za4800.json"));
    ASSERT_TRUE(first);
    dir.WriteVariant("za4800.json", "za4800.json", {{"version", "0x0101"}});
    auto second = folder.Find(dir.File("za4800.json"));
    ASSERT_TRUE(second);
    EXPECT_NE(first, second);
    EXPECT_FALSE(first->IsPlugged());
    EXPECT_EQ(second->Description().nVersion, 0x0101u);
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
