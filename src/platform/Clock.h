// Time and sleeping, injectable so that tests never really wait.
#pragma once

#include <cstdint>

class IClock {
public:
    virtual ~IClock() = default;
    virtual uint64_t NowMs() = 0;  // monotonic milliseconds
    virtual void Sleep(uint32_t nMs) = 0;
};

// The process-wide real clock.
IClock& SystemClock();
