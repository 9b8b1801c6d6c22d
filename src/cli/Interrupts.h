// Ctrl-C, SIGTERM and SIGHUP while a device is being written or read: the window refuses to end while
// its worker runs, and so does the command line. The signals are turned into the window's close
// request, which the window answers with its refusal; the operation goes on, and the command stops
// after it.
#pragma once

// Catches the three signals until the scope ends, then restores what was there before.
class CInterruptScope {
public:
    CInterruptScope();
    ~CInterruptScope();
    CInterruptScope(const CInterruptScope&) = delete;
    CInterruptScope& operator=(const CInterruptScope&) = delete;
};

// True once per signal caught since the last call.
bool TakeInterrupt();
// True when a signal was caught at any time in this run.
bool WasInterrupted();
