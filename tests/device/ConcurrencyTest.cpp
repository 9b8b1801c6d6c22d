// Calls from two threads: the user-interface thread and the worker.
#include "LibraryFixture.h"
#include "support/ThreadGate.h"

#include <atomic>
#include <thread>

namespace {

TEST_F(LibraryTest, TwoThreadsShareADevice)
{
    CZelUsbDevice* d = Device("za1200.json");
    ASSERT_TRUE(EnterDfu(d));
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread ui([&] {
        while (!done) {
            if (!d->IsDeviceAvailable() || d->GetVendorID() != 0x2fe3 || !d->GetDevicePath() || !d->IsHidDfuSupported())
                ++failures;
            EnumZelUsbDevices(false, nullptr);
        }
    });
    for (uint32_t i = 0; i < 16; ++i) {
        const std::vector<uint8_t> block = simtest::Pattern(4096, i);
        EXPECT_TRUE(d->WriteFlash(i * 4096, 4096, block.data(), true));
        EXPECT_EQ(ReadAll(d, i * 4096, 4096), block);
    }
    done = true;
    ui.join();
    EXPECT_EQ(failures.load(), 0);
}

// The removal notice releases the path while the worker is writing: the worker's call ends false,
// the object stays valid memory, and later calls on it fail cleanly.
TEST_F(LibraryTest, ReleaseWhileTheWorkerWrites)
{
    // The worker is held at its Nth report until the test lets it go on.
    std::atomic<int> nWrites{0}, nPauseAt{-1};
    CGate pause;
    onWrite = [&](CHookedLink&, const uint8_t*) {
        if (++nWrites == nPauseAt)
            pause.Arrive();
    };
    CZelUsbDevice* d = Device("za1200.json");
    ASSERT_TRUE(EnterDfu(d));
    const std::vector<uint8_t> image = simtest::Pattern(128 * 1024, 3);
    std::atomic<bool> result{true};
    nPauseAt = nWrites + 200;  // inside the third block
    std::thread worker([&] {
        bool ok = true;
        for (uint32_t offset = 0; offset < image.size() && ok; offset += 4096)
            ok = d->WriteFlash(offset, 4096, image.data() + offset, true);
        result = ok;
    });
    pause.WaitArrived();
    ReleaseZelUsbDevice(Path16("za1200.json").c_str());
    EXPECT_FALSE(d->IsDeviceAvailable()) << "closed at once, while the worker still holds it";
    pause.Open();
    worker.join();
    EXPECT_FALSE(result.load());
    EXPECT_FALSE(d->IsDeviceAvailable()) << "still valid memory once the worker let go";
    // The device itself is fine: a new object finishes the job.
    CZelUsbDevice* again = Device("za1200.json");
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(EnterDfu(again));
    EXPECT_TRUE(again->WriteFlash(0, 4096, image.data(), true));
}

}  // namespace
