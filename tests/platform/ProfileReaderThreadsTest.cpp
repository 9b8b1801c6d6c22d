// The file reader shared by two threads while the file is being replaced.
#include "platform/ProfileReader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <atomic>
#include <thread>
#include <vector>

namespace {

bool ReplaceFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);  // written beside, then renamed over: readers see the old or the new file
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

TEST(ProfileReaderThreadsTest, TwoThreadsReadWhileTheFileIsReplaced)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("Quillon.ini");
    const QByteArray versionA = "[ImageMask]\nCHIP_0001_SUBV_12000100=0x1\n[FlagOffset]\nK=0x3000\n";
    const QByteArray versionB = "[FlagOffset]\nK=0x2000\n[ImageMask]\nCHIP_0001_SUBV_12000100=0xffff\nPad=xxxx\n";
    ASSERT_TRUE(ReplaceFile(path, versionA));

    std::unique_ptr<IProfileReader> reader = CreateFileProfileReader();
    std::atomic<bool> bStop{false};
    std::atomic<int> nBad{0};
    std::atomic<int> nReads{0};
    auto readLoop = [&] {
        while (!bStop.load()) {
            const uint32_t mask = reader->GetPrivateProfileInt("ImageMask", "CHIP_0001_SUBV_12000100", -1, path);
            const QString flag = reader->GetPrivateProfileString("flagoffset", "k", "", 256, path);
            if ((mask != 0x1 && mask != 0xffff) || (flag != "0x3000" && flag != "0x2000"))
                ++nBad;
            ++nReads;
        }
    };
    std::vector<std::thread> readers;
    readers.emplace_back(readLoop);
    readers.emplace_back(readLoop);
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(ReplaceFile(path, i % 2 ? versionA : versionB));
    while (nReads.load() < 100)
        std::this_thread::yield();
    bStop = true;
    for (std::thread& t : readers)
        t.join();
    EXPECT_EQ(nBad.load(), 0);
    // The last replacement (i = 199) wrote version A.
    EXPECT_EQ(reader->GetPrivateProfileInt("ImageMask", "CHIP_0001_SUBV_12000100", -1, path), 0x1u);
}

}  // namespace
