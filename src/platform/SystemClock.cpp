// The real clock: monotonic time and real sleeping.
#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace {

class CSystemClock : public IClock {
public:
    uint64_t NowMs() override
    {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
    }
    void Sleep(uint32_t nMs) override { std::this_thread::sleep_for(std::chrono::milliseconds(nMs)); }
};

}  // namespace

IClock& SystemClock()
{
    static CSystemClock clock;
    return clock;
}
