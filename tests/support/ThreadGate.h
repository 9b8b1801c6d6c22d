// Holds a thread at a point until the test lets it go.
#pragma once

#include <condition_variable>
#include <mutex>

class CGate {
public:
    // Blocks the arriving thread until Open.
    void Arrive()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_bArrived = true;
        m_cv.notify_all();
        m_cv.wait(lock, [this] { return m_bOpen; });
    }
    void WaitArrived()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_bArrived; });
    }
    void Open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bOpen = true;
        m_cv.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bArrived = false;
    bool m_bOpen = false;
};
