// A clock on which time passes only when someone sleeps; every sleep is recorded.
#pragma once

#include "platform/Clock.h"

#include <atomic>
#include <mutex>
#include <numeric>
#include <vector>

class CFakeClock : public IClock {
public:
    uint64_t NowMs() override { return m_now.load(); }
    void Sleep(uint32_t nMs) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sleeps.push_back(nMs);
        m_now += nMs;
    }
    std::vector<uint32_t> Sleeps()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sleeps;
    }
    uint64_t TotalSleptMs()
    {
        const std::vector<uint32_t> sleeps = Sleeps();
        return std::accumulate(sleeps.begin(), sleeps.end(), uint64_t{0});
    }

private:
    std::atomic<uint64_t> m_now{0};
    std::mutex m_mutex;
    std::vector<uint32_t> m_sleeps;
};
